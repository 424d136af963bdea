# cpack makes the .deb and the .tar.gz in a build folder (cpack -G DEB makes
# the .deb alone), and the .zip in a Windows build folder.
set(CPACK_PACKAGE_NAME movie-extract)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description in lines of at most 80 characters; CPack puts the
# summary above it and indents it as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION "Reads the movie BOOK.MOV in the current directory and writes one
colour-mapped TGA image per displayed picture (00000000.tga, ...) and
BOOK.WAV with the whole sound track. Damaged movies are converted as far
as they go, and every fault is reported with the file and the reason.")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "movie-extract maintainers <maintainers@movie-extract.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # A .zip of the program, the README, the licence and the changelog.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME movie-extract-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION .)
  include(CPack)
  return()
endif()
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the program, its manual page, the licence and the changelog go into
# the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)

# The licence in Debian's machine-readable form, and the changelog, where
# Debian looks for them; the .tar.gz carries the same files.
# The package has no web page, so not the notice of what the page bundles.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE LICENSE_TEXT)
string(REGEX REPLACE "\n---\n.*$" "" LICENSE_TEXT "${LICENSE_TEXT}")
string(REGEX REPLACE "\n+$" "" LICENSE_TEXT "${LICENSE_TEXT}")
string(REGEX REPLACE "\n\n" "\n.\n" LICENSE_TEXT "${LICENSE_TEXT}")
string(REGEX REPLACE "\n" "\n " LICENSE_TEXT "${LICENSE_TEXT}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: movie-extract

Files: *
Copyright: 2026 the movie-extract authors
License: Expat
 ${LICENSE_TEXT}
")
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# A native Debian package keeps a Debian changelog as changelog.gz: one entry
# for this version, then the project's own changelog as the older record.
string(TIMESTAMP CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md CHANGELOG_TEXT)
file(WRITE ${CMAKE_BINARY_DIR}/changelog
"movie-extract (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}; the changes of every release follow.

 -- ${CPACK_PACKAGE_CONTACT}  ${CHANGELOG_DATE}

Old Changelog:
${CHANGELOG_TEXT}")
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_BINARY_DIR}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/changelog
    VERBATIM)
  # A target named after the file it makes would depend on itself.
  add_custom_target(debian-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${CMAKE_BINARY_DIR}/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
