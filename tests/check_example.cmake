# Renders the example page with the CLI and compares it byte for byte with
# the page checked in beside it.
execute_process(COMMAND ${CLI} ${TEMPLATE} ${DATA} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mervalt exited with ${rc}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/products.actual.html "${out}")
  message(FATAL_ERROR "the rendered page differs from ${EXPECTED}; see products.actual.html")
endif()
