# Read by cpack before it packs: every file time in the ZIP is
# SOURCE_DATE_EPOCH, which is the commit's time unless the caller set one,
# so two builds of one commit give the same archive. Where git cannot tell
# that time, packing stops and says why: a made-up date would pass for the
# commit's.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_program(IMEX_GIT git)
  if(NOT IMEX_GIT)
    message(FATAL_ERROR "The ZIP's file times are the commit's, and git is not installed to tell it "
                        "(scripts/setup.sh installs it); or set SOURCE_DATE_EPOCH to the time to use.")
  endif()
  execute_process(COMMAND ${IMEX_GIT} -C ${CPACK_IMEX_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_VARIABLE git_error ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT git_result EQUAL 0 OR NOT commit_time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "The ZIP's file times are the commit's, and git cannot tell it for "
                        "${CPACK_IMEX_SOURCE_DIR} (${git_error}); pack in a git checkout, or set "
                        "SOURCE_DATE_EPOCH to the time to use.")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
