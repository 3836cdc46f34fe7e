# Scan tests: the slot rule, the filters and the assembler fed directly.
add_executable(test_scan scan/ScanTest.cpp)
target_link_libraries(test_scan PRIVATE lds_scan GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_scan DISCOVERY_MODE PRE_TEST PROPERTIES LABELS scan TIMEOUT 120)
