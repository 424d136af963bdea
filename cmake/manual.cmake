# The manual page carries the version; it is installed gzipped, as Debian
# keeps manual pages.
configure_file(docs/movie-extract.1.in ${CMAKE_BINARY_DIR}/movie-extract.1 @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/movie-extract.1.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_BINARY_DIR}/movie-extract.1 > ${CMAKE_BINARY_DIR}/movie-extract.1.gz
    DEPENDS ${CMAKE_BINARY_DIR}/movie-extract.1
    VERBATIM)
  add_custom_target(manual ALL DEPENDS ${CMAKE_BINARY_DIR}/movie-extract.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/movie-extract.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${CMAKE_BINARY_DIR}/movie-extract.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
