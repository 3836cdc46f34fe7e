# Window tests: a real window under Xvfb, driven through its buttons, actions
# and dialogs. The end-to-end ones also run the simulated sensor.
if(LDS_GUI AND TARGET lds_app)
  add_library(lds_app_testmain INTERFACE)
  target_link_libraries(lds_app_testmain INTERFACE lds_gui_testmain lds_app Qt5::Test)
  target_include_directories(lds_app_testmain INTERFACE ${PROJECT_SOURCE_DIR})

  add_executable(app_window_tests app/WindowTest.cpp $<$<TARGET_EXISTS:lds_sim>:app/WorkerTest.cpp>)
  target_link_libraries(app_window_tests PRIVATE lds_app_testmain $<TARGET_NAME_IF_EXISTS:lds_sim>)
  gtest_discover_tests(app_window_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120)

  find_package(X11 REQUIRED)
  add_executable(app_executable_tests app/ExecutableTest.cpp)
  target_link_libraries(app_executable_tests PRIVATE Qt5::Core GTest::gtest_main X11::X11)
  target_compile_definitions(app_executable_tests PRIVATE LDS_TOOL_PATH="$<TARGET_FILE:lds-tool>")
  add_dependencies(app_executable_tests lds-tool)
  gtest_discover_tests(app_executable_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120)

  if(TARGET lds-sim)
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/app/e2e ${CMAKE_CURRENT_BINARY_DIR}/app_e2e)
  endif()
endif()
