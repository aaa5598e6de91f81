# Runs the scenario program on one file, with the options OPTIONS (separated
# by commas) when given, and checks its exit status (through EMULATOR, when
# given, in a cross build).
string(REPLACE "," ";" OPTIONS "${OPTIONS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${OPTIONS} ${SCENARIO} RESULT_VARIABLE status
  OUTPUT_QUIET
  ERROR_VARIABLE errors)
if(NOT status EQUAL EXPECTED)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED}: ${errors}")
endif()
