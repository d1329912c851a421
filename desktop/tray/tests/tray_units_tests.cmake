# Tests of the hand-over file, start-up switches, logon task and console launch.
#  tray_units_portable_test  formats, parsers (property tests), decisions and
#                            command lines; natively, under the sanitizers and Wine
om_add_gtest(tray_units_portable_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/handover_switches_test.cpp ${CMAKE_CURRENT_LIST_DIR}/logon_console_test.cpp
  LIBS om_tray_units
  LABELS tray)

if(OM_WINDOWS)
  #  tray_units_host            stand-in tray program / Java console for the process tests
  #  tray_units_windows_test    single instance, control messages, logon task
  #                             through Wine's schtasks.exe, console launch with a
  #                             fake installation
  add_executable(tray_units_host ${CMAKE_CURRENT_LIST_DIR}/tray_units_host.cpp)
  target_link_libraries(tray_units_host PRIVATE om_tray_units)
  set_target_properties(tray_units_host PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OM_TEST_OUTPUT_DIRECTORY})
endif()

if(OM_WINDOWS)
  om_add_gtest(tray_units_windows_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tray_units_windows_test.cpp ${CMAKE_CURRENT_LIST_DIR}/process_harness.h
    LIBS om_tray_units
    DEPENDS tray_units_host
    DEFINES OM_HOST_EXE="$<TARGET_FILE:tray_units_host>"
    TIMEOUT 900
    LABELS tray)
endif()
