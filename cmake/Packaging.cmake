# The Debian package, built by CPack from the same install rules as
# `cmake --install`. Package relations come from the binaries (dpkg-shlibdeps);
# the only one written here is the tool the post-installation step runs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvanix-utility)
set(CPACK_PACKAGE_VENDOR "Tarvanix Utility developers")
set(CPACK_PACKAGE_CONTACT "Tarvanix Utility developers <maintainers@tarvanix.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find, configure, upgrade and reboot serial-to-Ethernet device servers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tarvanix Utility lists the serial-to-Ethernet device-server modules on the
local IPv4 networks, reads and writes their settings, sends them new
firmware and reboots them. It comes with a command-line companion for
scripts and fleets, a module simulator for trying it out, and a small
privileged helper that pins the ARP entry and host route needed to reach a
module outside the host's subnets.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, run by the post-installation step.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
