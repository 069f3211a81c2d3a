# Writes the version header: the project's version, and the commit when the
# sources are a git checkout. Rewritten only when its text changes, so a build
# after a new commit tells the new commit without rebuilding everything else.
execute_process(COMMAND git rev-parse --short HEAD WORKING_DIRECTORY "${SOURCE_DIR}"
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  set(commit "")
endif()
set(text "#pragma once\n#define KALVORY_VERSION \"${VERSION}\"\n#define KALVORY_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUTPUT}" "${text}")
endif()
