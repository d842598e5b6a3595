# The benchmark is a client of a real qvServer: it links the client library and
# starts the server of this build tree unless it is given a port.
target_link_libraries(client_roundtrip_bench PRIVATE qvAPIDLL)
target_compile_definitions(client_roundtrip_bench PRIVATE QV_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
if(TARGET qvServer)
  add_dependencies(client_roundtrip_bench qvServer)
endif()
