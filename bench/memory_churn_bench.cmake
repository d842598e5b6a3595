# Drives a real qvServer with lq3sim processes from this build tree.
target_compile_definitions(memory_churn_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
foreach(program qvServer lq3sim)
  if(TARGET ${program})
    add_dependencies(memory_churn_bench ${program})
  endif()
endforeach()
