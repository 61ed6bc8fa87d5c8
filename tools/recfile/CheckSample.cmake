# Builds INPUT with RECFILE into OUTPUT and fails unless it equals EXPECTED.
execute_process(COMMAND ${RECFILE} build ${INPUT} ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "recfile build ${INPUT} failed with ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${EXPECTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} is not what 'recfile build ${INPUT}' writes; rebuild and commit it")
endif()
