# Measures the real programs of this build tree.
target_compile_definitions(idle_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
foreach(program qvServer lq3sim)
  if(TARGET ${program})
    add_dependencies(idle_bench ${program})
  endif()
endforeach()
