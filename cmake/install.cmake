# Installation: the library, its headers, CMake package files and a
# pkg-config file, so hosts can use find_package(vek_core) or pkg-config.
include(CMakePackageConfigHelpers)

set(VEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vek_core)

install(TARGETS vek_core EXPORT vek_coreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
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
