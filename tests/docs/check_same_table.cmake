# Fails unless the documents FIRST and SECOND hold the same table, the one whose header row
# starts with HEADER: a table that two documents show must read the same in both.
# Usage: cmake -DFIRST=README.md -DSECOND=docs/players.md "-DHEADER=| your ..." -P check_same_table.cmake
foreach(document FIRST SECOND)
  file(READ "${${document}}" text)
  string(FIND "${text}" "\n${HEADER}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${${document}} holds no table that starts with \"${HEADER}\"")
  endif()
  string(SUBSTRING "${text}" ${start} -1 text)
  # The table: the header row and every row after it that starts with "|".
  string(REGEX MATCH "^\n(\\|[^\n]*\n)+" table_${document} "${text}")
endforeach()
if(NOT table_FIRST STREQUAL table_SECOND)
  message(FATAL_ERROR "The table differs between ${FIRST} and ${SECOND}:\n${table_FIRST}\n${table_SECOND}")
endif()
message(STATUS "OK: ${FIRST} and ${SECOND} show the same table")
