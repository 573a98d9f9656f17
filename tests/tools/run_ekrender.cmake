# Runs ekrender on the CPU and checks the files it reports. EMULATOR, when set, runs a cross-built
# ekrender (Wine for the Windows build).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${EMULATOR} ${EKRENDER} --device cpu --input ${INPUT} --size 96x54 --frames 3
                        --repopulation 2 --radius 0.2 --output ${WORK}/ring.png
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ekrender failed (${result}): ${out} ${err}")
endif()
foreach(frame 0000 0001 0002)
  if(NOT EXISTS ${WORK}/ring_${frame}.png)
    message(FATAL_ERROR "missing frame ${frame}: ${out}")
  endif()
endforeach()
string(FIND "${out}" "particles: 360 from" found)
if(found EQUAL -1)
  message(FATAL_ERROR "no particle count in: ${out}")
endif()
execute_process(COMMAND ${EMULATOR} ${EKRENDER} --device cpu --input ${INPUT} --size 32x32
                        --output ${WORK}/ring.exr RESULT_VARIABLE result OUTPUT_VARIABLE out)
file(SIZE ${WORK}/ring.exr size)
# 331 header bytes, 32 line offsets and 32 lines of 8 + 8 x 32 bytes.
if(NOT result EQUAL 0 OR NOT size EQUAL 9035)
  message(FATAL_ERROR "EXR not written as expected (${result}, ${size} bytes): ${out}")
endif()
execute_process(COMMAND ${EMULATOR} ${EKRENDER} --input ${WORK}/missing.csv RESULT_VARIABLE result
                ERROR_VARIABLE err OUTPUT_QUIET)
string(FIND "${err}" "missing.csv: cannot open the file" found)
if(result EQUAL 0 OR found EQUAL -1)
  message(FATAL_ERROR "a missing input must fail clearly: ${err}")
endif()
