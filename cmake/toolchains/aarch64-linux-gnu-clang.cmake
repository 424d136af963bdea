# 64-bit Arm with Clang, the compiler of most aarch64 laptops, using the
# libraries of Debian's GNU cross compiler.
set(CROSS_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${CROSS_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${CROSS_TRIPLE})
