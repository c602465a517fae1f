# Runs compare_programs over both programs and checks that it succeeds and
# shows, in order, cache_baseline's report line, cache_check's PASS line and
# report line, then the table:
#   cmake -DCOMPARE=... -DBASELINE=... -DCHECK=... -P compare_programs_output.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${COMPARE} ${BASELINE} ${CHECK}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "compare_programs failed (${status}):\n${errors}")
endif()
set(line "[^\n]*\n")
set(expected
  "^{\"label\":\"before\",${line}"
  "PASS cache: 8 MiB byte eviction${line}"
  "{\"label\":\"after\",${line}"
  "\n"
  "\\| measure +\\| +before \\| +after \\| after/before \\|\n")
string(JOIN "" expected ${expected})
if(NOT output MATCHES "${expected}")
  message(FATAL_ERROR "compare_programs printed:\n${output}")
endif()
