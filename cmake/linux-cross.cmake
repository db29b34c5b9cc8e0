# What the Linux cross toolchains share: Debian's compiler for the triple, its
# libraries under /usr/<triple>, and qemu-user to run what it builds.
set(CMAKE_C_COMPILER ${triple}-gcc) # GoogleTest's project asks for C too
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(QEMU ${qemu})
if(QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU} -L /usr/${triple})
endif()
