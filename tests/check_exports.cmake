# check_exports.cmake: fails unless a shared library exports exactly the
# functions its version script names, as text symbols, and nothing else.
# Usage: cmake -DNM=<nm> -DLIB=<library> -DEXPECTED=<version script> -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${EXPECTED} script)
string(REGEX MATCH "global:([^}]*)local:" globals "${script}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_1}")
list(SORT names)

execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}: ${err}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(found "")
set(unexpected "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>"
  if(line MATCHES "^[0-9a-fA-F]* *T (.+)$" AND CMAKE_MATCH_1 IN_LIST names)
    list(APPEND found "${CMAKE_MATCH_1}")
  else()
    list(APPEND unexpected "${line}")
  endif()
endforeach()
list(SORT found)

if(unexpected)
  list(JOIN unexpected "\n  " shown)
  message(FATAL_ERROR "${LIB} exports symbols besides its interface:\n  ${shown}")
endif()
if(NOT found STREQUAL names)
  message(FATAL_ERROR "expected ${names} as text symbols, found: ${found}")
endif()
message(STATUS "exports: ${found}")
