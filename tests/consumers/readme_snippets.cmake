# Compiles every ```cpp block of README.md, each as a translation unit of its
# own, so that every snippet a reader copies compiles as shown (with its own
# includes and declarations):
#   cmake -DREADME=<README.md> -DCXX_COMPILER=<c++> -DINCLUDE_DIR=<dir>
#         -DWORK_DIR=<dir> -P readme_snippets.cmake
# INCLUDE_DIR is the folder holding vesk/, as an installed copy gives it.
# Errors point at the README's own lines (each file starts with a #line).
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/readme_blocks.cmake)

file(READ ${README} readme)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

set(opening "\n```cpp\n")
string(LENGTH "${opening}" opening_length)
set(offset 0)
set(compiled 0)
set(failures "")
while(TRUE)
  string(SUBSTRING "${readme}" ${offset} -1 rest)
  string(FIND "${rest}" "${opening}" start)
  if(start EQUAL -1)
    break()
  endif()
  math(EXPR body_start "${offset} + ${start} + ${opening_length}")
  # The block's first line: the one after its opening fence's.
  string(SUBSTRING "${readme}" 0 ${body_start} before)
  string(REGEX MATCHALL "\n" newlines "${before}")
  list(LENGTH newlines first_line)
  math(EXPR first_line "${first_line} + 1")
  code_block("${readme}" ${body_start}
    "${README}:${first_line}: the ```cpp block" body offset)

  set(source ${WORK_DIR}/readme_line_${first_line}.cc)
  file(WRITE ${source} "#line ${first_line} \"${README}\"\n${body}")
  execute_process(
    COMMAND ${CXX_COMPILER} -std=c++20 -Wall -Wextra -Wpedantic -Werror
      -I${INCLUDE_DIR} -fsyntax-only ${source}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    string(APPEND failures
      "${README}:${first_line}: this ```cpp block does not compile as a "
      "translation unit of its own:\n${output}\n")
  endif()
  math(EXPR compiled "${compiled} + 1")
endwhile()

if(compiled EQUAL 0)
  message(FATAL_ERROR "${README} has no ```cpp block")
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "${compiled} ```cpp blocks of ${README} compile")
