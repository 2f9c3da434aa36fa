# CPack: a Debian package from a Linux build, a ZIP from a Windows build.
#   cd build && cpack
set(CPACK_PACKAGE_NAME quoril)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quoril developers")
set(CPACK_PACKAGE_CONTACT "${QUORIL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "replace 8-bit characters by HTML character references")
# Wrapped as Debian wants it; CPack indents the lines.
set(CPACK_PACKAGE_DESCRIPTION "\
Quoril reads a file of at most 65,536 bytes, replaces every byte 0x80 to
0xFF by its HTML decimal character reference, drops 0x00 bytes and writes
the result to a second file, reporting how many bytes it replaced. Its
output suits Latin-1 and Windows-1252 text.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME quoril-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME quoril-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  # quoril_<version>_<arch>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The program is linked statically and needs no other package.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
endif()

include(CPack)
