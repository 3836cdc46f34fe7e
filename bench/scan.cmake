add_executable(bench_scan scan/ScanBench.cpp)
target_link_libraries(bench_scan PRIVATE lds_scan benchmark::benchmark)
