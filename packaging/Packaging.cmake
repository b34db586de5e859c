# The Debian package: `cpack -G DEB` in a build configured with
#   -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
# (scripts/package-test.sh does that). The package installs to /usr, so the
# default configuration sits in /etc/xdg/morvane as conffiles that dpkg
# never overwrites once changed.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${MORVANE_INSTALL_DOCDIR})
# Debian wants the changelog of a native package compressed as changelog.gz.
morvane_install_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog ${MORVANE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Morvane developers <developers@morvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "start a network connection and log when it ends")
set(CPACK_PACKAGE_DESCRIPTION
    "Morvane lists the configured network connections. Connecting starts the\nchosen connection's program and watches the desktop for its status window;\nonce that window has come and gone again, it logs the end of the\nconnection and exits.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins are loaded at run time, so shlibdeps cannot see them:
# xcb for X11, qt6-wayland for Wayland sessions; xdg-open is the opener.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, libwayland-client0, xdg-utils")
# xmessage shows the demo connection's status window; error mail over TLS
# checks servers against the system's trusted certificates.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "x11-utils, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# A configuration installed under /etc is the admin's: dpkg keeps changes.
set(MORVANE_PACKAGE_CONFIG "${MORVANE_CONFIG_DESTINATION}")
if("${MORVANE_PACKAGE_CONFIG}" STREQUAL "")
  set(MORVANE_PACKAGE_CONFIG /etc/xdg/morvane)  # the default for the package's prefix, /usr
endif()
if(MORVANE_PACKAGE_CONFIG MATCHES "^/etc/")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
       "${MORVANE_PACKAGE_CONFIG}/morvane.properties\n${MORVANE_PACKAGE_CONFIG}/debug.properties\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
endif()
include(CPack)
