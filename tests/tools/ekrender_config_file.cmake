# Runs ekrender with settings files: a good one renders where it says, a bad one stops the run
# with exit status 2 and a message naming the file and line, before anything is rendered.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/frames)

# run(CONFIG): ekrender with the settings file CONFIG, in WORK; sets result, out and err.
macro(run config)
  execute_process(COMMAND ${EKRENDER} --device cpu --count 1000 --config ${config}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
endmacro()

# A comment after a quoted TOML value is not part of the output's name.
file(WRITE ${WORK}/v2.toml "size = \"64x36\"\noutput = \"${WORK}/frames/v2.png\"   # was v1\n")
run(${WORK}/v2.toml)
if(NOT result EQUAL 0 OR NOT EXISTS ${WORK}/frames/v2.png)
  message(SEND_ERROR "v2.toml: expected frames/v2.png, got ${result}: ${out} ${err}")
endif()

# expect_refusal(NAME TEXT MESSAGE): the settings file NAME holding TEXT stops the run with exit
# status 2, saying "NAME:MESSAGE".
function(expect_refusal name text message)
  file(WRITE ${WORK}/${name} "${text}")
  run(${WORK}/${name})
  string(FIND "${err}" "ekrender: ${WORK}/${name}:${message}" found)
  string(FIND "${out}" "render:" rendered)
  if(NOT result EQUAL 2 OR found EQUAL -1 OR NOT rendered EQUAL -1)
    message(SEND_ERROR "${name}: expected exit 2 saying \"${message}\", got ${result}: ${out} "
                       "${err}")
  endif()
endfunction()

expect_refusal(misspelt.ini "size = 64x36\nouput = ${WORK}/misspelt.png\n"
               "2: unknown option \"ouput\" (did you mean \"output\"?)")
expect_refusal(section.ini "size = 64x36\n\n[render]\noutput = ${WORK}/section.png\n"
               "3: unknown section [render]")
expect_refusal(quote.toml "size = \"64x36\noutput = \"${WORK}/quote.png\"\n"
               "1: the quote \" is not closed on its line")
# Bytes that are not text, as a wrongly named image or program would hold.
string(ASCII 1 2 127 200 binary)
expect_refusal(binary.ini "${binary}" "1: not a text file")

file(GLOB left ${WORK}/*.png) # ekrender.png too, the default output
if(left)
  message(SEND_ERROR "refused runs left files: ${left}")
endif()
