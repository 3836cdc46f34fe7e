# The simulated sensor: its library parts, and the lds-sim executable driven
# end to end on its own pseudo-terminal.
if(TARGET lds_sim)
  add_executable(test_sim
    sim/SimLibraryTest.cpp
    sim/SimDecodeTest.cpp
    sim/SimEndToEndTest.cpp)
  target_link_libraries(test_sim PRIVATE lds_sim lds_protocol GTest::gtest_main Threads::Threads util)
  target_compile_definitions(test_sim PRIVATE LDS_SIM_EXE="$<TARGET_FILE:lds-sim>")
  add_dependencies(test_sim lds-sim)
  gtest_discover_tests(test_sim DISCOVERY_MODE PRE_TEST PROPERTIES LABELS sim TIMEOUT 120)
endif()
