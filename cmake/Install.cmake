# Installation and the two Debian packages: "quelvar" (the window and quelvar-check) and
# "quelvar-status" (the status service).
include(GNUInstallDirs)

install(TARGETS quelvar quelvar-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quelvar)
install(FILES resources/quelvar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT quelvar)
install(FILES resources/quelvar.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT quelvar)
install(FILES man/quelvar.1 man/quelvar-check.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quelvar)
# The example of the system-wide quelvar.ini, in the last place the programs look for one
# (settings/posix/ClientIniSearch.cpp), which is /etc/quelvar whatever the prefix. A conffile,
# so that dpkg keeps an edited copy.
install(FILES resources/quelvar.ini.example DESTINATION /etc/quelvar COMPONENT quelvar)
file(WRITE ${CMAKE_BINARY_DIR}/debian-quelvar/conffiles "/etc/quelvar/quelvar.ini.example\n")
set(CPACK_DEBIAN_QUELVAR_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-quelvar/conffiles)

install(TARGETS quelvar-status RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT status)
install(FILES man/quelvar-status.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT status)
# Named by certbot's --deploy-hook, as the README shows.
install(PROGRAMS status/certbot-deploy-hook
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quelvar-status COMPONENT status)
# systemd looks for units under lib/ of the prefix (/usr/lib/systemd/system for the package).
# The unit names the program where this installation puts it, so it is written when installing,
# for the prefix of that installation (/usr for the package, whatever --prefix says for
# cmake --install), not when configuring.
install(CODE "
    set(QUELVAR_STATUS_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quelvar-status\")
    # One file per destination, so that two installations at once never write the same one.
    string(MD5 destination \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(unit \"${PROJECT_BINARY_DIR}/status/unit/\${destination}/quelvar-status.service\")
    configure_file(\"${PROJECT_SOURCE_DIR}/status/quelvar-status.service.in\" \"\${unit}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE
         FILES \"\${unit}\")
    " COMPONENT status)

set(CPACK_PACKAGE_NAME quelvar)
set(CPACK_PACKAGE_VENDOR "Quelvar")
set(CPACK_PACKAGE_CONTACT "Quelvar developers <quelvar@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quelvar status)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_QUELVAR_PACKAGE_NAME quelvar)
set(CPACK_COMPONENT_QUELVAR_DESCRIPTION
    "Reachability checks of the API Web, Lumora Web and WhatsApp servers (window and quelvar-check)")
# The window needs the X11 platform plugin, which no linked library names.
set(CPACK_DEBIAN_QUELVAR_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_QUELVAR_PACKAGE_RECOMMENDS "fonts-wine")

set(CPACK_DEBIAN_STATUS_PACKAGE_NAME quelvar-status)
set(CPACK_COMPONENT_STATUS_DESCRIPTION
    "Status service that fetches a URL from outside the network for Quelvar's external check")
# ssl-cert makes the group that the unit's SupplementaryGroups= names, which may read the key.
set(CPACK_DEBIAN_STATUS_PACKAGE_DEPENDS "ssl-cert")
set(CPACK_DEBIAN_STATUS_PACKAGE_RECOMMENDS "ca-certificates, certbot")

include(CPack)
