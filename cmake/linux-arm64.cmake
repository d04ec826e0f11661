# ARM64 (AArch64) Linux cross build with Debian's g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools built for ARM64 run under qemu's user-mode emulation here,
# with the cross C library as the root of their dynamic loader.
find_program(POINTILLO_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(POINTILLO_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${POINTILLO_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
endif()
