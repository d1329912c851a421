# Test harness shared by every folder: GoogleTest (built from Debian's source for
# all three targets), Wine as the emulator of the Windows presets, and checks
# on the binaries themselves.
include(GoogleTest)

set(OM_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${OM_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)

set(OM_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)

if(OM_WINDOWS)
  # One Wine prefix for both Windows presets, created on first use inside build/.
  set(OM_WINE_PREFIX ${CMAKE_SOURCE_DIR}/build/wineprefix CACHE PATH "Wine prefix used by the tests")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OM_SCRIPTS}/wine-run --arch ${OM_WINE_ARCH} --prefix ${OM_WINE_PREFIX} --)
  # 32-bit Wine needs a kernel that runs i386 programs. Where it does not, the
  # bootstrap registers qemu-user for them: that works but costs about a minute
  # and a half of start-up per Windows process, and programs that run several
  # threads at once crash now and then inside the emulator. Only the tests marked
  # WINE32_SMOKE run there: suites that stay on one or two threads (the full
  # suites run as x64 under 64-bit Wine).
  set(OM_WINE32_MODE none)
  if(OM_WIN32)
    execute_process(COMMAND ${OM_SCRIPTS}/wine-run --wine32-mode
                    OUTPUT_VARIABLE OM_WINE32_MODE OUTPUT_STRIP_TRAILING_WHITESPACE)
    message(STATUS "32-bit Wine: ${OM_WINE32_MODE}")
  endif()
endif()

# om_add_gtest(<name> SOURCES ... [LIBS ...] [GUI] [DESKTOP_SHELL] [WINE32_SMOKE] [WHOLE] [TIMEOUT s]
#              [LABELS ...] [ENV var=value ...] [DLLS target ...] [DEPENDS target ...]
#              [DEFINES name=value ...] [WRAPPER command ...])
# A GoogleTest executable beside the code it tests. Natively each case is a
# ctest test; under Wine the executable is one test (one Windows process).
#   GUI            needs a display (Xvfb) under Wine
#   DESKTOP_SHELL  runs inside Wine's desktop shell, so the notification area exists
#   WINE32_SMOKE   also runs where 32-bit Wine is emulated (see above)
#   WHOLE          natively too the executable is one test (cases share a fixture process)
#   ENV            environment of the test (";" inside a value: $<SEMICOLON>)
#   DLLS           shared libraries copied beside the test program (Windows finds them there), on every
#                  build, so a library rebuilt without the test relinking reaches it too
#   DEPENDS        targets the test needs built (helper programs, agents)
#   DEFINES        compile definitions of the test program
#   WRAPPER        command the test program runs under (e.g. one that starts a test agent)
function(om_add_gtest name)
  cmake_parse_arguments(T "GUI;DESKTOP_SHELL;WINE32_SMOKE;WHOLE" "TIMEOUT"
                        "SOURCES;LIBS;LABELS;ENV;DLLS;DEPENDS;DEFINES;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE om_test_main GTest::gtest GTest::gmock ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OM_TEST_OUTPUT_DIRECTORY})
  if(T_DEFINES)
    target_compile_definitions(${name} PRIVATE ${T_DEFINES})
  endif()
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  foreach(dll IN LISTS T_DLLS)
    add_custom_target(${name}.copy.${dll}
      COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${name}>
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dll}> $<TARGET_FILE_DIR:${name}>
      VERBATIM)
    add_dependencies(${name}.copy.${dll} ${dll})
    add_dependencies(${name} ${name}.copy.${dll})
  endforeach()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(OM_WINDOWS)
    if(OM_WIN32 AND OM_WINE32_MODE STREQUAL "emulated")
      if(NOT T_WINE32_SMOKE)
        return()
      endif()
      # Room for wine-run to repeat a run the emulator hung in.
      if(T_TIMEOUT LESS 900)
        set(T_TIMEOUT 900)
      endif()
    endif()
    set(runner ${OM_SCRIPTS}/wine-run --arch ${OM_WINE_ARCH} --prefix ${OM_WINE_PREFIX})
    if(T_DESKTOP_SHELL)
      list(APPEND runner --desktop-shell)
    endif()
    # The environment through env in the command: there a $<SEMICOLON> stays inside its value.
    set(environment)
    if(T_ENV)
      set(environment env ${T_ENV})
    endif()
    add_test(NAME ${name} COMMAND ${environment} ${T_WRAPPER} ${runner} -- $<TARGET_FILE:${name}> --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "wine;${T_LABELS}"
                         FIXTURES_REQUIRED wine)
    if(T_GUI OR T_DESKTOP_SHELL)
      # One display and one desktop: GUI suites take turns.
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_desktop)
    endif()
  elseif(T_WHOLE OR T_WRAPPER)
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "native;${T_LABELS}")
    if(T_ENV)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
    endif()
  else()
    if(T_ENV)
      # Discovery runs the program too; both go through the emulator property.
      set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "env;${T_ENV}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "native;${T_LABELS}")
  endif()
endfunction()

# om_check_imports(<target> [ALLOW dll ...]): the binary imports system DLLs only.
function(om_check_imports target)
  if(NOT OM_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "ALLOW" ${ARGN})
  add_test(NAME imports.${target}
           COMMAND ${OM_SCRIPTS}/check-imports $<TARGET_FILE:${target}> ${T_ALLOW})
  set_tests_properties(imports.${target} PROPERTIES LABELS "binary")
endfunction()

# Wine is started once for the run and stopped when every test that needs it is done.
if(OM_WINDOWS)
  add_test(NAME wine.stop COMMAND ${OM_SCRIPTS}/wine-run --prefix ${OM_WINE_PREFIX} --stop)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine LABELS "wine")
endif()
