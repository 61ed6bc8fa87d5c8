# Read by cpack before it packs: every file time in the ZIP is
# SOURCE_DATE_EPOCH, which is the commit's time unless the caller set one,
# so two builds of one commit give the same archive.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CPACK_IMEX_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  if(NOT git_result EQUAL 0 OR NOT commit_time MATCHES "^[0-9]+$")
    # Not a git checkout: 1980-01-01, the earliest time a ZIP can hold.
    set(commit_time 315532800)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
