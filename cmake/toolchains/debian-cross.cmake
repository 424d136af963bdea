# A cross build with one of Debian's cross compilers (g++-<target>-linux-gnu),
# for the processor named by CROSS_PROCESSOR. Programs and tests run under
# qemu-user (qemu-<target>) with the target's libraries from
# /usr/<target>-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${CROSS_PROCESSOR}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_PROCESSOR}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_PROCESSOR}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CROSS_PROCESSOR} -L /usr/${CROSS_PROCESSOR}-linux-gnu)
