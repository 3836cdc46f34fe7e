# The simulated sensor, driven over its own pseudo-terminal by the real
# protocol object.
if(TARGET lds_sim)
  add_executable(test_sim sim/SimRoadTest.cpp)
  target_link_libraries(test_sim PRIVATE lds_sim lds_protocol GTest::gtest_main Threads::Threads)
  target_compile_definitions(test_sim PRIVATE LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")
  add_dependencies(test_sim lds-sim)
  gtest_discover_tests(test_sim DISCOVERY_MODE PRE_TEST PROPERTIES LABELS sim TIMEOUT 120)
endif()
