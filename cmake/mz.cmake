# Helpers shared by the rooms of the build.

# mz_add_library(NAME SOURCES src... [DEFINITIONS def...])
# Builds NAME_obj (an object library that tests may link to reach internal code) and the shared
# library NAME from it. Calls inside the library bind to the library's own definitions
# (-Bsymbolic-functions), so two libraries that export the same names never call each other.
function(mz_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEFINITIONS" ${ARGN})
  add_library(${name}_obj OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_obj PUBLIC ${MZ_INCLUDE_DIR} ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name}_obj PUBLIC ${ARG_DEFINITIONS})
  add_library(${name} SHARED)
  target_link_libraries(${name} PRIVATE ${name}_obj)
  target_include_directories(${name} PUBLIC ${MZ_INCLUDE_DIR})
  target_link_options(${name} PRIVATE -Wl,-Bsymbolic-functions -Wl,--no-undefined
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
endfunction()

# mz_add_gtest(NAME LABEL label SOURCES src... LIBS lib...)
function(mz_add_gtest name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${MZ_INCLUDE_DIR} ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${ARG_LABEL})
endfunction()
