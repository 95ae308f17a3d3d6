# install.cmake: what `cmake --install` puts in place: the shared library with
# its headers, the mervalt tool, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS mervalt mervalt_engine EXPORT mervaltTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS mervalt_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/mervalt.h ${PROJECT_SOURCE_DIR}/include/mervalt_engine.h
  ${MERVALT_GENERATED_INCLUDE}/mervalt_version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# CMake package: find_package(mervalt 0.3 CONFIG) -> mervalt::mervalt and
# mervalt::engine. Before
# 1.0 a minor version may break the interface, so only patch releases of the
# requested minor version match.
set(MERVALT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mervalt)
install(EXPORT mervaltTargets NAMESPACE mervalt:: DESTINATION ${MERVALT_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mervaltConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mervaltConfig.cmake INSTALL_DESTINATION ${MERVALT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mervaltConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mervaltConfig.cmake ${PROJECT_BINARY_DIR}/mervaltConfigVersion.cmake
  DESTINATION ${MERVALT_CMAKE_DIR})

# pkg-config. With relative install directories the paths are given relative
# to the .pc file itself, so the package stays correct when the prefix is
# chosen at install time (cmake --install --prefix).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(MERVALT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(MERVALT_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(MERVALT_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH pc_to_prefix "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  set(MERVALT_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  set(MERVALT_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(MERVALT_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/mervalt.pc.in ${PROJECT_BINARY_DIR}/mervalt.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/mervalt-engine.pc.in ${PROJECT_BINARY_DIR}/mervalt-engine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mervalt.pc ${PROJECT_BINARY_DIR}/mervalt-engine.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
