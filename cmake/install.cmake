# What `cmake --install` puts where, and the Debian package CPack makes of it
# (./scripts/package).  Programs go side by side into bin, since veldra looks for
# veldra-solve beside itself; libhdrlib with its soname into the library
# folder; hdrlib.h into include; the desktop entry, icons, metainfo and manual pages into
# share.

install(TARGETS hdrlib
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
install(FILES ${CMAKE_SOURCE_DIR}/hdrlib/hdrlib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

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
    COMMAND sh -c "${GZIP} -9n < \"$0\" > \"$1\"" ${data_dir}/changelog ${changelog_gz}
    DEPENDS ${data_dir}/changelog VERBATIM)
list(APPEND generated_data ${changelog_gz})
add_custom_target(veldra_data ALL DEPENDS ${generated_data})
install(FILES ${changelog_gz} ${data_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: its dependencies from the shared libraries the programs link, the
# plate solver and its index files as suggestions.
set(VELDRA_MAINTAINER "Veldra developers <veldra@veldra-astro.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veldra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELDRA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flexure drift correction for guided astrophotography")
# CPack puts the summary first and indents every line below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "veldra watches the folder where the camera program writes its FITS images,
measures where each new image points (from its world-coordinate keywords or
by plate solving), derives the drift rates in right ascension and
declination, filters them and tells the guider to shift its lock point.
.
The package also holds fitstag, which writes the header keywords veldra
needs into FITS files converted from camera-raw files, veldsim, a simulated
night for trying veldra out, and libhdrlib, the FITS header library.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# hdrlib loads CFITSIO on first use, so dpkg-shlibdeps cannot see it: its package is named
# from the library's run-time name (libcfitsio.so.10 -> libcfitsio10).
string(REGEX REPLACE "^lib(.*)\\.so\\.([0-9]+)$" "lib\\1\\2" cfitsio_package
                     ${HDRLIB_CFITSIO_SONAME})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${cfitsio_package} (>= ${CFITSIO_VERSION})")
# libhdrlib is found in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "astrometry.net, astrometry-data-tycho2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# libhdrlib is a shared library: ldconfig runs through a trigger after installing.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${data_dir}/debian/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
