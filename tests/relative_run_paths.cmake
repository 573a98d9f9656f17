# Every program and library of the build may search for libraries only relative to its own folder
# ($ORIGIN): a run path into the build folder would let a copy of the binaries (the GPU kit) load
# the build's libraries instead of its own, or fail once the build folder is gone.
#   cmake -DREADELF=... -DFOLDERS="stage;fakes" -P relative_run_paths.cmake
set(checked 0)
set(problems "")
foreach(folder IN LISTS FOLDERS)
  file(GLOB files LIST_DIRECTORIES false "${folder}/*")
  foreach(file IN LISTS files)
    execute_process(COMMAND ${READELF} -d ${file} RESULT_VARIABLE rc OUTPUT_VARIABLE dynamic
                    ERROR_QUIET)
    if(NOT rc EQUAL 0)
      continue() # not an ELF file
    endif()
    math(EXPR checked "${checked} + 1")
    string(REGEX MATCHALL "R(UN)?PATH\\)[^\n]*\\[[^]\n]*\\]" entries "${dynamic}")
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" paths "${entry}")
      string(REPLACE ":" ";" paths "${paths}")
      foreach(path IN LISTS paths)
        if(NOT path MATCHES "^\\$ORIGIN(/|$)")
          string(APPEND problems "  ${file}: ${path}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no binaries found in ${FOLDERS}")
endif()
if(problems)
  message(FATAL_ERROR "run paths outside \$ORIGIN:\n${problems}")
endif()
message(STATUS "${checked} binaries, every run path relative to \$ORIGIN")
