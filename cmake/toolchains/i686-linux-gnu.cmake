# 32-bit x86. Linked statically: under qemu-i386 a dynamically linked program
# hangs in the child of fork, which the tests use to start the converter.
set(CROSS_PROCESSOR i686)
set(CROSS_QEMU qemu-i386)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
