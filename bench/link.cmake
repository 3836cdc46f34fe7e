add_executable(bench_link link/DecoderBench.cpp)
target_link_libraries(bench_link PRIVATE lds_protocol benchmark::benchmark benchmark::benchmark_main)
