# Installation: the library, its headers, CMake package files and a
# pkg-config file, so hosts can use find_package(vek_core) or pkg-config.
include(CMakePackageConfigHelpers)

set(VEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vek_core)

install(TARGETS vek_core EXPORT vek_coreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The headers with their area directories (object/, util/, script/, streams/):
# the area umbrellas include them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vek DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT vek_coreTargets NAMESPACE vek_core:: DESTINATION ${VEK_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vek_coreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vek_coreConfig.cmake
  INSTALL_DESTINATION ${VEK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vek_coreConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vek_coreConfig.cmake ${PROJECT_BINARY_DIR}/vek_coreConfigVersion.cmake
  DESTINATION ${VEK_CMAKE_DIR})

# The pkg-config file finds its prefix from its own place, so an installed
# tree can be moved.
file(RELATIVE_PATH VEK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vek_core.pc.in ${PROJECT_BINARY_DIR}/vek_core.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vek_core.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Tcl package: one package directory where Debian's tclsh looks by
# default (<prefix>/lib/tcltk; for another prefix TCLLIBPATH names it),
# whose library is a link to the installed one, so a process loads one copy.
set(VEK_TCL_PKG_DIR lib/tcltk/vek_core${VEK_VERSION})
set(VEK_PKG_INDEX ${PROJECT_BINARY_DIR}/pkgIndex.tcl)
file(WRITE ${VEK_PKG_INDEX}
  "package ifneeded vek_core ${VEK_VERSION} [list load [file join $dir vek_core.so] Vek_core]\n")
install(FILES ${VEK_PKG_INDEX} DESTINATION ${VEK_TCL_PKG_DIR})
install(CODE "
  set(pkg_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VEK_TCL_PKG_DIR}\")
  file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${VEK_TCL_PKG_DIR}\"
       \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/vek_core.so\")
  file(CREATE_LINK \"\${target}\" \"\${pkg_dir}/vek_core.so\" SYMBOLIC)
  message(STATUS \"Installing: \${pkg_dir}/vek_core.so -> \${target}\")")

# The documentation, with the generated Tcl command reference.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_BINARY_DIR}/src/script/tcl_binding/command_reference.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
