# Installing as a desktop application, and the Debian package built from the
# same rules by CPack. Only the client is installed: the agent simulator, the
# tools and the tests stay in the build tree.
include(GNUInstallDirs)

install(TARGETS KestrumSSLVPN RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Lets the running program tell an installation (its menu entry lies at this
# path from its own folder) from a build folder.
file(RELATIVE_PATH datadir_from_bindir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
target_compile_definitions(orvalin_ui PRIVATE ORVALIN_DATADIR_FROM_BINDIR="${datadir_from_bindir}")

if(UNIX AND NOT APPLE)
    # Qt's xcb platform names the window class after the application name
    # ("Orvalin", set at start-up); the entry's StartupWMClass must match it.
    set(ORVALIN_WM_CLASS "Orvalin")
    set(desktop_dir ${CMAKE_BINARY_DIR}/desktop)
    configure_file(resources/desktop/app.desktop.in ${desktop_dir}/${ORVALIN_APP_ID}.desktop @ONLY)
    configure_file(resources/desktop/app.metainfo.xml.in ${desktop_dir}/${ORVALIN_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${desktop_dir}/${ORVALIN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${desktop_dir}/${ORVALIN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # Each icon size is drawn by the artwork tool at that size, not scaled.
    set(hicolor_dir ${CMAKE_BINARY_DIR}/hicolor)
    set(hicolor_icons "")
    foreach(size 16 32 48 64 128 256)
        set(icon ${hicolor_dir}/${size}x${size}/apps/${ORVALIN_APP_ID}.png)
        list(APPEND hicolor_icons ${icon})
        # File by file: whatever else lies in the build folder stays out.
        install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_command(OUTPUT ${hicolor_icons}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:orvalin-artwork> --hicolor ${hicolor_dir}
        DEPENDS orvalin-artwork
        COMMENT "Drawing the desktop icons"
        VERBATIM)
    add_custom_target(orvalin_hicolor ALL DEPENDS ${hicolor_icons})

    # Debian wants the copyright and a compressed changelog in the package's doc folder.
    set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/kestrum-sslvpn-client)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
        COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
        VERBATIM)
    add_custom_target(orvalin_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
    install(FILES packaging/copyright DESTINATION ${doc_dir})

    # The manual page (compressed, as Debian wants it) and the bash completion.
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/KestrumSSLVPN.1.gz
        COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/resources/man/KestrumSSLVPN.1 > ${CMAKE_BINARY_DIR}/KestrumSSLVPN.1.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/resources/man/KestrumSSLVPN.1
        VERBATIM)
    add_custom_target(orvalin_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/KestrumSSLVPN.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/KestrumSSLVPN.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES resources/completion/KestrumSSLVPN.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME KestrumSSLVPN)
    install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir} RENAME changelog.gz)
endif()

set(CPACK_PACKAGE_NAME "kestrum-sslvpn-client")
set(CPACK_PACKAGE_VENDOR "Kestrum")
set(CPACK_PACKAGE_CONTACT "Kestrum <sslvpn@kestrum.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Kestrum enterprise SSL VPN")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.kestrum.example/")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time rather than linked: the SVG image plugin draws the
# themes' check marks and arrows.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Passwords need a Secret Service; the Chinese texts and the status emoji need
# their fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gnome-keyring | keepassxc, fonts-wqy-microhei | fonts-noto-cjk, fonts-noto-color-emoji")
# CPack puts the summary above this text and indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kestrum SSLVPN Client keeps named connection profiles for Kestrum SSL VPN
gateways, connects with an optional one-time password and shows the
session's addresses, cipher suites, traffic counters and routes. It waits in
the notification area while a session is up and reconnects by itself when
the session is lost.

Passwords are kept in the desktop's Secret Service. The tunnel itself is run
by the Kestrum agent (tunwarden), which this client drives over a local
WebSocket.")
set(CPACK_GENERATOR "DEB")
include(CPack)
