# Network links through a real ser2net on 127.0.0.1 (the test command installs
# it): the port and protocol level with a device played on a pseudo-terminal
# (labels net and link), and lds-record against lds-sim as a user runs them.
add_executable(test_net_link net/NetLinkTest.cpp)
target_link_libraries(test_net_link PRIVATE lds_protocol GTest::gtest GTest::gtest_main util)
gtest_discover_tests(test_net_link DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
lds_test_labels(test_net_link net link)
if(TARGET lds-record AND TARGET lds-sim AND NOT LDS_TSAN)
  add_executable(test_net_record net/NetRecordTest.cpp)
  target_link_libraries(test_net_record PRIVATE GTest::gtest GTest::gtest_main)
  target_include_directories(test_net_record PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(test_net_record PRIVATE LDS_RECORD_PATH="$<TARGET_FILE:lds-record>"
                                                     LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")
  add_dependencies(test_net_record lds-record lds-sim)
  gtest_discover_tests(test_net_record DISCOVERY_MODE PRE_TEST PROPERTIES LABELS net TIMEOUT 120)
endif()
