# 64-bit big-endian IBM Z.
set(CROSS_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
