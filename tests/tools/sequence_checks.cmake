# Helpers of the ekrender sequence scripts.

# Runs ekrender with the script's ${common} options and ARGN; leaves result, out and err set.
function(ekrender)
  execute_process(COMMAND ${EKRENDER} ${common} ${ARGN} RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(result ${result} PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# Fails unless frames 1..LAST of f_####.png are byte for byte the same in folders A and B.
function(expect_same_frames a b last)
  foreach(frame RANGE 1 ${last})
    file(SHA256 ${a}/f_000${frame}.png first)
    file(SHA256 ${b}/f_000${frame}.png second)
    if(NOT first STREQUAL second)
      message(FATAL_ERROR "frame ${frame} differs between one run and chunks")
    endif()
  endforeach()
endfunction()
