# Driver of the consumer tests, run as
#   cmake -DSTEP=<step> -DWORK_DIR=<dir> ... -P consumer_test.cmake
# Each step builds with the compiler, generator, build type and flags of the
# enclosing build (CXX_COMPILER, GENERATOR, MAKE_PROGRAM, BUILD_TYPE,
# CXX_FLAGS, LINKER_FLAGS) and fails the test with a message at the first
# problem.
#
# install        configures vesk from SOURCE_DIR with nothing but its two
#                libraries, builds it and installs it into WORK_DIR/prefix,
#                then checks what was installed
# find_package   builds and runs the consumer in installed/ against that
#                prefix
# pkg_config     compiles use_the_cache.cc with the flags
#                `PKG_CONFIG --cflags --libs vesk` gives for that prefix, and
#                runs it
# subdirectory   builds and runs the consumer in subdirectory/, which adds
#                vesk from SOURCE_DIR (with FETCHCONTENT=ON through
#                FetchContent), and checks that vesk's warning flags stay off
#                the consumer's compile line while C++20 reaches it
cmake_minimum_required(VERSION 3.25)

set(consumers_dir ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)

# run(<what> COMMAND...): runs a command, failing with its output if it fails.
function(run what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
endfunction()

set(toolchain
  -G ${GENERATOR}
  -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")

# build_project(<source> <binary> [-D...]): configures and builds a project.
function(build_project source binary)
  file(REMOVE_RECURSE ${binary})
  run("configuring ${source}"
    ${CMAKE_COMMAND} -S ${source} -B ${binary} ${toolchain} ${ARGN})
  run("building ${source}" ${CMAKE_COMMAND} --build ${binary} -j2)
endfunction()

# run_example(<program>): runs a build of use_the_cache.cc.
function(run_example program)
  run("running ${program}" ${program})
  if(NOT run_output STREQUAL "412.5 x 96.0\n")
    message(FATAL_ERROR "${program} printed:\n${run_output}")
  endif()
endfunction()

if(STEP STREQUAL "install")
  set(build ${WORK_DIR}/vesk-build)
  build_project(${SOURCE_DIR} ${build}
    -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_PROGRAMS=OFF
    -DVESK_BUILD_EXAMPLES=OFF -DVESK_BUILD_BENCHMARKS=OFF)
  file(REMOVE_RECURSE ${prefix})
  run("installing vesk" ${CMAKE_COMMAND} --install ${build} --prefix ${prefix})

  # The headers of cache/ and nothing else of the source tree, the two
  # libraries, the CMake package and the pkg-config file.
  file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
  set(libraries)
  foreach(file IN LISTS installed)
    if(file MATCHES "\\.h$" AND NOT file MATCHES "^include/vesk/cache/[^/]+\\.h$")
      message(FATAL_ERROR "header installed outside include/vesk/cache: ${file}")
    elseif(file MATCHES "baseline")
      message(FATAL_ERROR "part of the baseline cache installed: ${file}")
    elseif(file MATCHES "\\.(a|so)$")
      get_filename_component(name ${file} NAME)
      list(APPEND libraries ${name})
    endif()
  endforeach()
  list(SORT libraries)
  if(NOT libraries STREQUAL "libvesk_cache.a;libvesk_key.a")
    message(FATAL_ERROR "installed libraries: ${libraries}")
  endif()
  foreach(expected IN ITEMS include/vesk/cache/measurement_cache.h
                            /vesk-config.cmake /vesk-config-version.cmake
                            /vesk-targets.cmake /pkgconfig/vesk.pc)
    set(found ${installed})
    list(FILTER found INCLUDE REGEX "${expected}$")
    if(NOT found)
      message(FATAL_ERROR "not installed: ${expected}")
    endif()
  endforeach()

elseif(STEP STREQUAL "find_package")
  build_project(${consumers_dir}/installed ${WORK_DIR}/installed-consumer
    -DCMAKE_PREFIX_PATH=${prefix})
  run_example(${WORK_DIR}/installed-consumer/use_the_cache)

elseif(STEP STREQUAL "pkg_config")
  file(GLOB_RECURSE pc_files ${prefix}/*/vesk.pc)
  get_filename_component(pc_dir "${pc_files}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run("pkg-config" ${PKG_CONFIG} --cflags --libs vesk)
  separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
  separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
  separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
  set(program ${WORK_DIR}/pkg-config-consumer/use_the_cache)
  file(REMOVE_RECURSE ${WORK_DIR}/pkg-config-consumer)
  file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config-consumer)
  run("compiling with the flags of pkg-config"
    ${CXX_COMPILER} -std=c++20 ${cxx_flags} ${linker_flags}
    ${consumers_dir}/use_the_cache.cc ${pc_flags} -o ${program})
  run_example(${program})

elseif(STEP STREQUAL "subdirectory")
  set(build ${WORK_DIR}/subdirectory-consumer)
  if(FETCHCONTENT)
    set(build ${WORK_DIR}/fetchcontent-consumer)
  endif()
  build_project(${consumers_dir}/subdirectory ${build}
    -DVESK_SOURCE_DIR=${SOURCE_DIR} -DVESK_USE_FETCHCONTENT=${FETCHCONTENT})
  run_example(${build}/use_the_cache)

  # vesk compiles its own sources with its warnings, and gives the consumer
  # C++20 and none of them.
  file(READ ${build}/compile_commands.json database)
  string(JSON count LENGTH "${database}")
  math(EXPR last "${count} - 1")
  set(consumer_command)
  set(cache_command)
  foreach(i RANGE ${last})
    string(JSON file GET "${database}" ${i} file)
    string(JSON command GET "${database}" ${i} command)
    if(file MATCHES "/tests/consumers/use_the_cache\\.cc$")
      set(consumer_command "${command}")
    elseif(file MATCHES "/cache/measurement_cache\\.cc$")
      set(cache_command "${command}")
    endif()
  endforeach()
  if(NOT consumer_command OR NOT cache_command)
    message(FATAL_ERROR "compile commands missing in ${build}")
  endif()
  if(NOT cache_command MATCHES " -Wpedantic")
    message(FATAL_ERROR "vesk's warnings are off its own code:\n${cache_command}")
  endif()
  if(consumer_command MATCHES " -W(all|extra|pedantic|error)")
    message(FATAL_ERROR "vesk's warnings reached the consumer:\n${consumer_command}")
  endif()
  if(NOT consumer_command MATCHES " -std=(c|gnu)\\+\\+20")
    message(FATAL_ERROR "C++20 did not reach the consumer:\n${consumer_command}")
  endif()

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
