# Installation beyond the two executables, for `cmake --install` and for the
# Debian packages that debian/ builds from it (dpkg-buildpackage -b):
#   client  the command, desktop entry, icons, metainfo, manual pages
#   server  the systemd unit, manual pages

set(LINTRA_HOMEPAGE_URL "https://github.com/lintra/lintra"
    CACHE STRING "The project's home page")
set(LINTRA_SCREENSHOT_URL
    "https://raw.githubusercontent.com/lintra/lintra/v${PROJECT_VERSION}/docs/images/main-connected.png"
    CACHE STRING "Where software centres fetch the screenshot (docs/images/main-connected.png)")
# Relative: under the prefix, where systemd also looks (/usr/local/lib/...).
# debian/rules says /lib/systemd/system: Debian 12's debhelper writes the
# enable, start and purge steps only for units found there.
set(LINTRA_SYSTEMD_UNITDIR lib/systemd/system
    CACHE STRING "Where the server's systemd unit is installed")

set(LINTRA_APPSTREAM_ID io.github.lintra.Lintra)
set(LINTRA_RELEASE_DATE 2026-12-07)

set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_bin ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_bin})

# --- client ---------------------------------------------------------------

# Lintra20 lives in a directory of its own beside its help files (it opens
# them from its own directory); the command in the path is a relative link
# to it, which applicationDirPath() resolves.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    file(RELATIVE_PATH lintra_link_target ${CMAKE_INSTALL_FULL_BINDIR}
         ${CMAKE_INSTALL_FULL_LIBDIR}/lintra/Lintra20)
else()
    file(RELATIVE_PATH lintra_link_target /prefix/${CMAKE_INSTALL_BINDIR}
         /prefix/${CMAKE_INSTALL_LIBDIR}/lintra/Lintra20)
endif()
file(REMOVE ${packaging_bin}/Lintra20)
file(CREATE_LINK ${lintra_link_target} ${packaging_bin}/Lintra20 SYMBOLIC)
install(FILES ${packaging_bin}/Lintra20 DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lintra)

install(FILES ${packaging_src}/lintra.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT lintra)
install(FILES ${PROJECT_SOURCE_DIR}/lintra/app/icons/lintra-32.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME lintra.png COMPONENT lintra)
install(FILES ${PROJECT_SOURCE_DIR}/lintra/app/icons/lintra-256.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME lintra.png COMPONENT lintra)
install(FILES ${PROJECT_SOURCE_DIR}/lintra/app/icons/lintra.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT lintra)

configure_file(${packaging_src}/lintra.metainfo.xml.in
               ${packaging_bin}/${LINTRA_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${packaging_bin}/${LINTRA_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT lintra)

# --- server ---------------------------------------------------------------

if(TARGET harrox)
    configure_file(${packaging_src}/harrox.service.in ${packaging_bin}/harrox.service @ONLY)
    install(FILES ${packaging_bin}/harrox.service
            DESTINATION ${LINTRA_SYSTEMD_UNITDIR} COMPONENT harrox)
    # A conffile: an administrator's changes survive upgrades.
    install(FILES ${packaging_src}/harrox.conf
            DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/harrox COMPONENT harrox)
endif()

# --- manual pages: English, and Japanese from NAME.ja.1 --------------------

set(man ${CMAKE_INSTALL_MANDIR})
# `man lintra` finds the client's page too: a link beside each Lintra20.1.
file(REMOVE ${packaging_bin}/lintra.1)
file(CREATE_LINK Lintra20.1 ${packaging_bin}/lintra.1 SYMBOLIC)
install(FILES ${packaging_src}/Lintra20.1 ${packaging_bin}/lintra.1
        DESTINATION ${man}/man1 COMPONENT lintra)
install(FILES ${packaging_src}/Lintra20.ja.1 RENAME Lintra20.1
        DESTINATION ${man}/ja/man1 COMPONENT lintra)
install(FILES ${packaging_bin}/lintra.1 DESTINATION ${man}/ja/man1 COMPONENT lintra)
install(FILES ${packaging_src}/pcipwrite.1 DESTINATION ${man}/man1 COMPONENT lintra)
if(TARGET harrox)
    install(FILES ${packaging_src}/harrox.1 DESTINATION ${man}/man1 COMPONENT harrox)
    install(FILES ${packaging_src}/harrox.ja.1 RENAME harrox.1
            DESTINATION ${man}/ja/man1 COMPONENT harrox)
endif()
