# Desktop support library routines: unit version registry, calendar and
# time-zone rules, character tables and multi-string blocks, locks, the units'
# process-wide registries, the child runner's flag mapping, read buffer and
# line assembly (portable or through platform/win32.h, so they also build and
# run natively), plus the Win32-only system queries, locale text comparison,
# registry time zones, shared-memory views and child start.
set(om_support_routines_sources
  ${CMAKE_CURRENT_LIST_DIR}/unitversions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dates.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chartables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/runner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unitregistries.cpp
)
if(WIN32)
  list(APPEND om_support_routines_sources
    ${CMAKE_CURRENT_LIST_DIR}/unitversions_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unitregistries_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/chartables_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/localetext.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sysqueries.cpp
    ${CMAKE_CURRENT_LIST_DIR}/regtimezones.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runnerlaunch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runnerprocess.cpp
  )
endif()
add_library(om_support_routines STATIC ${om_support_routines_sources})
target_include_directories(om_support_routines PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(om_support_routines PUBLIC om_framework_core om_platform)
if(WIN32)
  # The runner's window and threads and the zones' registry access come from
  # the framework and the support library's utility window.
  target_link_libraries(om_support_routines PUBLIC om_support om_framework_win shell32 ole32 advapi32 user32)
endif()

# Test sources by name: tests/<name>_test.cpp.
set(om_support_routines_tests dates multisz unitversions locks runner unitregistries)
if(WIN32)
  list(APPEND om_support_routines_tests unitversions_module)
endif()
list(TRANSFORM om_support_routines_tests REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/tests/\\1_test.cpp")
om_add_gtest(support_routines_test
  SOURCES ${om_support_routines_tests}
  LIBS om_support_routines
  LABELS support)

# Command-line front end of the date rules for the comparison with Python's
# zoneinfo (and, on Windows, the dump of the registry's zones).
add_executable(om_datetool ${CMAKE_CURRENT_LIST_DIR}/tests/datetool.cpp)
target_link_libraries(om_datetool PRIVATE om_support_routines)
set_target_properties(om_datetool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OM_TEST_OUTPUT_DIRECTORY})
if(OM_PRESET STREQUAL "linux" OR OM_PRESET STREQUAL "win64" OR OM_PRESET STREQUAL "win32")
  set(om_datetool_runner)
  if(OM_WINDOWS)
    if(NOT (OM_WIN32 AND OM_WINE32_MODE STREQUAL "emulated"))
      set(om_datetool_runner --runner ${OM_SCRIPTS}/wine-run --arch ${OM_WINE_ARCH} --prefix ${OM_WINE_PREFIX} --)
    endif()
  endif()
  if(NOT OM_WINDOWS OR om_datetool_runner)
    add_test(NAME support.zoneinfo
             COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tests/zoneinfo_compare.py
                     ${om_datetool_runner} $<TARGET_FILE:om_datetool>)
    set_tests_properties(support.zoneinfo PROPERTIES LABELS "support" TIMEOUT 600)
    if(OM_WINDOWS)
      set_tests_properties(support.zoneinfo PROPERTIES FIXTURES_REQUIRED wine LABELS "wine;support")
    endif()
  endif()
endif()

if(WIN32)
  set(om_support_platform_tests regtimezones localetext sysqueries chartables runnerlaunch runnerprocess)
  list(TRANSFORM om_support_platform_tests REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/tests/\\1_test.cpp")
  om_add_gtest(support_platform_routines_test
    SOURCES ${om_support_platform_tests}
    LIBS om_support_routines psapi userenv
    LABELS support)

  # A DLL linked with the library: a second module of the test process that
  # must find the program's unit version registry.
  add_library(om_unitversions_module SHARED ${CMAKE_CURRENT_LIST_DIR}/tests/unitversions_module.cpp)
  target_link_libraries(om_unitversions_module PRIVATE om_support_routines)
  set_target_properties(om_unitversions_module PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${OM_TEST_OUTPUT_DIRECTORY})
  add_dependencies(support_routines_test om_unitversions_module)
endif()
