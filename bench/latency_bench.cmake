# A client of a real qvServer with an lq3sim process, both from this build
# tree, beside redis-server when it is installed.
target_link_libraries(latency_bench PRIVATE qvAPIDLL)
target_compile_definitions(latency_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
foreach(program qvServer lq3sim)
  if(TARGET ${program})
    add_dependencies(latency_bench ${program})
  endif()
endforeach()
