# Compiles tests/unit/format_check/cases.cpp once per case: case 0 must
# compile, every case of CASES ("N:reason") must fail with the reason (the
# name of the function the format check calls) in the compiler's output.
# Run with cmake -DCOMPILER=... -DSOURCE=... -DINCLUDE=... -DCASES=... -P.
function(compile_case n out_rc out_text)
  execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only -I${INCLUDE} -DRYK_CASE=${n} ${SOURCE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${out}${err}" PARENT_SCOPE)
endfunction()

compile_case(0 rc text)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the formats that are implemented do not compile:\n${text}")
endif()
foreach(entry IN LISTS CASES)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 n)
  list(GET parts 1 reason)
  compile_case(${n} rc text)
  if(rc EQUAL 0)
    message(FATAL_ERROR "case ${n} compiled; it must be refused (${reason})")
  endif()
  if(NOT text MATCHES "${reason}")
    message(FATAL_ERROR "case ${n} failed without naming ${reason}:\n${text}")
  endif()
endforeach()
