# The installed package: `cmake --install BUILD --prefix DIR` puts the public
# headers in include/qz, the libraries and qz in lib and bin, and a CMake
# package in lib/cmake/qz, so that a host writes
#
#   find_package(qz CONFIG REQUIRED)
#   target_link_libraries(host PRIVATE qz::ferrow qz::pellam)
#
# The libraries that are built are in it, each as qz::NAME.
include(CMakePackageConfigHelpers)

file(GLOB public_headers ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${public_headers} DESTINATION ${QZ_INSTALL_INCLUDEDIR})

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qz)
install(EXPORT qzTargets NAMESPACE qz:: DESTINATION ${config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qzConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/qzConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/qzConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/qzConfig.cmake ${CMAKE_BINARY_DIR}/package/qzConfigVersion.cmake
        DESTINATION ${config_dir})
