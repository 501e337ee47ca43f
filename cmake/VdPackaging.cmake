# `cpack -G DEB` in a build folder makes the Debian package of what `cmake --install` puts in
# place. Its dependencies are computed from the installed programs' shared libraries
# (dpkg-shlibdeps), so they follow whatever the build links.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vantor-dashboard")
set(CPACK_PACKAGE_VENDOR "lumenforge")
set(CPACK_PACKAGE_CONTACT "lumenforge <dashboard@lumenforge.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor and remote control for the Vantor traffic-proxy service")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop dashboard that logs in to a Vantor service on this computer, on another machine or on a phone attached by USB and shows its live connections, recent requests, DNS table and UDP sessions. Includes vantorctl, a command-line client, and vantor-sim, a simulated service for demos and tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Devices attached by USB are reached through the USB multiplexing daemon.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "usbmuxd")
include(CPack)
