# Installs the build into a fresh prefix and builds a small C program against the installed
# library both ways a user would: pkg-config with the C compiler, and a CMake project with
# find_package. Both programs must render, and the installed ekrender must find the installed
# library, and the installed plug-in the installed library. Takes BUILD_DIR, WORK, C_COMPILER,
# GENERATOR, CONSUMER (the program's folder), FLARION_HOST (the stand-in host) and SCENE (its input).
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${what} failed (${code}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE pc_files ${prefix}/*/emberkit.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "expected one installed emberkit.pc, found: ${pc_files}")
endif()
cmake_path(GET pc_files PARENT_PATH pc_dir)
cmake_path(GET pc_dir PARENT_PATH libdir)

# Only the deliverables are installed: no test program, benchmark or stand-in host.
file(GLOB installed_programs RELATIVE ${prefix}/bin ${prefix}/bin/*)
if(NOT installed_programs STREQUAL "ekcache;ekrender")
  message(FATAL_ERROR "installed programs: ${installed_programs}, expected ekcache and ekrender")
endif()

# The installed binaries search for libraries only relative to their own folders.
find_program(readelf readelf REQUIRED)
run("the installed run paths" ${CMAKE_COMMAND} -DREADELF=${readelf}
    "-DFOLDERS=${prefix}/bin;${libdir};${libdir}/flarion"
    -P ${CMAKE_CURRENT_LIST_DIR}/../relative_run_paths.cmake)

# pkg-config and the C compiler, with the run path given by hand as a user would.
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run("pkg-config" pkg-config --cflags --libs emberkit)
separate_arguments(flags UNIX_COMMAND "${output}")
run("cc with pkg-config flags" ${C_COMPILER} ${CONSUMER}/render_one_spot.c ${flags}
    -Wl,-rpath,${libdir} -o ${WORK}/render_pkg_config)
run("the program built with pkg-config" ${WORK}/render_pkg_config)

# A CMake project with find_package; CMake gives the program the library's run path.
run("configuring the find_package project" ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/consumer
    -G "${GENERATOR}" -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
run("building the find_package project" ${CMAKE_COMMAND} --build ${WORK}/consumer)
run("the program built with find_package" ${WORK}/consumer/render_one_spot)

# The installed programs find the installed library (the build folder is not on their run path).
run("installed ekrender --info" ${prefix}/bin/ekrender --info --device cpu)
if(NOT output MATCHES "^device: ")
  message(FATAL_ERROR "ekrender --info printed: ${output}")
endif()

# The installed plug-in, run by the stand-in host from its folder, loads the installed library
# through the link beside it and renders the scene's particles.
file(REAL_PATH ${libdir}/flarion/libemberkit.so plugin_library)
if(NOT plugin_library STREQUAL "${libdir}/libemberkit.so")
  message(FATAL_ERROR "${libdir}/flarion/libemberkit.so leads to ${plugin_library}")
endif()
run("the installed plug-in in the stand-in host" ${FLARION_HOST} ${SCENE} --ticks 3
    --plugin-dir ${libdir}/flarion)
if(NOT output MATCHES "= Particles: [1-9]" OR output MATCHES "ERROR")
  message(FATAL_ERROR "the installed plug-in did not render:\n${output}")
endif()
