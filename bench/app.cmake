# The soak driver: the real window driven through its own controls and
# measured from inside; bench/app/soak.sh runs it against lds-sim.
if(LDS_GUI AND TARGET lds_app)
  add_executable(lds_soak_driver app/SoakDriver.cpp)
  target_link_libraries(lds_soak_driver PRIVATE lds_app ${VTK_LIBRARIES})
endif()
