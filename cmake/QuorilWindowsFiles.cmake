# What the Windows program and its ZIP carry besides the code: a version
# resource and an application manifest in quoril.exe, and the README,
# LICENSE and CHANGELOG as .txt files with CRLF line ends, with the manual
# page rendered as plain text (quoril.txt) where mandoc is installed.
enable_language(RC)
configure_file(packaging/windows/quoril.rc.in
  ${CMAKE_BINARY_DIR}/windows/quoril.rc @ONLY)
configure_file(packaging/windows/quoril.manifest
  ${CMAKE_BINARY_DIR}/windows/quoril.manifest @ONLY)
target_sources(quoril PRIVATE ${CMAKE_BINARY_DIR}/windows/quoril.rc)

foreach(name README LICENSE CHANGELOG)
  if(name STREQUAL "LICENSE")
    set(source LICENSE)
  else()
    set(source ${name}.md)
  endif()
  configure_file(${source} ${CMAKE_BINARY_DIR}/windows/${name}.txt
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/windows/${name}.txt DESTINATION .)
endforeach()

find_program(QUORIL_MANDOC mandoc)
if(QUORIL_MANDOC)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/windows/quoril.txt
    COMMAND ${CMAKE_COMMAND} -DMANDOC=${QUORIL_MANDOC}
      -DPAGE=${CMAKE_BINARY_DIR}/quoril.1
      -DTEXT=${CMAKE_BINARY_DIR}/windows/quoril.txt
      -P ${PROJECT_SOURCE_DIR}/cmake/QuorilManualText.cmake
    DEPENDS ${CMAKE_BINARY_DIR}/quoril.1 ${PROJECT_SOURCE_DIR}/cmake/QuorilManualText.cmake
    VERBATIM)
  add_custom_target(quoril_manual_text ALL
    DEPENDS ${CMAKE_BINARY_DIR}/windows/quoril.txt)
  install(FILES ${CMAKE_BINARY_DIR}/windows/quoril.txt DESTINATION .)
else()
  message(STATUS "mandoc not found: the ZIP will hold no quoril.txt")
endif()
