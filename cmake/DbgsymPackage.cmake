# Run by CPack after the packages are made (CPACK_POST_BUILD_SCRIPTS): puts the
# -dbgsym package CPack writes into the shape Debian's own have. CPack lists
# its staging paths in md5sums and leaves the package without a doc folder;
# Debian's dbgsym packages point theirs at the main package's and keep the
# debug files mode 0644.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  get_filename_component(name "${ddeb}" NAME)
  string(REGEX REPLACE "_.*" "" package "${name}")
  string(REGEX REPLACE "-dbgsym$" "" main "${package}")
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${ddeb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS "${tree}/DEBIAN/md5sums" lines)
  set(sums "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^([0-9a-f]+)  .*/(usr/lib/debug/.*)$" "\\1  \\2" line "${line}")
    string(APPEND sums "${line}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  file(GLOB_RECURSE debug_files "${tree}/usr/lib/debug/*")
  file(CHMOD ${debug_files} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK "${main}" "${tree}/usr/share/doc/${package}" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${tree}" "${ddeb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
