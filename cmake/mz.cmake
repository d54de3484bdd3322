# Helpers shared by the rooms of the build.

# The public C headers (mz/...): the one include path every room may use.
add_library(mzheaders INTERFACE)
target_include_directories(mzheaders INTERFACE $<BUILD_INTERFACE:${MZ_INCLUDE_DIR}>)

# mz_room_include_dir(OUT ROOM)
# A folder of the build that holds only ROOM (a link to its sources), so "ROOM/x.h" is reachable
# from exactly the targets that put it on their include path, that is, those that link the room's
# target. The project root on an include path would open every room to everybody.
function(mz_room_include_dir out room)
  string(REPLACE "/" "_" key ${room})
  set(dir ${PROJECT_BINARY_DIR}/rooms/${key})
  get_filename_component(parent ${dir}/${room} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room} ${dir}/${room} SYMBOLIC)
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# mz_room_headers(TARGET SCOPE ROOM...)
# Puts the headers of each ROOM on TARGET's include path, PUBLIC for the rooms whose headers its
# users include, PRIVATE for the rooms only its own sources include.
function(mz_room_headers target scope)
  foreach(room ${ARGN})
    mz_room_include_dir(dir ${room})
    target_include_directories(${target} ${scope} ${dir})
  endforeach()
endfunction()

# mz_add_library(NAME SOURCES src... ROOMS room... [DEFINITIONS def...])
# Builds NAME_obj (an object library that tests may link to reach internal code, and with it the
# headers of ROOMS) and the shared library NAME from it, whose users see only the public headers.
# Calls inside the library bind to the library's own definitions (-Bsymbolic-functions), so two
# libraries that export the same names never call each other.
function(mz_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;ROOMS;DEFINITIONS" ${ARGN})
  add_library(${name}_obj OBJECT ${ARG_SOURCES})
  target_link_libraries(${name}_obj PUBLIC mzheaders)
  mz_room_headers(${name}_obj PUBLIC ${ARG_ROOMS})
  target_compile_definitions(${name}_obj PUBLIC ${ARG_DEFINITIONS})
  add_library(${name} SHARED)
  target_link_libraries(${name} PRIVATE ${name}_obj PUBLIC mzheaders)
  target_link_options(${name} PRIVATE -Wl,-Bsymbolic-functions
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
  # clang leaves the sanitizer runtimes out of shared libraries: the programs bring them.
  if(NOT MZ_BUILD_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
endfunction()

# mz_unity_build(TARGET [BATCH n])
# With MZ_UNITY_BUILD, TARGET's sources are compiled in batches of n (default 8) files, one
# translation unit per batch. Names at file scope (anonymous namespaces, statics) must then differ
# between the files of a target.
function(mz_unity_build target)
  cmake_parse_arguments(ARG "" "BATCH" "" ${ARGN})
  if(MZ_UNITY_BUILD)
    if(NOT ARG_BATCH)
      set(ARG_BATCH 8)
    endif()
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ARG_BATCH})
  endif()
endfunction()

# mz_add_gtest(NAME [LABEL label] SOURCES src... LIBS lib...)
# A test reaches the shared test helpers (tests/...) and the headers of what it links.
function(mz_add_gtest name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} mzheaders GTest::gtest GTest::gtest_main)
  mz_room_headers(${name} PRIVATE tests)
  mz_unity_build(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${ARG_LABEL})
endfunction()
