# check_output.cmake: runs a program and compares what it prints with a file.
# Usage: cmake -DPROGRAM=<program> -DEXPECTED=<file> -P check_output.cmake
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed (${rc}):\n${out}\n${err}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} printed:\n${out}\nexpected:\n${expected}")
endif()
