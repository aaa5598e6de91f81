# Runs the scenario program on one file and checks its exit status.
execute_process(COMMAND ${PROGRAM} ${SCENARIO} RESULT_VARIABLE status OUTPUT_QUIET
  ERROR_VARIABLE errors)
if(NOT status EQUAL EXPECTED)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED}: ${errors}")
endif()
