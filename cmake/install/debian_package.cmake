# `cpack -G DEB` in the build folder makes a Debian package of what the install rules put in place.
# Its run-time dependencies are read from the installed binaries by dpkg-shlibdeps where it is
# present (the CUDA runtime is linked into the library, so no CUDA package is among them).
set(CPACK_PACKAGE_NAME emberkit)
set(CPACK_PACKAGE_VENDOR "emberkit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Particle renderer library with a flat C interface, its command-line tools and the Flarion plug-in")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "libemberkit renders particle clouds on the CPU or on CUDA GPUs, additive or volumetric with "
       "lights and shadows, and writes PNG and EXR images. The package holds the library, its C "
       "header, pkg-config and CMake files, ekrender (renders particle files and cache sequences), "
       "ekcache (writes synthetic cache sequences) and the Flarion plug-in.")
set(EK_PACKAGE_MAINTAINER "emberkit maintainers <maintainers@emberkit.invalid>" CACHE STRING
    "Maintainer named in the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${EK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(EK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(EK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
