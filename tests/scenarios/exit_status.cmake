# Runs the scenario program on one file and checks its exit status (through
# EMULATOR, when given, in a cross build).
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${SCENARIO} RESULT_VARIABLE status OUTPUT_QUIET
  ERROR_VARIABLE errors)
if(NOT status EQUAL EXPECTED)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED}: ${errors}")
endif()
