# Reproducible builds: the same commit gives the same bytes, whatever the
# folder and the time of the build.
#
# SOURCE_DATE_EPOCH, when set, is the one date of every dated artifact; when
# it is not, it is the date of the last commit, and in a source tree without
# git the date of this release below. The archives (CPack) take their file
# times from it, and so do the dates written into the package.
set(QUORIL_RELEASE_EPOCH 1796947200) # 2026-12-11 00:00 UTC

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QUORIL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(QUORIL_SOURCE_DATE_EPOCH ${QUORIL_RELEASE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(
      COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE commit_epoch
      OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE git_result
      ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_epoch MATCHES "^[0-9]+$")
      set(QUORIL_SOURCE_DATE_EPOCH ${commit_epoch})
    endif()
  endif()
  # string(TIMESTAMP) reads it from the environment.
  set(ENV{SOURCE_DATE_EPOCH} ${QUORIL_SOURCE_DATE_EPOCH})
endif()

# cpack runs later, in an environment of its own: it gets the date through
# its project configuration file.
file(WRITE ${CMAKE_BINARY_DIR}/QuorilCPackDate.cmake
  "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n"
  "  set(ENV{SOURCE_DATE_EPOCH} ${QUORIL_SOURCE_DATE_EPOCH})\n"
  "endif()\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/QuorilCPackDate.cmake)

# No build folder in the binaries, and no link time in a Windows program.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
endif()
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
