# A cross build with one of Debian's cross compilers (g++-<triple>), for the
# processor named by CROSS_PROCESSOR, with the triple CROSS_TRIPLE
# (<processor>-linux-gnu unless set). Programs and tests run under qemu-user
# (CROSS_QEMU, qemu-<processor> unless set) with the target's libraries from
# /usr/<triple>.
if(NOT CROSS_TRIPLE)
  set(CROSS_TRIPLE ${CROSS_PROCESSOR}-linux-gnu)
endif()
if(NOT CROSS_QEMU)
  set(CROSS_QEMU qemu-${CROSS_PROCESSOR})
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU} -L /usr/${CROSS_TRIPLE})
