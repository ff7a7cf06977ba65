# What `cmake --install` puts where (debian/ packages it).  Programs go side by side into
# bin, since veldra looks for veldra-solve beside itself; libhdrlib with its soname into the
# library folder, and for building against it its link, hdrlib.h, hdrlib.pc and a CMake
# package; the desktop entry, icons, metainfo, manual pages and the user guide into share.
# Components: libhdrlib (the run-time library), libhdrlib-dev, veldra (everything else).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME veldra)

# libhdrlib exports its C interface only: every function hdrlib.h declares.  The list is
# read from the header, so a new function is exported without touching this file.
file(STRINGS ${CMAKE_SOURCE_DIR}/hdrlib/hdrlib.h hdrlib_declarations
     REGEX "^[A-Za-z_][A-Za-z0-9_ ]* \\**[A-Za-z_][A-Za-z0-9_]*\\(")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/hdrlib/hdrlib.h)
set(hdrlib_exports)
foreach(declaration ${hdrlib_declarations})
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\(" ignored "${declaration}")
    string(APPEND hdrlib_exports "        ${CMAKE_MATCH_1};\n")
endforeach()
set(hdrlib_version_script ${CMAKE_BINARY_DIR}/hdrlib.map)
file(CONFIGURE OUTPUT ${hdrlib_version_script}
     CONTENT "{\n    global:\n${hdrlib_exports}    local:\n        *;\n};\n")
target_link_options(hdrlib PRIVATE "LINKER:--version-script=${hdrlib_version_script}")
set_property(TARGET hdrlib APPEND PROPERTY LINK_DEPENDS ${hdrlib_version_script})

install(TARGETS hdrlib EXPORT hdrlibTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libhdrlib
            NAMELINK_COMPONENT libhdrlib-dev)
install(FILES ${CMAKE_SOURCE_DIR}/hdrlib/hdrlib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT libhdrlib-dev)
# The build tree includes "hdrlib/hdrlib.h" from the source folder; an installed copy
# finds <hdrlib.h> in the include folder.
get_target_property(hdrlib_includes hdrlib INTERFACE_INCLUDE_DIRECTORIES)
set(hdrlib_interface_includes "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
foreach(folder ${hdrlib_includes})
    list(APPEND hdrlib_interface_includes "$<BUILD_INTERFACE:${folder}>")
endforeach()
set_property(TARGET hdrlib PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${hdrlib_interface_includes})
set(hdrlib_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/hdrlib)
install(EXPORT hdrlibTargets NAMESPACE hdrlib:: DESTINATION ${hdrlib_cmake_dir}
    COMPONENT libhdrlib-dev)
include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/hdrlibConfig.cmake.in
    ${CMAKE_BINARY_DIR}/hdrlibConfig.cmake INSTALL_DESTINATION ${hdrlib_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/hdrlibConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/hdrlibConfig.cmake ${CMAKE_BINARY_DIR}/hdrlibConfigVersion.cmake
    DESTINATION ${hdrlib_cmake_dir} COMPONENT libhdrlib-dev)
configure_file(${CMAKE_SOURCE_DIR}/cmake/hdrlib.pc.in ${CMAKE_BINARY_DIR}/hdrlib.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/hdrlib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT libhdrlib-dev)

set(manual_pages veldra fitstag veldsim veldra-solve)
# A build without the windows (VELDRA_GUI=OFF, as the fuzzing build is) has no veldra.
foreach(program ${manual_pages})
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

set(data_dir ${CMAKE_SOURCE_DIR}/data)
set(app_id org.veldra.Veldra)
install(FILES ${data_dir}/${app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data_dir}/${app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data_dir}/icons/${app_id}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# PNG icons and compressed manual pages, made from their one source form at build time.
find_program(RSVG_CONVERT rsvg-convert)
find_program(GZIP gzip REQUIRED)
set(generated_data)
if(RSVG_CONVERT)
    foreach(size 16 24 32 48 64 128 256)
        set(png ${CMAKE_BINARY_DIR}/data/icons/${size}x${size}/${app_id}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data/icons/${size}x${size}
            COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${data_dir}/icons/${app_id}.svg
            DEPENDS ${data_dir}/icons/${app_id}.svg VERBATIM)
        list(APPEND generated_data ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
else()
    message(WARNING "rsvg-convert not found (./scripts/setup-deps installs it): no PNG icons")
endif()
foreach(page ${manual_pages})
    if(TARGET ${page})
        set(gz ${CMAKE_BINARY_DIR}/data/man/${page}.1.gz)
        add_custom_command(OUTPUT ${gz}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data/man
            COMMAND sh -c "${GZIP} -9n < \"$0\" > \"$1\"" ${data_dir}/man/${page}.1 ${gz}
            DEPENDS ${data_dir}/man/${page}.1 VERBATIM)
        list(APPEND generated_data ${gz})
        install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endforeach()
set(changelog_gz ${CMAKE_BINARY_DIR}/data/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data
    COMMAND sh -c "${GZIP} -9n < \"$0\" > \"$1\"" ${CMAKE_SOURCE_DIR}/debian/changelog ${changelog_gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/debian/changelog VERBATIM)
list(APPEND generated_data ${changelog_gz})
add_custom_target(veldra_data ALL DEPENDS ${generated_data})
install(FILES ${changelog_gz} ${CMAKE_SOURCE_DIR}/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The user guide, which F1 opens, with its pictures.
set(guide_pictures)
foreach(window main-window chart-window setup-dialog error-dialog)
    foreach(look "" -dark -night)
        list(APPEND guide_pictures ${CMAKE_SOURCE_DIR}/docs/${window}${look}.png)
    endforeach()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md ${guide_pictures}
    ${CMAKE_SOURCE_DIR}/docs/folder-chooser-night.png DESTINATION ${CMAKE_INSTALL_DOCDIR})
