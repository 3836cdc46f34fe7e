# Scan tests: the filters and the assembler fed directly, and the whole road
# from a device on a pseudo-terminal to frames.
add_executable(test_scan scan/ScanTest.cpp scan/RoadTest.cpp)
target_link_libraries(test_scan PRIVATE lds_scan GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_scan DISCOVERY_MODE PRE_TEST PROPERTIES LABELS scan TIMEOUT 120)
