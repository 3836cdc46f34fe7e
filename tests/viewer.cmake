# Point-cloud view: real widgets rendered through Mesa under Xvfb.
if(LDS_GUI)
  add_executable(test_viewer
    viewer/main.cpp
    viewer/ViewerTestSupport.h
    viewer/GeometryTest.cpp
    viewer/SceneTest.cpp
    viewer/DrawingTest.cpp
    viewer/PickingTest.cpp)
  target_link_libraries(test_viewer PRIVATE lds_viewer GTest::gtest Qt5::Test ${CMAKE_DL_LIBS})
  if(CMAKE_LIBRARY_ARCHITECTURE)
    target_compile_definitions(test_viewer PRIVATE LDS_DRI_DIR="/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/dri")
  endif()
  gtest_discover_tests(test_viewer DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120)
endif()
