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

# om_add_jni_library(<name> SOURCES ... [LIBS ...]): a JNI library named as
# System.loadLibrary expects it (lib<name>.so on Linux, <name>.dll on Windows),
# linked with the JNI glue (platform/jni).
function(om_add_jni_library name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${T_SOURCES})
  target_link_libraries(${name} PRIVATE om_jni om_jni_glue om_platform ${T_LIBS})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(OM_WINDOWS)
    set_target_properties(${name} PROPERTIES PREFIX "")
  endif()
endfunction()

# om_jni_declarations(<target> JAVA_SOURCES ... [SOURCE_PATH dir]): the Java
# declarations of the natives a target defines (SOURCE_PATH: where the classes
# they refer to are found). At build time javac -h makes their headers in
# <binary>/<target>.jni/include, which goes on the target's include path (and on
# that of whatever links <target>_jni_headers, such as its tests), so a native
# whose signature differs from its declaration is a compile error; every native
# file includes the header of its Java class. For a shared library a test also
# checks that its Java_* exports are exactly the declared natives.
function(om_jni_declarations target)
  cmake_parse_arguments(T "" "SOURCE_PATH" "JAVA_SOURCES" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}.jni)
  set(javac_sources ${T_JAVA_SOURCES})
  if(T_SOURCE_PATH)
    set(javac_sources -sourcepath ${T_SOURCE_PATH} -implicit:none ${T_JAVA_SOURCES})
  endif()
  add_custom_command(
    OUTPUT ${dir}/headers.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/include ${dir}/classes
    COMMAND ${OM_JAVAC} -encoding UTF-8 -h ${dir}/include -d ${dir}/classes ${javac_sources}
    COMMAND ${CMAKE_COMMAND} -E touch ${dir}/headers.stamp
    DEPENDS ${T_JAVA_SOURCES}
    COMMENT "javac -h ${target}")
  add_custom_target(${target}_jni_generated DEPENDS ${dir}/headers.stamp)
  add_library(${target}_jni_headers INTERFACE)
  target_include_directories(${target}_jni_headers INTERFACE ${dir}/include)
  target_link_libraries(${target}_jni_headers INTERFACE om_jni)
  add_dependencies(${target}_jni_headers ${target}_jni_generated)
  target_link_libraries(${target} PRIVATE ${target}_jni_headers)
  set_target_properties(${target} PROPERTIES OM_JNI_HEADERS ${dir}/include)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    add_test(NAME jni-exports.${target}
             COMMAND ${OM_SCRIPTS}/check-jni-exports ${OM_JAVAC} $<TARGET_FILE:${target}> ${javac_sources})
    set_tests_properties(jni-exports.${target} PROPERTIES LABELS "binary")
  endif()
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
  # Helpers every suite shares (host folders as the stand-in names them).
  file(GLOB shared CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/jni/testing/java/com/ombrel/testing/*.java)
  list(APPEND T_SOURCES ${shared})
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
