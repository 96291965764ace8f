# The core's tests over the fake serial link and the fake pane: one list for the native build
# and the Windows build alike.
set(VARNOTH_CORE_TEST_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/fakes/fake_serial.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fakes/fake_pane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fakes/fake_log_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core_test.cpp)
