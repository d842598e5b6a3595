# qv_library(<name> [PUBLIC_LIBS ...]) builds a static library from every .cpp
# below the calling folder. A folder without sources yields an interface library
# so that dependants link against it unchanged.
function(qv_library name)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${ARG_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
endfunction()

# qv_test(<name> LIBS ... [SOURCES ...]) builds one GoogleTest program from the
# given sources (default: every .cpp in the calling folder) and registers its
# tests with CTest.
function(qv_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;SOURCES;LABELS" ${ARGN})
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
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
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
  if(ARG_LABELS)
    set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${label_script}
         "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${name};${ARG_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
  endif()
endfunction()
