# Point-cloud view: real widgets rendered through Mesa under Xvfb.
if(LDS_GUI)
  add_executable(test_viewer
    viewer/ViewerTestSupport.h
    viewer/GeometryTest.cpp
    viewer/SceneTest.cpp
    viewer/DrawingTest.cpp
    viewer/PickingTest.cpp)
  target_link_libraries(test_viewer PRIVATE lds_gui_testmain lds_viewer Qt5::Test)
  gtest_discover_tests(test_viewer DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120)
endif()
