# Driver of the consumer tests, run as
#   cmake -DSTEP=<step> -DWORK_DIR=<dir> ... -P consumer_test.cmake
# Each step builds with the compiler, generator, build type and flags of the
# enclosing build (CXX_COMPILER, GENERATOR, MAKE_PROGRAM, BUILD_TYPE,
# CXX_FLAGS, LINKER_FLAGS) and fails the test with a message at the first
# problem.
#
# install        configures vesk from SOURCE_DIR with nothing but its two
#                libraries (checking that the options the README gives for
#                that compile nothing else), static or, with SHARED=ON,
#                shared, builds it and installs it into WORK_DIR/prefix
#                (prefix-shared), then checks what was installed: headers
#                only under include/vesk, the libraries of VERSION, and for
#                shared ones their SONAME and that they export nothing
#                outside vesk's namespace
# find_package   builds and runs the consumers in installed/ against the
#                static prefix, or with SHARED=ON the shared one, and checks
#                that versions it must refuse (0.9, 2.0) fail to configure
# pkg_config     compiles use_the_cache.cc with the flags
#                `PKG_CONFIG --cflags --libs vesk` gives for the static prefix,
#                or with SHARED=ON the shared one, and runs it as a user
#                would, with nothing telling the loader where the prefix is
# subdirectory   builds and runs the consumer in subdirectory/, which adds
#                vesk from SOURCE_DIR (with FETCHCONTENT=ON through
#                FetchContent), and checks that vesk's warning flags stay off
#                the consumer's compile line while C++20 reaches it
# plugins        builds the two plugins of plugins/ and their program
#                against the static prefix, or with SHARED=ON the shared
#                one, and checks that they share one cache only with the
#                shared libraries
#
# The consumers of find_package and subdirectory must also fail to compile a
# program that includes a header of the repository outside vesk's interface.
cmake_minimum_required(VERSION 3.25)

set(consumers_dir ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
if(SHARED)
  set(prefix ${WORK_DIR}/prefix-shared)
endif()

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

# fails_to_configure(<source> <binary> <expected message> [-D...]): the
# configuration must fail, saying what is expected.
function(fails_to_configure source binary expected)
  file(REMOVE_RECURSE ${binary})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${source} -B ${binary} ${toolchain} ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(status EQUAL 0)
    message(FATAL_ERROR "configuring ${source} with ${ARGN} succeeded")
  endif()
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "configuring ${source} failed for another reason "
                        "than '${expected}':\n${output}")
  endif()
endfunction()

# headers_stay_unreachable(<binary>): the consumer built in <binary> cannot
# include the baseline's header nor reach vesk's headers through cache/.
function(headers_stay_unreachable binary)
  set(programs include_baseline include_cache_folder)
  set(headers baseline/measurement_cache.h cache/measurement_cache.h)
  foreach(program header IN ZIP_LISTS programs headers)
    execute_process(
      COMMAND ${CMAKE_COMMAND} --build ${binary} --target ${program}
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(status EQUAL 0)
      message(FATAL_ERROR "a consumer can include \"${header}\"")
    endif()
    if(NOT output MATCHES "${header}.*(No such file|not found)")
      message(FATAL_ERROR "${program} failed for another reason:\n${output}")
    endif()
  endforeach()
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
  if(SHARED)
    set(build ${WORK_DIR}/vesk-shared-build)
  endif()
  # The static libraries are compiled with -fno-pie, as a compiler that
  # does not default to position-independent executables compiles them, so
  # that only their own POSITION_INDEPENDENT_CODE lets the consumers link
  # them into a shared library (the plugins) or an executable. Executables
  # of that build (CMake's own checks) link with -no-pie to match, since
  # sanitizer-instrumented code compiled without -fpie does not link into a
  # position-independent executable.
  set(vesk_flags)
  if(NOT SHARED)
    set(vesk_flags "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} -fno-pie"
      "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS} -no-pie")
  endif()
  # The options the README gives for building the two libraries only.
  build_project(${SOURCE_DIR} ${build}
    ${vesk_flags}
    -DBUILD_SHARED_LIBS=${SHARED}
    -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_PROGRAMS=OFF)
  file(GLOB_RECURSE objects RELATIVE ${build} ${build}/*.o)
  list(FILTER objects EXCLUDE REGEX "^CMakeFiles/vesk_(cache|key)\\.dir/")
  list(FILTER objects EXCLUDE REGEX "^CMakeFiles/[0-9.]+/")
  if(objects)
    message(FATAL_ERROR "-DVESK_BUILD_TESTS=OFF -DVESK_BUILD_PROGRAMS=OFF "
                        "built more than the two libraries: ${objects}")
  endif()
  file(REMOVE_RECURSE ${prefix})
  run("installing vesk" ${CMAKE_COMMAND} --install ${build} --prefix ${prefix})

  # The headers of cache/ and nothing else of the source tree, the two
  # libraries, the CMake package and the pkg-config file.
  file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
  set(libraries)
  foreach(file IN LISTS installed)
    if(file MATCHES "^include/" AND NOT file MATCHES "^include/vesk/[^/]+\\.h$")
      message(FATAL_ERROR "not a header of include/vesk: ${file}")
    elseif(file MATCHES "baseline")
      message(FATAL_ERROR "part of the baseline cache installed: ${file}")
    elseif(file MATCHES "\\.(a|so)(\\.[0-9.]+)?$")
      get_filename_component(name ${file} NAME)
      list(APPEND libraries ${name})
    endif()
  endforeach()
  list(SORT libraries)
  set(expected_libraries libvesk_cache.a libvesk_key.a)
  if(SHARED)
    string(REGEX MATCH "^[0-9]+" major "${VERSION}")
    set(expected_libraries)
    foreach(library IN ITEMS libvesk_cache libvesk_key)
      list(APPEND expected_libraries
        ${library}.so ${library}.so.${major} ${library}.so.${VERSION})
    endforeach()
  endif()
  if(NOT libraries STREQUAL expected_libraries)
    message(FATAL_ERROR "installed libraries: ${libraries}, "
                        "expected: ${expected_libraries}")
  endif()
  if(SHARED)
    file(GLOB_RECURSE cache_library ${prefix}/*/libvesk_cache.so.${VERSION})
    run("reading the SONAME" ${OBJDUMP} -p ${cache_library})
    if(NOT run_output MATCHES "SONAME +libvesk_cache\\.so\\.${major}\n")
      message(FATAL_ERROR "no SONAME libvesk_cache.so.${major}:\n${run_output}")
    endif()
    # Exported: vesk's own API, and the standard library's inline code its
    # API instantiates (weak symbols, as every library that uses the
    # standard containers exports them).
    foreach(library IN ITEMS libvesk_cache libvesk_key)
      file(GLOB_RECURSE path ${prefix}/*/${library}.so.${VERSION})
      run("listing ${library}'s exports"
        ${NM} -D --defined-only --demangle ${path})
      string(REPLACE "\n" ";" exports "${run_output}")
      foreach(line IN LISTS exports)
        if(line MATCHES "^[0-9a-f]+ [TDBR] (.*)$")
          if(NOT CMAKE_MATCH_1 MATCHES "morvane::vesk::")
            message(FATAL_ERROR "${library} exports ${CMAKE_MATCH_1}")
          endif()
        endif()
      endforeach()
      if(NOT run_output MATCHES "morvane::vesk::")
        message(FATAL_ERROR "${library} exports nothing of vesk")
      endif()
    endforeach()
    file(GLOB_RECURSE cache_library ${prefix}/*/libvesk_cache.so.${VERSION})
    run("listing the cache's exports" ${NM} -D --defined-only --demangle
      ${cache_library})
    if(run_output MATCHES "evictLeastRecentlyUsed|HashReader|HashFirstEqual")
      message(FATAL_ERROR "the cache exports its internals:\n${run_output}")
    endif()
  endif()
  foreach(expected IN ITEMS include/vesk/measurement_cache.h
                            /vesk-config.cmake /vesk-config-version.cmake
                            /vesk-targets.cmake /pkgconfig/vesk.pc)
    set(found ${installed})
    list(FILTER found INCLUDE REGEX "${expected}$")
    if(NOT found)
      message(FATAL_ERROR "not installed: ${expected}")
    endif()
  endforeach()

elseif(STEP STREQUAL "find_package")
  set(build ${WORK_DIR}/installed-consumer)
  if(SHARED)
    set(build ${WORK_DIR}/installed-shared-consumer)
  endif()
  build_project(${consumers_dir}/installed ${build}
    -DCMAKE_PREFIX_PATH=${prefix})
  run_example(${build}/use_the_cache)
  run("running use_the_key" ${build}/use_the_key)
  if(NOT run_output STREQUAL "hashed and charged\n")
    message(FATAL_ERROR "use_the_key printed:\n${run_output}")
  endif()
  headers_stay_unreachable(${build})
  # 1.x keeps the interface of 1.0; an older or a newer major version is a
  # different interface.
  foreach(version IN ITEMS 0.9 2.0)
    fails_to_configure(${consumers_dir}/installed
      ${build}-${version}
      "compatible with requested version \"${version}\""
      -DCMAKE_PREFIX_PATH=${prefix} -DVESK_VERSION=${version})
  endforeach()

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
  if(SHARED)
    run("reading the libraries it needs" ${OBJDUMP} -p ${program})
    if(NOT run_output MATCHES "NEEDED +libvesk_cache\\.so\\.")
      message(FATAL_ERROR "${program} does not load libvesk_cache.so:\n"
                          "${run_output}")
    endif()
  endif()
  unset(ENV{LD_LIBRARY_PATH})
  run_example(${program})

elseif(STEP STREQUAL "subdirectory")
  set(build ${WORK_DIR}/subdirectory-consumer)
  if(FETCHCONTENT)
    set(build ${WORK_DIR}/fetchcontent-consumer)
  endif()
  build_project(${consumers_dir}/subdirectory ${build}
    -DVESK_SOURCE_DIR=${SOURCE_DIR} -DVESK_USE_FETCHCONTENT=${FETCHCONTENT})
  run_example(${build}/use_the_cache)
  headers_stay_unreachable(${build})

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

elseif(STEP STREQUAL "plugins")
  set(build ${WORK_DIR}/plugins-consumer)
  set(expected "two caches")
  if(SHARED)
    set(build ${WORK_DIR}/plugins-shared-consumer)
    set(expected "one cache")
  endif()
  build_project(${consumers_dir}/plugins ${build}
    -DCMAKE_PREFIX_PATH=${prefix})
  run("running two_plugins" ${build}/two_plugins)
  if(NOT run_output STREQUAL "${expected}\n")
    message(FATAL_ERROR "two plugins against this vesk printed "
                        "${run_output}, expected ${expected}")
  endif()

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
