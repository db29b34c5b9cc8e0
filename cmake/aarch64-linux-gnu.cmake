# Cross-compiles tallyfix for 64-bit ARM Linux with Debian's
# g++-aarch64-linux-gnu, and runs its tests under qemu-user when it is
# installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
set(qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
