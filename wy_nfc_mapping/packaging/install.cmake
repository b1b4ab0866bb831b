# The library as a package for other programs: the shared library with its soname link and
# development link, the public headers, a pkg-config file and a CMake package exporting
# wy_nfc_mapping::wy_nfc_mapping.

include(CMakePackageConfigHelpers)

install(TARGETS wy_nfc_mapping EXPORT wy_nfc_mappingTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/wy_nfc_mapping DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# pkg-config wants absolute folders, and the prefix is known only when the tree is installed
# (cmake --install --prefix): the version and the folders are filled in now, the prefix then.
set(pc_prefix "@pc_prefix@")
foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
        set(pc_${kind} "${CMAKE_INSTALL_${kind}}")
    else()
        set(pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
endforeach()
configure_file(packaging/wy_nfc_mapping.pc.in wy_nfc_mapping.pc.in @ONLY)
install(CODE "
    set(pc_prefix \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mapping.pc.in\"
                   \"${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mapping.pc\" @ONLY)")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mapping.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The CMake package finds its files relative to itself: it works wherever the tree lies.
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/wy_nfc_mapping)
install(EXPORT wy_nfc_mappingTargets NAMESPACE wy_nfc_mapping:: DESTINATION ${config_dir})
configure_package_config_file(packaging/wy_nfc_mappingConfig.cmake.in
    "${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mappingConfig.cmake" INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mappingConfigVersion.cmake"
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mappingConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/wy_nfc_mappingConfigVersion.cmake"
        DESTINATION ${config_dir})
