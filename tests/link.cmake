# Device-link tests: the receiver fed directly, the serial port on real
# pseudo-terminals, and the whole road from a device to frames.
add_executable(test_link link/LinkTest.cpp)
target_link_libraries(test_link PRIVATE lds_scan GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_link DISCOVERY_MODE PRE_TEST PROPERTIES LABELS link TIMEOUT 120)
