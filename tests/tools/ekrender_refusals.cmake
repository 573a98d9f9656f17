# Runs ekrender on requests it must refuse before rendering, or fail clearly, and checks the
# message, the exit status and that the input file survives.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${INPUT} DESTINATION ${WORK})
get_filename_component(name ${INPUT} NAME)
set(input ${WORK}/${name})
file(SHA256 ${input} inputHash)

# expect_failure(MESSAGE ARGS...): ekrender with ARGS fails, says MESSAGE and renders nothing.
function(expect_failure message)
  execute_process(COMMAND ${EKRENDER} --device cpu --count 1000 --size 64x36 ${ARGN}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "${message}" found)
  string(FIND "${out}" "render:" rendered)
  if(result EQUAL 0 OR found EQUAL -1 OR NOT rendered EQUAL -1)
    message(SEND_ERROR "ekrender ${ARGN}: expected a failure saying \"${message}\", got "
                       "${result}: ${out} ${err}")
  endif()
endfunction()

expect_failure("is the input file: it would be overwritten"
               --input ${input} --output ${input} --format png8)
expect_failure("is the input file"
               --input ${input} --output ${WORK}/./${name} --format exr --frames 1)
expect_failure("--light: at most 8 lights are used; \"point:pos=9,0,0\" would be one more"
               --volumetric --light point --light point --light point --light point
               --light point --light point --light point --light point --light point:pos=9,0,0
               --output ${WORK}/lights.png)
expect_failure("--fov expects DEGREES, got \"0\"" --fov 0 --output ${WORK}/fov.png)
expect_failure("--fov expects DEGREES, got \"180\"" --fov 180 --output ${WORK}/fov.png)
expect_failure("the eye and the target are the same point"
               --eye 1,2,3 --target 1,2,3 --output ${WORK}/eye.png)
expect_failure("the up direction is zero" --up 0,0,0 --output ${WORK}/up.png)
expect_failure("the up direction is parallel to the view"
               --eye 0,50,0 --target 0,0,0 --output ${WORK}/parallel.png)
expect_failure("a 32768x32768 image is too large for a PNG file"
               --size 32768x32768 --output ${WORK}/huge.png)
expect_failure("could not write \"${WORK}/missing/out.png\": No such file or directory"
               --output ${WORK}/missing/out.png)
expect_failure("${WORK}: is a folder, not a particle file" --input ${WORK} --output ${WORK}/f.png)

file(SHA256 ${input} afterHash)
if(NOT afterHash STREQUAL inputHash)
  message(SEND_ERROR "the input file was changed")
endif()
file(GLOB left ${WORK}/*.png ${WORK}/*.exr)
if(left)
  message(SEND_ERROR "refused runs left files: ${left}")
endif()
