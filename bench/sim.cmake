# Cost of making packets, and a measuring program for the simulator's pacing.
if(TARGET lds_sim)
  add_executable(bench_sim sim/SimBench.cpp)
  target_link_libraries(bench_sim PRIVATE lds_sim benchmark::benchmark_main)

  add_executable(sim_rate sim/SimRate.cpp)
  target_link_libraries(sim_rate PRIVATE lds_sim)
  target_compile_definitions(sim_rate PRIVATE LDS_SIM_EXE="$<TARGET_FILE:lds-sim>")
  add_dependencies(sim_rate lds-sim)
endif()
