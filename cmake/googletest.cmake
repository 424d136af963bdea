# GoogleTest for the tests: the installed package, or else the sources that
# Debian's libgtest-dev ships, built with this build's compiler (so a cross
# build gets one for its target). Without either, the tests are off and
# everything else still builds.
set(MOVIE_EXTRACT_HAVE_GTEST OFF)
if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
  find_package(GTest QUIET)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, used when no built package is found")
  if(GTest_FOUND)
    set(MOVIE_EXTRACT_HAVE_GTEST ON)
  elseif(EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(MOVIE_EXTRACT_HAVE_GTEST ON)
  else()
    message(STATUS "GoogleTest not found (Debian package libgtest-dev): the tests are off")
  endif()
endif()
