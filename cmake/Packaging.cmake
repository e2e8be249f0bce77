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
scripts and fleets, which also makes a module's serial port a terminal of
this host (with a systemd unit, tarvanix-tty@.service, per module), a module
simulator for trying it out, and a small privileged helper that pins the ARP
entry and host route needed to reach a module outside the host's subnets.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, run by the post-installation step.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_PACKAGING_INSTALL_PREFIX ${TARVANIX_PACKAGE_PREFIX})
# The programs keep paths of the prefix they were built for: the helper reads
# its administrator's file in that prefix's etc folder, which for /usr is
# /etc. So a package is made only from a tree configured for /usr
# (scripts/package configures one), never from one for /usr/local.
set(CPACK_TARVANIX_BUILT_FOR "${CMAKE_INSTALL_PREFIX}")
set(CPACK_TARVANIX_NETPIN_CONFIG "${TARVANIX_NETPIN_CONFIG}")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagePrefix.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped programs; their debug symbols go to tarvanix-utility-dbgsym (a .ddeb
# beside the .deb), found by the build IDs.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StripComment.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DbgsymPackage.cmake)

# What Debian asks of every package beside the programs, and the documents the
# programs' help and man pages name. Documents above 4 KiB go compressed.
set(doc_dir ${TARVANIX_DOC_DIR})
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^tarvanix-utility \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not version ${PROJECT_VERSION}")
endif()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(shipped_docs)
foreach(doc README.md docs/json.md)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/${doc} > ${CMAKE_BINARY_DIR}/doc/${name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${doc})
  list(APPEND shipped_docs ${CMAKE_BINARY_DIR}/doc/${name}.gz)
endforeach()
add_custom_target(package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz ${shipped_docs})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  ${shipped_docs} DESTINATION ${doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarvanix-utility)
include(CPack)
