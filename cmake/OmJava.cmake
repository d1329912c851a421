# JNI headers for every target, JUnit 5 tests on a real JVM, and the check that a
# JNI library exports exactly the natives its Java declarations expect.
set(OM_JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "JDK used for jni.h, javac and the tests")
set(OM_JAVAC ${OM_JAVA_HOME}/bin/javac)
set(OM_JAVA ${OM_JAVA_HOME}/bin/java)
set(OM_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar CACHE FILEPATH "JUnit 5 console launcher")

# Interface target giving jni.h; cross builds use our own jni_md.h for Windows.
add_library(om_jni INTERFACE)
if(OM_WINDOWS)
  target_include_directories(om_jni SYSTEM INTERFACE ${CMAKE_SOURCE_DIR}/platform/jni/win32 ${OM_JAVA_HOME}/include)
else()
  target_include_directories(om_jni SYSTEM INTERFACE ${OM_JAVA_HOME}/include ${OM_JAVA_HOME}/include/linux)
endif()

# om_add_jni_library(<name> SOURCES ...): a JNI library named as System.loadLibrary
# expects it: lib<name>.so on Linux, <name>.dll on Windows.
function(om_add_jni_library name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${T_SOURCES})
  target_link_libraries(${name} PRIVATE om_jni om_platform ${T_LIBS})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(OM_WINDOWS)
    set_target_properties(${name} PROPERTIES PREFIX "")
  endif()
endfunction()

# om_check_jni_exports(<target> JAVA_SOURCES ...): javac -h on the declarations
# gives the expected export names; they must equal the library's exports.
function(om_check_jni_exports target)
  cmake_parse_arguments(T "" "" "JAVA_SOURCES" ${ARGN})
  add_test(NAME jni-exports.${target}
           COMMAND ${OM_SCRIPTS}/check-jni-exports ${OM_JAVAC} $<TARGET_FILE:${target}> ${T_JAVA_SOURCES})
  set_tests_properties(jni-exports.${target} PROPERTIES LABELS "binary")
endfunction()

# om_add_junit(<name> SOURCES ... [NATIVES target ...] [ENV VAR=value ...] [TIMEOUT s])
# Compiles the Java test sources and runs them with the JUnit console launcher on
# the JDK's JVM with -Xcheck:jni; any JNI warning fails the test. The natives are
# found on java.library.path (the bin folder); OM_STANDIN_ROOT is a fresh folder.
function(om_add_junit name)
  if(NOT OM_LINUX OR NOT OM_WITH_JAVA)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;NATIVES;ENV" ${ARGN})
  set(classes ${CMAKE_CURRENT_BINARY_DIR}/${name}.classes)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${classes}
    COMMAND ${OM_JAVAC} -encoding UTF-8 -Xlint:all -Werror -Xlint:-options -Xlint:-processing
            -cp ${OM_JUNIT_JAR} -d ${classes} ${T_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${T_SOURCES}
    COMMENT "javac ${name}")
  add_custom_target(${name} ALL DEPENDS ${stamp} ${T_NATIVES})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  add_test(NAME ${name}
           COMMAND ${OM_SCRIPTS}/with-standin-root
                   ${OM_JAVA} -Xcheck:jni -Djava.library.path=${CMAKE_BINARY_DIR}/bin
                   -Dom.bin=${CMAKE_BINARY_DIR}/bin -Dom.source=${CMAKE_SOURCE_DIR}
                   -Dom.classes=${classes}
                   -jar ${OM_JUNIT_JAR} --class-path ${classes} --scan-class-path
                   --disable-banner --details=summary --fail-if-no-tests --disable-ansi-colors)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "java"
    ENVIRONMENT "${T_ENV}"
    FAIL_REGULAR_EXPRESSION "WARNING in native method;FATAL ERROR in native method;WARNING: JNI local refs")
endfunction()
