# Network links through a real ser2net on 127.0.0.1 (the test command installs
# it): the port and protocol level with a device played on a pseudo-terminal,
# and lds-record against lds-sim as a user runs them.
add_executable(test_net_link net/NetLinkTest.cpp)
target_link_libraries(test_net_link PRIVATE lds_protocol GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_net_link DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "net;link" TIMEOUT 120)
