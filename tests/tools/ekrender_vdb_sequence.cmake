# A .vdb particle cache sequence, written here by ekcache through OpenVDB's point API (positions in
# fixed point, half-float velocities and colours, an id the renderer ignores), renders on the CPU
# the same in one run and in chunks, blurred by its velocities; a damaged frame is refused with its
# number and leaves the good image under its name as it was.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/cache ${WORK}/whole ${WORK}/chunks ${WORK}/still ${WORK}/damaged)
execute_process(COMMAND ${EKCACHE} --output "${WORK}/cache/swirl.####.vdb" --start 1 --end 6
                        --points 3000 RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ekcache (${result}): ${err}")
endif()
set(common --device cpu --input "${WORK}/cache/swirl.####.vdb" --size 64x48 --eye 0,12,26
           --target 0,0,0 --radius 0.08 --samples 4)

include(${CMAKE_CURRENT_LIST_DIR}/sequence_checks.cmake)

ekrender(--start 1 --end 6 --shutter 0.8 --output ${WORK}/whole/f.png)
if(NOT result EQUAL 0 OR NOT out MATCHES
   "particles: 3000 from [^\n]*swirl.0006.vdb \\(1 point grid; used P, v, Cd/Alpha; ignored id\\)"
   OR NOT out MATCHES "frames: 6 rendered, 0 skipped")
  message(FATAL_ERROR "one run (${result}): ${out} ${err}")
endif()
foreach(chunk 0 1 2)
  ekrender(--start 1 --end 6 --shutter 0.8 --output ${WORK}/chunks/f.png --chunks 3
           --chunk ${chunk})
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "chunk ${chunk} (${result}): ${err}")
  endif()
endforeach()
expect_same_frames(${WORK}/whole ${WORK}/chunks 6)
file(SHA256 ${WORK}/whole/f_0001.png first)
file(SHA256 ${WORK}/whole/f_0002.png second)
# The same frame without a shutter: the velocities read from the cache are what blurs it.
ekrender(--start 1 --end 1 --output ${WORK}/still/f.png)
file(SHA256 ${WORK}/still/f_0001.png still)
if(first STREQUAL second OR first STREQUAL still)
  message(FATAL_ERROR "frames of a moving cache, or with and without blur, came out the same")
endif()

# A damaged frame: refused with its number; the frame before it is written, the good image already
# under the damaged frame's name is kept, and nothing after it is rendered.
file(COPY_FILE ${WORK}/whole/f_0004.png ${WORK}/damaged/f_0004.png)
file(WRITE ${WORK}/cache/swirl.0004.vdb "not an OpenVDB file, though named like one\n")
ekrender(--start 3 --end 6 --shutter 0.8 --output ${WORK}/damaged/f.png)
file(SHA256 ${WORK}/whole/f_0004.png good)
file(SHA256 ${WORK}/damaged/f_0004.png kept)
if(NOT result EQUAL 1
   OR NOT err MATCHES "\nekrender: frame 4: [^\n]*swirl.0004.vdb: not a readable OpenVDB file[^\n]*\n$"
   OR NOT EXISTS ${WORK}/damaged/f_0003.png OR NOT kept STREQUAL good
   OR EXISTS ${WORK}/damaged/f_0005.png)
  message(FATAL_ERROR "a damaged frame (${result}): ${err}")
endif()
