# Installing: the three libraries (versioned sonames), the public headers, pkg-config files, a
# CMake package (find_package(mz) with mz::mzview, mz::mzpattern, mz::mzcalib) and the programs;
# CPack makes a Debian package of the same tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MZ_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mz)

# Installed programs find the libraries beside them.
set_target_properties(calibration-cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS mzview mzpattern mzcalib mzheaders EXPORT mzTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libraries NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${MZ_INCLUDE_DIR}/mz DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  FILES_MATCHING PATTERN "*.h")
install(TARGETS calibration-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
if(TARGET calibration)
  set_target_properties(calibration PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS calibration RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endif()

install(EXPORT mzTargets NAMESPACE mz:: DESTINATION ${MZ_CMAKE_INSTALL_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/install/mzConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mzConfig.cmake INSTALL_DESTINATION ${MZ_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mzConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mzConfig.cmake ${PROJECT_BINARY_DIR}/mzConfigVersion.cmake
  DESTINATION ${MZ_CMAKE_INSTALL_DIR} COMPONENT development)

# The prefix is found from the .pc file's own place, so the tree works wherever it is installed
# (cmake --install --prefix, the Debian package's /usr).
file(RELATIVE_PATH MZ_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
foreach(lib mzview mzpattern mzcalib)
  set(MZ_PC_NAME ${lib})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/install/mz.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${lib}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endforeach()

set(CPACK_PACKAGE_NAME mz-avm-calibration)
set(CPACK_PACKAGE_VENDOR "surround-view calibration")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Surround-view camera calibration: libraries mzview, mzpattern, mzcalib and programs")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "surround-view calibration maintainers")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
