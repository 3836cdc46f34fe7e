# Point-cloud view timings; run under Xvfb (xvfb-run -a build/bench/bench_viewer).
if(LDS_GUI)
  add_executable(bench_viewer viewer/ViewerBench.cpp)
  target_link_libraries(bench_viewer PRIVATE lds_viewer benchmark::benchmark Qt5::Test)
endif()
