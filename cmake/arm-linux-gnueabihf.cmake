# Cross-compiles tallyfix for 32-bit ARM Linux with hardware floating point
# (Raspberry Pi OS) with Debian's g++-arm-linux-gnueabihf, and runs its tests
# under qemu-user when it is installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(triple arm-linux-gnueabihf)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
