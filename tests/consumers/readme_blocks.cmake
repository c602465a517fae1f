# Reading the code blocks of a markdown file, for the README's tests.

# code_block(<text> <start> <what> <body variable> <end variable>): the code
# block of <text> whose first line starts at character <start> (just after
# its opening fence), every line with its newline, and the character just
# past its last line. Fails, naming <what>, if the block never ends.
function(code_block text start what body_variable end_variable)
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "\n```\n" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "${what} never ends")
  endif()
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${rest}" 0 ${end} body)
  math(EXPR end "${start} + ${end}")
  set(${body_variable} "${body}" PARENT_SCOPE)
  set(${end_variable} ${end} PARENT_SCOPE)
endfunction()
