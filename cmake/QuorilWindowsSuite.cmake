# The Windows suite: builds quoril.exe with MinGW-w64 and runs the
# end-to-end tests against it under Wine. The 32-bit program is built as a
# check only; these machines cannot run 32-bit Windows programs.
option(QUORIL_WINDOWS_SUITE "Run the Windows suite when MinGW-w64 and Wine are installed" ON)
if(NOT QUORIL_WINDOWS_SUITE)
  return()
endif()

find_program(QUORIL_MINGW64 x86_64-w64-mingw32-g++-posix)
find_program(QUORIL_MINGW32 i686-w64-mingw32-g++-posix)
find_program(QUORIL_WINE64 wine64 PATHS /usr/lib/wine)
find_program(QUORIL_WINESERVER wineserver PATHS /usr/lib/wine)

if(NOT QUORIL_MINGW64 OR NOT QUORIL_MINGW32 OR NOT QUORIL_WINE64 OR NOT QUORIL_WINESERVER)
  quoril_skip_suite(windows_suite "it needs g++-mingw-w64-x86-64-posix, g++-mingw-w64-i686-posix and wine64")
  return()
endif()

include(ExternalProject)
foreach(arch x86_64 i686)
  ExternalProject_Add(quoril_windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows-${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-${arch}.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DQUORIL_WERROR=${QUORIL_WERROR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  add_dependencies(end_to_end_tests quoril_windows_${arch})
endforeach()

set(windows_dir ${CMAKE_BINARY_DIR}/windows-x86_64)
set(wine_env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all)

# One persistent Wine server and a ready prefix for the whole suite,
# stopped after its last test (see wine_server.sh for why).
add_test(NAME windows_wine_start
  COMMAND ${CMAKE_COMMAND} -E env ${wine_env}
    bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_server.sh start
      ${QUORIL_WINESERVER} ${QUORIL_WINE64})
add_test(NAME windows_wine_stop
  COMMAND ${CMAKE_COMMAND} -E env ${wine_env}
    bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_server.sh stop ${QUORIL_WINESERVER})
# Alone: wineboot waits for Wine's services with time limits of its own,
# which a machine busy with the other tests can overrun.
set_tests_properties(windows_wine_start PROPERTIES FIXTURES_SETUP wine
  RUN_SERIAL TRUE)
set_tests_properties(windows_wine_stop PROPERTIES FIXTURES_CLEANUP wine)

add_test(NAME windows_end_to_end COMMAND end_to_end_tests)
set_tests_properties(windows_end_to_end PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_env};QUORIL_TARGET=windows;QUORIL_LAUNCHER=${QUORIL_WINE64};QUORIL_PROGRAM=${windows_dir}/quoril.exe;QUORIL_HOLD=${windows_dir}/tests/quoril_hold.exe")

add_test(NAME windows_package_zip
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh zip
    ${CMAKE_CPACK_COMMAND} ${windows_dir} ${PROJECT_SOURCE_DIR} ${QUORIL_WINE64})
set_tests_properties(windows_package_zip PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_env}")
