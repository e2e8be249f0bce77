# Read by cpack before it builds anything: see Packaging.cmake.
if(NOT CPACK_TARVANIX_BUILT_FOR STREQUAL CPACK_PACKAGING_INSTALL_PREFIX
   OR NOT CPACK_TARVANIX_NETPIN_CONFIG STREQUAL "/etc/tarvanix/netpin.conf")
  message(FATAL_ERROR
    "this tree is built for ${CPACK_TARVANIX_BUILT_FOR} (its helper reads "
    "${CPACK_TARVANIX_NETPIN_CONFIG}), the package installs into "
    "${CPACK_PACKAGING_INSTALL_PREFIX} and its helper must read /etc/tarvanix/netpin.conf: "
    "make the package with scripts/package, or from a tree configured with "
    "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
