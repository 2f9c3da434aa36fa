# The files a Debian package needs beside the program: the manual page and
# the changelog compressed with gzip -9n (no name, no time: the same bytes
# every build), and the machine-readable copyright file.
find_program(QUORIL_GZIP gzip REQUIRED)
string(TIMESTAMP QUORIL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(packaging/debian/changelog.in
  ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
configure_file(packaging/debian/copyright
  ${CMAKE_BINARY_DIR}/debian/copyright COPYONLY)
configure_file(${CMAKE_BINARY_DIR}/quoril.1
  ${CMAKE_BINARY_DIR}/man/quoril.1 COPYONLY)

foreach(file man/quoril.1 debian/changelog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${file}.gz
    COMMAND ${QUORIL_GZIP} -9nkf ${CMAKE_BINARY_DIR}/${file}
    DEPENDS ${CMAKE_BINARY_DIR}/${file}
    VERBATIM)
  list(APPEND compressed ${CMAKE_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(quoril_debian_files ALL DEPENDS ${compressed})
