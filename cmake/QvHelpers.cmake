# Layers see each other only through include roots. Each library's folder
# src/<folder> is reachable as "<folder>/..." from one folder per target,
# include-roots/<target>/, that holds a symbolic link to it; that folder is the
# target's only include directory. So `#include "server/..."` compiles only
# in targets that link the server library, and a target reaches the headers of
# a lower layer only by linking it.
function(qv_include_root target scope folder)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# qv_library(<name> [PUBLIC|LIBS ...] [PRIVATE ...] [EXCLUDE ...]) builds a
# static library from every .cpp below the calling folder src/<folder>, whose
# headers its dependants include as "<folder>/...". PUBLIC (or LIBS) lists the
# libraries whose headers the library's own headers include; PRIVATE those
# only its sources use. A folder without sources yields an interface library
# so that dependants link against it unchanged.
function(qv_library name)
  cmake_parse_arguments(ARG "" "" "LIBS;PUBLIC;PRIVATE;EXCLUDE" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${ARG_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    qv_include_root(${name} PUBLIC ${folder})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS} ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${name} INTERFACE)
    qv_include_root(${name} INTERFACE ${folder})
    target_link_libraries(${name} INTERFACE ${ARG_LIBS} ${ARG_PUBLIC} ${ARG_PRIVATE})
  endif()
endfunction()

# qv_test(<name> LIBS ... [SOURCES ...]) builds one GoogleTest program from the
# given sources (default: every .cpp in the calling folder) and registers its
# tests with CTest. The program reaches the headers of the libraries it links
# (LIBS) and, through tests/, the test support.
function(qv_test name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "LIBS;SOURCES;LABELS" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(NOT srcs)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qvtestsupport GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS ${name}
               ENVIRONMENT "QV_BUILD_DIR=${PROJECT_BINARY_DIR}")
  # gtest_discover_tests flattens property values, so a list of labels would
  # lose all but the first; extra labels are set once the tests are known.
  if("tsan" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY QV_TSAN_TARGETS ${name})
  endif()
  # SERIAL: the tests need the machine to themselves (CTest runs nothing beside them).
  if(ARG_LABELS OR ARG_SERIAL)
    set(properties "LABELS \"${name};${ARG_LABELS}\"")
    if(ARG_SERIAL)
      string(APPEND properties " RUN_SERIAL TRUE")
    endif()
    set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${label_script}
         "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
  endif()
endfunction()
