# Warnings for the project's own targets. QUORIL_WERROR turns them into
# errors; it is on by default when the CI variable is set, so the CI run
# and the README's test command stay one and the same command.
if(DEFINED ENV{CI})
  set(_quoril_werror_default ON)
else()
  set(_quoril_werror_default OFF)
endif()
option(QUORIL_WERROR "Treat compiler warnings as errors" ${_quoril_werror_default})

add_library(quoril_warnings INTERFACE)
if(MSVC)
  target_compile_options(quoril_warnings INTERFACE /W4 $<$<BOOL:${QUORIL_WERROR}>:/WX>)
else()
  target_compile_options(quoril_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    -Wformat-security -Wundef -Wcast-qual -Wold-style-cast
    $<$<BOOL:${QUORIL_WERROR}>:-Werror>)
endif()
