# Registers a test that says plainly, as a skipped test, why a suite whose
# tools are missing did not run.
function(quoril_skip_suite name reason)
  message(STATUS "${name} skipped: ${reason}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E echo "${name} skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped")
endfunction()
