# Checks that the example in README.md is use_the_cache.cc, character for
# character, so that the README shows code a test builds and runs:
#   cmake -DREADME=<README.md> -DEXAMPLE=<use_the_cache.cc> -P readme_example.cmake
# The example is the first ```cpp block after the line naming the file.
cmake_minimum_required(VERSION 3.25)

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
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "\n```\n" end)
if(end EQUAL -1)
  message(FATAL_ERROR "the example's code block in ${README} never ends")
endif()
math(EXPR end "${end} + 1")
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "the example in ${README} differs from ${EXAMPLE}; "
                      "copy the file into the README:\n${shown}")
endif()
