# Programs that include a header of vesk's repository that is not part of
# its interface. Not built by default: the consumer test builds each and
# requires the build to fail on that include.
foreach(program IN ITEMS include_baseline include_cache_folder)
  add_executable(${program} EXCLUDE_FROM_ALL
    ${CMAKE_CURRENT_LIST_DIR}/${program}.cc)
  target_link_libraries(${program} PRIVATE vesk::cache)
endforeach()
