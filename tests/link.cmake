# Device-link tests: the serial port and the protocol object against real
# pseudo-terminals, and the receiver fed directly.
add_executable(test_link link/LinkTest.cpp link/DecoderTest.cpp)
target_link_libraries(test_link PRIVATE lds_protocol GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_link DISCOVERY_MODE PRE_TEST PROPERTIES LABELS link TIMEOUT 120)
