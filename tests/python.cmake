# The Python module as a user imports it, run by Debian's pytest against
# lds-sim and lds-record on pseudo-terminals.
if(TARGET lds_python AND TARGET lds-sim AND TARGET lds-record)
  add_test(NAME python_module COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
                                      ${CMAKE_CURRENT_LIST_DIR}/python)
  set_tests_properties(python_module PROPERTIES LABELS python TIMEOUT 120 ENVIRONMENT
    "PYTHONPATH=$<TARGET_FILE_DIR:lds_python>;LDS_SIM=$<TARGET_FILE:lds-sim>;LDS_RECORD=$<TARGET_FILE:lds-record>")
endif()
