add_executable(test_scan scan/ScanFilterTest.cpp scan/FrameAssemblerTest.cpp)
target_link_libraries(test_scan PRIVATE lds_scan GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_scan DISCOVERY_MODE PRE_TEST PROPERTIES LABELS scan TIMEOUT 120)

# End to end: the simulator executable on a pseudo-terminal, the real device
# link and the assembler.
if(TARGET lds-sim AND TARGET lds_sim)
  add_executable(test_scan_e2e scan/EndToEndTest.cpp)
  target_link_libraries(test_scan_e2e PRIVATE lds_scan lds_sim GTest::gtest GTest::gtest_main)
  target_compile_definitions(test_scan_e2e PRIVATE LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")
  add_dependencies(test_scan_e2e lds-sim)
  gtest_discover_tests(test_scan_e2e DISCOVERY_MODE PRE_TEST PROPERTIES LABELS e2e TIMEOUT 120)
endif()
