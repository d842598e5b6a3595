# A client of a real qvServer with an lq3sim process, both from this build tree,
# counting with the test-stream tally of the tests' support code.
target_include_directories(stream_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(stream_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
foreach(program qvServer lq3sim)
  if(TARGET ${program})
    add_dependencies(stream_bench ${program})
  endif()
endforeach()
