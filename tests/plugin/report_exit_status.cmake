# Runs a program and prints its output followed by "exit N", so that a test's pass expression can
# check the message and the exit status together, on every platform.
#   cmake [-DEMULATOR=wine64] -P report_exit_status.cmake PROGRAM [ARGUMENTS...]
# EMULATOR runs a cross-built program (CMAKE_CROSSCOMPILING_EMULATOR); empty for a native build.
# The arguments travel as a CMake list, so none of them may contain a semicolon.
set(command ${EMULATOR})
set(first 0)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(first GREATER 0 AND i GREATER_EQUAL first)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "-P")
    math(EXPR first "${i} + 2") # the program follows this script's path
  endif()
endforeach()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
message("${output}exit ${status}")
