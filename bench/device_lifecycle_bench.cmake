# A client of a real qvServer with lq3sim processes, both from this build tree.
target_link_libraries(device_lifecycle_bench PRIVATE qvAPIDLL)
target_compile_definitions(device_lifecycle_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
foreach(program qvServer lq3sim)
  if(TARGET ${program})
    add_dependencies(device_lifecycle_bench ${program})
  endif()
endforeach()
