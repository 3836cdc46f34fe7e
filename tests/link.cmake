# Device-link tests: the serial port against real pseudo-terminals, the
# protocol object against a simulated device on a pseudo-terminal, and the
# decoder fed directly.
add_executable(test_link
  link/SerialPortTest.cpp
  link/ProtocolTest.cpp
  link/DecoderTest.cpp)
target_link_libraries(test_link PRIVATE lds_protocol GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_link DISCOVERY_MODE PRE_TEST PROPERTIES LABELS link TIMEOUT 120)
