# The sanitized suite: builds the whole project again with clang, under
# AddressSanitizer and UndefinedBehaviorSanitizer, runs every test there and
# fuzzes the encoder and the argument checks for a bounded time.
option(QUORIL_SANITIZED_SUITE "Run the sanitized suite and the fuzzers when clang is installed" ON)
if(NOT QUORIL_SANITIZED_SUITE)
  return()
endif()

find_program(QUORIL_CLANGXX clang++)
if(QUORIL_CLANGXX)
  execute_process(
    COMMAND ${QUORIL_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
    OUTPUT_VARIABLE fuzzer_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT QUORIL_CLANGXX OR NOT EXISTS "${fuzzer_runtime}")
  quoril_skip_suite(sanitized_suite "it needs clang and libclang-rt-14-dev")
  return()
endif()

include(ExternalProject)
set(sanitized_dir ${CMAKE_BINARY_DIR}/sanitized)
ExternalProject_Add(quoril_sanitized
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${sanitized_dir}
  CMAKE_ARGS
    -DCMAKE_CXX_COMPILER=${QUORIL_CLANGXX}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DQUORIL_WERROR=${QUORIL_WERROR}
    -DQUORIL_SANITIZE=ON
    -DQUORIL_FUZZ=ON
    -DQUORIL_SANITIZED_SUITE=OFF
    -DQUORIL_WINDOWS_SUITE=OFF
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
add_dependencies(end_to_end_tests quoril_sanitized)

add_test(NAME sanitized_suite
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${sanitized_dir}
    --output-on-failure -j2)
