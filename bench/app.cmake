# The soak driver: the real window driven through its own controls and
# measured from inside; bench/app/soak.sh runs it against lds-sim.
if(LDS_GUI AND TARGET lds_app)
  add_executable(lds_soak_driver app/SoakDriver.cpp)
  target_link_libraries(lds_soak_driver PRIVATE lds_app ${VTK_LIBRARIES})
endif()

# Latency to the display's pixels and revolutions presented against those
# published, read from the X server while the window shows lds-sim's marker.
if(LDS_GUI AND TARGET lds_app AND TARGET lds-sim)
  find_package(X11 REQUIRED)
  add_executable(screen_latency app/ScreenLatency.cpp)
  target_link_libraries(screen_latency PRIVATE lds_app ${VTK_LIBRARIES} X11::X11)
  target_compile_definitions(screen_latency PRIVATE LDS_SIM_PATH="$<TARGET_FILE:lds-sim>")
  add_dependencies(screen_latency lds-sim)
endif()

# The window refusing a file it cannot replay: time, event-loop stall, peak memory.
if(LDS_GUI AND TARGET lds_app)
  add_executable(replay_refusal app/ReplayRefusal.cpp)
  target_link_libraries(replay_refusal PRIVATE lds_app ${VTK_LIBRARIES})
endif()
