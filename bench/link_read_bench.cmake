# The benchmark drives an instrument simulated in-process through the socket layer.
target_link_libraries(link_read_bench PRIVATE lq3simlib)
