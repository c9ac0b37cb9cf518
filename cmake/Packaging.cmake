# Installation beyond the two executables, and the Debian packages:
#   lintra  the client, its help files, desktop entry, icons and metainfo
#   harrox  the server and its systemd unit
# Build them with `cpack -G DEB` in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr (scripts/package-check does it all).

set(LINTRA_MAINTAINER "Lintra developers <lintra-devel@lintra.invalid>"
    CACHE STRING "Maintainer of the Debian packages, \"Name <address>\"")
set(LINTRA_HOMEPAGE_URL "https://github.com/lintra/lintra"
    CACHE STRING "The project's home page")
set(LINTRA_SCREENSHOT_URL
    "https://raw.githubusercontent.com/lintra/lintra/v${PROJECT_VERSION}/docs/images/main-connected.png"
    CACHE STRING "Where software centres fetch the screenshot (docs/images/main-connected.png)")

set(LINTRA_APPSTREAM_ID io.github.lintra.Lintra)
set(LINTRA_DEB_RELEASE 1)
set(LINTRA_RELEASE_DATE 2026-12-07)
set(LINTRA_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 12:00:00 +0000")

set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_bin ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_bin})

set(LINTRA_PACKAGES lintra)
if(TARGET harrox)
    list(APPEND LINTRA_PACKAGES harrox)
endif()

# Compressed the way Debian wants: best compression, no name or time stamp.
function(lintra_gzip input output)
    execute_process(COMMAND gzip -9nc INPUT_FILE ${input} OUTPUT_FILE ${output}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gzip ${input} failed")
    endif()
endfunction()

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
            DESTINATION lib/systemd/system COMPONENT harrox)
endif()

# --- manual pages and the Debian documents of each package ----------------

set(man_lintra Lintra20.1)
set(man_harrox harrox.1)
configure_file(${packaging_src}/copyright.in ${packaging_bin}/copyright @ONLY)
foreach(pkg IN LISTS LINTRA_PACKAGES)
    set(doc ${packaging_bin}/doc-${pkg})
    file(MAKE_DIRECTORY ${doc})
    set(LINTRA_DEB_PACKAGE ${pkg})
    set(LINTRA_DEB_VERSION ${PROJECT_VERSION}-${LINTRA_DEB_RELEASE})
    configure_file(${packaging_src}/changelog.Debian.in ${doc}/changelog.Debian @ONLY)
    lintra_gzip(${doc}/changelog.Debian ${doc}/changelog.Debian.gz)
    configure_file(${packaging_src}/${man_${pkg}} ${doc}/${man_${pkg}} COPYONLY)
    lintra_gzip(${doc}/${man_${pkg}} ${doc}/${man_${pkg}}.gz)
    install(FILES ${packaging_bin}/copyright ${doc}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${pkg})
    install(FILES ${doc}/${man_${pkg}}.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${pkg})
endforeach()

# --- CPack ----------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lintra)
set(CPACK_PACKAGE_VENDOR "Lintra developers")
set(CPACK_PACKAGE_CONTACT "${LINTRA_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description starts with its own synopsis. CPack puts a
# summary other than its default in front of every component's description,
# and would otherwise take the project's description for it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${LINTRA_PACKAGES})
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LINTRA_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LINTRA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${LINTRA_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_LINTRA_PACKAGE_NAME lintra)
# The window needs a platform plugin (only recommended by Qt's GUI library)
# and a font with Japanese glyphs.
set(CPACK_DEBIAN_LINTRA_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk | fonts-ipafont-gothic")
# The help menu hands the help file to xdg-open, which finds xchm.
set(CPACK_DEBIAN_LINTRA_PACKAGE_RECOMMENDS "xchm, xdg-utils, qt6-translations-l10n")
set(CPACK_DEBIAN_LINTRA_DESCRIPTION "text chat client for Harrox servers on the office network
Lintra is a desktop text chat client for a local office network, with a
Japanese user interface. It connects to a Harrox chat server, joins under
the user's name, posts one-line messages and shows the shared conversation.
It comes with its help files (CHM), a desktop entry and AppStream metadata.")

set(CPACK_DEBIAN_HARROX_PACKAGE_NAME harrox)
set(CPACK_DEBIAN_HARROX_DESCRIPTION "chat server for the Lintra text chat clients
Harrox keeps the shared conversation of the Lintra clients of an office
network. Clients connect over TCP port 5001, join under a name, post
one-line messages and fetch the last lines of the conversation, which is
kept in an SQLite database. A systemd unit runs it as a dynamic user.")

include(CPack)
