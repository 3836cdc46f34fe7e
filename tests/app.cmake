# Window tests: a real window under Xvfb, driven through its buttons, actions
# and dialogs, and the program's command line. The end-to-end sessions also
# run the simulated sensor and judge the display's pixels.
if(LDS_GUI AND TARGET lds_app)
  find_package(X11 REQUIRED)
  add_library(lds_app_testmain INTERFACE)
  target_link_libraries(lds_app_testmain INTERFACE lds_gui_testmain lds_app lds_sim Qt5::Test X11::X11)
  target_include_directories(lds_app_testmain INTERFACE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(lds_app_testmain INTERFACE LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")

  add_executable(app_window_tests app/WindowTest.cpp app/SettingsTest.cpp app/PartsTest.cpp)
  target_link_libraries(app_window_tests PRIVATE lds_app_testmain)
  target_compile_definitions(app_window_tests PRIVATE LDS_TOOL_PATH="$<TARGET_FILE:lds-tool>")
  add_dependencies(app_window_tests lds-tool)
  # Keys go to the focused window: alone, so that no other test's window takes the focus.
  gtest_discover_tests(app_window_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS gui TIMEOUT 120 RUN_SERIAL TRUE)

  find_package(Qt5 COMPONENTS LinguistTools REQUIRED)
  add_test(NAME app_untranslated_texts
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/app/untranslated.sh $<TARGET_FILE:Qt5::lupdate> ${PROJECT_SOURCE_DIR})

  if(TARGET lds-sim)
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/app/e2e ${CMAKE_CURRENT_BINARY_DIR}/app_e2e)
  endif()
endif()
