# Windows on x86-64, with Debian's MinGW-w64 cross compiler (the -posix
# variant of g++-mingw-w64-x86-64). The program is linked statically, so that
# it runs with no DLL beside it; under Debian it runs with wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The linker stamps no time into the .exe, so that a build can be repeated
# byte for byte.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
# GCC cannot align the stack beyond 16 bytes on 64-bit Windows, yet spills
# 32- and 64-byte vectors there with aligned moves, which fault. The
# assembler makes every aligned vector move an unaligned one, which is as
# fast on aligned data.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
