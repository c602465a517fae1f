# Install rules of the two libraries: their headers under
# <prefix>/include/vesk/, the libraries (static, or shared with BUILD_SHARED_LIBS),
# a CMake package
# (find_package(vesk CONFIG) gives vesk::cache and vesk::key) and a
# pkg-config file. Nothing else of the project is installed.
include(CMakePackageConfigHelpers)

set(VESK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vesk
  CACHE STRING "Where the CMake package of vesk is installed")

install(TARGETS vesk_key vesk_cache
  EXPORT vesk-targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Every header of cache/, as <vesk/...>, the include path the build tree
# gives too; nothing of baseline/, which defines the same class.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/cache/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vesk
  FILES_MATCHING PATTERN "*.h")
install(EXPORT vesk-targets
  NAMESPACE vesk::
  DESTINATION ${VESK_INSTALL_CMAKEDIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vesk-config.cmake.in
  ${PROJECT_BINARY_DIR}/vesk-config.cmake
  INSTALL_DESTINATION ${VESK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vesk-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/vesk-config.cmake
  ${PROJECT_BINARY_DIR}/vesk-config-version.cmake
  DESTINATION ${VESK_INSTALL_CMAKEDIR})

# vesk.pc finds its prefix from where it lies (${pcfiledir}), so it stays
# right when `cmake --install --prefix` chooses the prefix at install time.
set(vesk_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
foreach(dir IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VESK_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VESK_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${vesk_pc_dir}")
  set(VESK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH vesk_pc_up /prefix/${vesk_pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" vesk_pc_up "${vesk_pc_up}")
  set(VESK_PC_PREFIX "\${pcfiledir}/${vesk_pc_up}")
endif()
# A program built with the flags of a shared install finds the libraries at
# run time wherever the prefix is, as the CMake package's consumers do in
# their build trees: the shared install's Libs carry its libdir as a run
# path (harmless where the prefix is a system one).
set(VESK_PC_RPATH "")
if(BUILD_SHARED_LIBS)
  set(VESK_PC_RPATH " -Wl,-rpath,\${libdir}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vesk.pc.in
  ${PROJECT_BINARY_DIR}/vesk.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vesk.pc DESTINATION ${vesk_pc_dir})
