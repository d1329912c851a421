# cmake -DCOMPILER=... -DINCLUDES=a;b -DRIGHT=right.cpp -DWRONG=wrong.cpp -P check_signature.cmake
# The right definition compiles against the generated header; the wrong one is
# refused as a conflicting declaration.
set(flags -std=c++17 -fsyntax-only)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
execute_process(COMMAND ${COMPILER} ${flags} ${RIGHT} RESULT_VARIABLE right OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT right EQUAL 0)
  message(FATAL_ERROR "the right definition does not compile:\n${out}")
endif()
execute_process(COMMAND ${COMPILER} ${flags} ${WRONG} RESULT_VARIABLE wrong OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(wrong EQUAL 0)
  message(FATAL_ERROR "a definition with a wrong parameter type compiled")
endif()
if(NOT out MATCHES "conflicting declaration")
  message(FATAL_ERROR "the wrong definition failed for another reason:\n${out}")
endif()
message(STATUS "a definition differing from its Java declaration is refused")
