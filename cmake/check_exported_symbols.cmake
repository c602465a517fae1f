# Fails when code outside vesk's libraries uses a symbol that a shared build
# of them would not export, so that a static build catches what would
# otherwise only fail to link with -DBUILD_SHARED_LIBS=ON:
#   cmake -DREADELF=<readelf> -DUSERS=<archive>,... -DLIBRARIES=<archive>,...
#         -P check_exported_symbols.cmake
# LIBRARIES are vesk's static libraries, compiled with hidden visibility as
# the shared ones are: a symbol they define with hidden visibility is one the
# shared libraries keep private. USERS are static libraries that link them
# (the tests' support code): none of their undefined symbols may be one.
cmake_minimum_required(VERSION 3.25)

# symbols(<file> <binding regex> <visibility regex> <section regex> <out>):
# the names of the symbols of <file>'s symbol tables that match.
function(symbols file binding visibility section out)
  execute_process(COMMAND ${READELF} -sW ${file}
    RESULT_VARIABLE status OUTPUT_VARIABLE table ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${READELF} -sW ${file} failed:\n${error}")
  endif()
  # Num: Value Size Type Bind Vis Ndx Name
  string(REGEX MATCHALL
    "\n *[0-9]+: [0-9a-f]+ +[0-9]+ +[A-Z_]+ +${binding} +${visibility} +${section} +[^\n]+"
    lines "${table}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

string(REPLACE "," ";" USERS "${USERS}")
string(REPLACE "," ";" LIBRARIES "${LIBRARIES}")

set(private)
foreach(library IN LISTS LIBRARIES)
  symbols(${library} "(GLOBAL|WEAK)" "HIDDEN" "[0-9]+" hidden)
  list(APPEND private ${hidden})
endforeach()
if(NOT private)
  message(FATAL_ERROR "no hidden symbol in ${LIBRARIES}: are they compiled "
                      "with hidden visibility?")
endif()

set(failures)
foreach(user IN LISTS USERS)
  symbols(${user} "(GLOBAL|WEAK)" "[A-Z]+" "UND" needed)
  foreach(name IN LISTS needed)
    if(name IN_LIST private)
      list(APPEND failures "${user} uses ${name}")
    endif()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " failures)
  message(FATAL_ERROR "symbols a shared build does not export (mark their "
                      "declarations VESK_EXPORT, or define them inline):\n  "
                      "${failures}")
endif()
