# 32-bit Arm with hardware floating point (armhf), as on 32-bit Raspberry Pi systems.
set(CROSS_PROCESSOR arm)
set(CROSS_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
