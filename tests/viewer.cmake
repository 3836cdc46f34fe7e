# Point-cloud view: its geometry, and real widgets judged on the display's
# pixels under Xvfb.
if(LDS_GUI)
  find_package(X11 REQUIRED)
  add_executable(test_viewer viewer/ViewerTest.cpp)
  target_link_libraries(test_viewer PRIVATE lds_gui_testmain lds_viewer Qt5::Test X11::X11)
  target_include_directories(test_viewer PRIVATE ${PROJECT_SOURCE_DIR})
  # Reads the display: alone, so that no other test's window covers its own.
  gtest_discover_tests(test_viewer DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120 RUN_SERIAL TRUE)
endif()
