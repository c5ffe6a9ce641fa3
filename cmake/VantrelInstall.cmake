# What `cmake --install` puts where, and the Debian package CPack builds from it.
#
# The programs, the desktop entry, the AppStream metainfo, the icon and the man pages follow the GNU
# layout. Nothing writable is installed: an installed program keeps its data in the user's data folder.

include(GNUInstallDirs)

# The desktop entry, metainfo and icon are all named after this id, as desktop environments expect.
set(VANTREL_APP_ID org.vantrel.vantrel)
# Date of the release named by PROJECT_VERSION, as the metainfo's release entry gives it.
set(VANTREL_RELEASE_DATE 2026-12-08)
set(VANTREL_PACKAGE_CONTACT "Vantrel developers <vantrel@invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(vantrel_programs vantrel-scan vantrel-devsim vantrel-devices)
if(TARGET vantrel)
    list(PREPEND vantrel_programs vantrel)
endif()
install(TARGETS ${vantrel_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET vantrel)
    configure_file(${PROJECT_SOURCE_DIR}/res/${VANTREL_APP_ID}.metainfo.xml.in
                   ${PROJECT_BINARY_DIR}/res/${VANTREL_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${PROJECT_SOURCE_DIR}/res/${VANTREL_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_BINARY_DIR}/res/${VANTREL_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/128.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME ${VANTREL_APP_ID}.svg)
endif()

# Man pages and the package's changelog are compressed the way Debian ships them (gzip -9n: no name or time
# stamp, so the same text always gives the same bytes).
find_program(VANTREL_GZIP gzip REQUIRED)
function(vantrel_gzip input output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${VANTREL_GZIP} ${input} ${output}
        DEPENDS ${input}
        VERBATIM)
endfunction()

# Man pages: the version filled in, then compressed.
set(man_pages)
foreach(program IN LISTS vantrel_programs)
    configure_file(${PROJECT_SOURCE_DIR}/man/${program}.1 ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
    vantrel_gzip(${PROJECT_BINARY_DIR}/man/${program}.1 ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
endforeach()

# What Debian wants beside every package's files: the licence in the machine-readable copyright format, the
# changelog, and the reasons for the lintian tags the package overrides. The changelog's newest entry names
# the package's version (PROJECT_VERSION, then the package revision); its signature, like the package's
# Maintainer field, is VANTREL_PACKAGE_CONTACT.
set(VANTREL_PACKAGE_REVISION 1)
set(VANTREL_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/vantrel)
configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog ${PROJECT_BINARY_DIR}/res/changelog.Debian @ONLY)
vantrel_gzip(${PROJECT_BINARY_DIR}/res/changelog.Debian ${PROJECT_BINARY_DIR}/res/changelog.Debian.gz)
add_custom_target(vantrel_compressed_docs ALL DEPENDS ${man_pages} ${PROJECT_BINARY_DIR}/res/changelog.Debian.gz)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${PROJECT_BINARY_DIR}/res/changelog.Debian.gz
        DESTINATION ${VANTREL_PACKAGE_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vantrel)

# The Debian package: dpkg-shlibdeps finds the libraries the programs link. Named here: the icons of the windows
# are SVG, drawn by a Qt plugin that no program links; the first word of the about item is Chinese, which no
# font of a stock desktop draws (without one the program shows the item in English).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel developers")
set(CPACK_PACKAGE_CONTACT "${VANTREL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find network video devices and register them in a device database")
# lines of at most 80 characters, as lintian asks
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vantrel searches the local network for video devices (digital video
recorders, IP cameras) by a UDP broadcast to port 5050, lists every device
that answers, and registers the selected devices in a surveillance client's
XML device database, with enciphered passwords.
.
The package also holds vantrel-scan, the same search on the command line,
and vantrel-devsim, which simulates devices for trying the search without
hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VANTREL_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET vantrel)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, fonts-wqy-microhei | fonts-noto-cjk")
endif()
# the makers' names of the Vendor column; without the list the column stays empty
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ieee-data")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
