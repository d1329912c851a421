# The main job (scripts/demo) as a test. It runs with the win32 tree and needs
# the linux and win64 builds too (it skips without them); from win64 it takes
# ombackup.exe and, as the Windows installation's runtime, the service host
# tests' recording jvm.dll (Wine has no Java), copied here to build/win64/demo.
if(OM_WIN64 AND TARGET testjvm)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/demo/jvm.dll
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:testjvm> ${CMAKE_BINARY_DIR}/demo/jvm.dll
    DEPENDS testjvm)
  add_custom_target(demo_runtime ALL DEPENDS ${CMAKE_BINARY_DIR}/demo/jvm.dll)
endif()

# It runs alone: its screenshots show the whole display, and no other program's
# windows must come between them and the notification area.
if(OM_WIN32)
  add_test(NAME demo COMMAND ${OM_SCRIPTS}/demo --check --shots ${CMAKE_BINARY_DIR}/demo-screenshots)
  set_tests_properties(demo PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77 LABELS "wine;demo" RUN_SERIAL ON
                       FIXTURES_REQUIRED wine)
endif()
