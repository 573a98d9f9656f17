# Renders a small particle cache sequence (frames 1-6 of moving points, written here) on the CPU:
# in one run and in three chunks, which must give the same bytes; then what a farm relies on:
# --skip-existing renders only what is missing, a missing input frame fails with its number unless
# --allow-missing, progress comes as plain lines when stderr is not a terminal, and bad ranges and
# chunks are refused.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/cache ${WORK}/whole ${WORK}/chunks)
foreach(frame RANGE 1 6)
  set(rows "x,y,z,r,g,b\n")
  foreach(i RANGE 0 40)
    math(EXPR x "${i} * 3 - 60 + ${frame} * 2")
    math(EXPR y "(${i} * 7) % 30 - 15")
    math(EXPR g "(${i} * 37 + ${frame} * 11) % 256")
    string(APPEND rows "${x},${y},${frame},255,${g},40\n")
  endforeach()
  file(WRITE ${WORK}/cache/smoke.000${frame}.csv "${rows}")
endforeach()
set(common --device cpu --input "${WORK}/cache/smoke.####.csv" --size 48x32 --aperture 2
           --focus 60 --samples 4)

include(${CMAKE_CURRENT_LIST_DIR}/sequence_checks.cmake)

ekrender(--start 1 --end 6 --output ${WORK}/whole/f.png)
if(NOT result EQUAL 0 OR NOT err MATCHES "Progress: 50% \\(3/6\\) frame 3: wrote [^\n]*f_0003.png\n")
  message(FATAL_ERROR "one run (${result}): ${out} ${err}")
endif()
foreach(chunk 0 1 2)
  set(ENV{SLURM_ARRAY_TASK_ID} ${chunk})
  ekrender(--start 1 --end 6 --output ${WORK}/chunks/f.png --chunks 3 --chunk env)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "chunk ${chunk} (${result}): ${err}")
  endif()
endforeach()
unset(ENV{SLURM_ARRAY_TASK_ID})
expect_same_frames(${WORK}/whole ${WORK}/chunks 6)
file(SHA256 ${WORK}/whole/f_0001.png first)
file(SHA256 ${WORK}/whole/f_0002.png second)
if(first STREQUAL second)
  message(FATAL_ERROR "the frames of a moving cache came out the same")
endif()

# Resubmitting with --skip-existing renders only the deleted frames.
file(REMOVE ${WORK}/chunks/f_0002.png ${WORK}/chunks/f_0005.png)
ekrender(--start 1 --end 6 --output ${WORK}/chunks/f.png --skip-existing)
string(REGEX MATCHALL "wrote [^\n]*" wrote "${err}")
if(NOT result EQUAL 0 OR NOT wrote MATCHES "^wrote [^;]*f_0002.png;wrote [^;]*f_0005.png$"
   OR NOT out MATCHES "frames: 2 rendered, 4 skipped")
  message(FATAL_ERROR "--skip-existing (${result}): ${out} ${err}")
endif()
file(SHA256 ${WORK}/chunks/f_0005.png again)
file(SHA256 ${WORK}/whole/f_0005.png whole)
if(NOT again STREQUAL whole)
  message(FATAL_ERROR "a re-rendered frame differs")
endif()

# A frame left empty or cut short by a killed task is not kept but rendered again, saying so; a
# run whose every frame is kept succeeds.
file(WRITE ${WORK}/chunks/f_0001.png "")
execute_process(COMMAND head -c 100 ${WORK}/whole/f_0004.png OUTPUT_FILE ${WORK}/chunks/f_0004.png)
ekrender(--start 1 --end 6 --output ${WORK}/chunks/f.png --skip-existing)
if(NOT result EQUAL 0
   OR NOT err MATCHES "frame 1: existing file was incomplete \\(it is empty\\), rendered again: wrote [^\n]*f_0001.png\n"
   OR NOT err MATCHES "frame 4: existing file was incomplete \\(it does not end with the PNG end chunk\\), rendered again: wrote [^\n]*f_0004.png\n"
   OR NOT out MATCHES "frames: 2 rendered, 4 skipped")
  message(FATAL_ERROR "--skip-existing over broken frames (${result}): ${out} ${err}")
endif()
expect_same_frames(${WORK}/whole ${WORK}/chunks 6)
ekrender(--start 1 --end 6 --output ${WORK}/chunks/f.png --skip-existing)
if(NOT result EQUAL 0 OR NOT out MATCHES "frames: 0 rendered, 6 skipped")
  message(FATAL_ERROR "--skip-existing with every frame there (${result}): ${out} ${err}")
endif()

# A frame that cannot be written (a folder in its place) ends the run with its number, after the
# frames before it were written and reported; no frame after it is written.
file(MAKE_DIRECTORY ${WORK}/blocked/f_0003.png)
ekrender(--start 1 --end 6 --output ${WORK}/blocked/f.png)
if(NOT result EQUAL 1
   OR NOT err MATCHES "Progress: 33% \\(2/6\\) frame 2: wrote [^\n]*\nekrender: frame 3: could not write \"[^\n]*f_0003.png\": [^\n]+\n$"
   OR NOT EXISTS ${WORK}/blocked/f_0002.png OR EXISTS ${WORK}/blocked/f_0004.png)
  message(FATAL_ERROR "a frame that cannot be written (${result}): ${err}")
endif()

# A missing input frame: an error naming it, unless --allow-missing.
file(REMOVE ${WORK}/cache/smoke.0004.csv)
ekrender(--start 3 --end 5 --output ${WORK}/missing.png)
if(result EQUAL 0 OR NOT err MATCHES "ekrender: frame 4: [^\n]*smoke.0004.csv: cannot open the file")
  message(FATAL_ERROR "a missing frame must fail (${result}): ${err}")
endif()
ekrender(--start 3 --end 5 --output ${WORK}/missing.png --allow-missing)
if(NOT result EQUAL 0 OR NOT err MATCHES "frame 4: skipped, no [^\n]*smoke.0004.csv"
   OR NOT EXISTS ${WORK}/missing_0005.png OR EXISTS ${WORK}/missing_0004.png)
  message(FATAL_ERROR "--allow-missing (${result}): ${err}")
endif()

# A pattern that matches no file at all renders nothing: a failure with one line, whatever
# --allow-missing says.
foreach(input "${WORK}/no-such-folder/smoke.####.csv" "${WORK}/cache/fire.####.csv")
  execute_process(COMMAND ${EKRENDER} --device cpu --input ${input} --size 48x32 --start 1 --end 3
                          --allow-missing --output ${WORK}/none.png
                  RESULT_VARIABLE result ERROR_VARIABLE err OUTPUT_QUIET)
  string(REGEX MATCHALL "ekrender: [^\n]*" lines "${err}")
  if(NOT result EQUAL 1 OR NOT lines MATCHES "^ekrender: no input file exists for frames 1 to 3 of [^;]*: nothing was rendered$")
    message(FATAL_ERROR "${input}: expected a failure, got ${result}: ${err}")
  endif()
endforeach()

# Bad ranges and chunks: exit status 2, one line, nothing written.
foreach(bad "--start;1" "--start;5;--end;2" "--start;1;--end;2;--step;0"
            "--start;1;--end;6;--chunks;3;--chunk;3")
  ekrender(${bad} --output ${WORK}/bad.png)
  if(NOT result EQUAL 2 OR NOT err MATCHES "^ekrender: [^\n]+\n$")
    message(FATAL_ERROR "${bad}: expected a refusal, got ${result}: ${err}")
  endif()
endforeach()
file(GLOB left ${WORK}/bad*)
if(left)
  message(FATAL_ERROR "refused runs left files: ${left}")
endif()
