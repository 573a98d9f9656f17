# Install rules, in the usual places of a prefix: the renderer library and its header, ekrender and
# ekcache, the Flarion plug-in, and the files through which other builds find the library: a
# pkg-config file (emberkit.pc) and a CMake package (find_package(emberkit) gives
# emberkit::emberkit). Nothing else is installed: the tests, benchmarks and the stand-in host stay in
# the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS emberkit EXPORT emberkitTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/renderer/emberkit.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The programs find the library by a run path relative to their own folder, so that the stage and
# an installed prefix work wherever they are copied: beside ekrender in the stage, in the prefix's
# library folder once installed. The one path serves both, so installing leaves it as it is (a
# rewritten path would carry empty entries where the shorter one stood).
install(TARGETS ekrender ekcache RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(RELATIVE_PATH ek_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
set_target_properties(ekrender PROPERTIES BUILD_WITH_INSTALL_RPATH ON
                                          INSTALL_RPATH "$ORIGIN;$ORIGIN/${ek_bin_to_lib}")

# The plug-in loads the renderer library from its own folder. On Windows both sit in bin/, as the
# DLL has to. Elsewhere the plug-in gets a folder of its own, lib/flarion/, which a host can be
# pointed at, with a link to the library one folder up.
set(ek_library_file ${CMAKE_SHARED_LIBRARY_PREFIX}emberkit${CMAKE_SHARED_LIBRARY_SUFFIX})
if(WIN32)
  install(TARGETS Flarion LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  set(ek_plugin_dir ${CMAKE_INSTALL_LIBDIR}/flarion)
  install(TARGETS Flarion LIBRARY DESTINATION ${ek_plugin_dir})
  set(ek_library_link ${CMAKE_CURRENT_BINARY_DIR}/plugin_folder/${ek_library_file})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/plugin_folder)
  file(CREATE_LINK ../${ek_library_file} ${ek_library_link} SYMBOLIC)
  install(FILES ${ek_library_link} DESTINATION ${ek_plugin_dir})
endif()

# pkg-config: the prefix is found from the .pc file's own place, so an installed tree can move.
file(RELATIVE_PATH EK_PC_PREFIX_FROM_PCFILEDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" EK_PC_PREFIX_FROM_PCFILEDIR "${EK_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/emberkit.pc.in ${CMAKE_BINARY_DIR}/emberkit.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/emberkit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The CMake package; a program built for interface version 7 takes any 7.x library.
set(ek_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/emberkit)
install(EXPORT emberkitTargets NAMESPACE emberkit:: DESTINATION ${ek_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/emberkitConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/emberkitConfig.cmake
                              INSTALL_DESTINATION ${ek_package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/emberkitConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/emberkitConfig.cmake ${CMAKE_BINARY_DIR}/emberkitConfigVersion.cmake
        DESTINATION ${ek_package_dir})
