# Checks that the example in README.md is use_the_cache.cc, character for
# character, so that the README shows code a test builds and runs:
#   cmake -DREADME=<README.md> -DEXAMPLE=<use_the_cache.cc> -P readme_example.cmake
# The example is the first ```cpp block after the line naming the file.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/readme_blocks.cmake)

file(READ ${README} readme)
file(READ ${EXAMPLE} example)
set(marker "<!-- tests/consumers/use_the_cache.cc -->\n```cpp\n")
string(FIND "${readme}" "${marker}" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no ```cpp block after the line\n"
                      "<!-- tests/consumers/use_the_cache.cc -->")
endif()
string(LENGTH "${marker}" marker_length)
math(EXPR start "${start} + ${marker_length}")
code_block("${readme}" ${start} "the example's code block in ${README}"
  shown end)
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "the example in ${README} differs from ${EXAMPLE}; "
                      "copy the file into the README:\n${shown}")
endif()
