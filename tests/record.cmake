# lds-record as a user runs it, against lds-sim on a pseudo-terminal.
# Not under ThreadSanitizer: PCL's io library loads OpenNI2, whose exit-time
# mutex handling the sanitizer reports in every program that links it, test
# discovery included.
if(TARGET lds-record AND TARGET lds-sim AND NOT LDS_TSAN)
  add_executable(test_record_e2e record/RecordRoadTest.cpp)
  target_link_libraries(test_record_e2e PRIVATE lds_record lds_sim GTest::gtest GTest::gtest_main)
  target_compile_definitions(test_record_e2e PRIVATE LDS_RECORD_PATH="$<TARGET_FILE:lds-record>"
                                                     LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")
  add_dependencies(test_record_e2e lds-record lds-sim)
  gtest_discover_tests(test_record_e2e DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
  lds_test_labels(test_record_e2e record e2e)

  # The recorder's parts fed directly, without a port.
  add_executable(test_record record/RecordCutTest.cpp)
  target_link_libraries(test_record PRIVATE lds_record lds_sim GTest::gtest GTest::gtest_main)
  gtest_discover_tests(test_record DISCOVERY_MODE PRE_TEST PROPERTIES LABELS record TIMEOUT 120)
endif()
