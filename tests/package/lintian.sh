#!/usr/bin/env bash
# Builds the Debian package and its -dbgsym package from the build tree and
# runs lintian --pedantic on both: any tag fails, the notes (I:) and pedantic
# ones (P:) too, apart from the overrides the package ships, each with its
# reason. Exit 77 without lintian.
#   lintian.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
build="$2"
command -v lintian >/dev/null || { echo "SKIPPED: lintian is not installed"; exit 77; }
command -v cpack >/dev/null || { echo "SKIPPED: cpack is not installed"; exit 77; }
work="$(mktemp -d /tmp/tvx-lintian.XXXXXX)"
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
mapfile -t packages < <(ls "$work"/*.deb "$work"/*.ddeb 2>/dev/null)
((${#packages[@]} == 2)) || { echo "FAIL: expected the package and its -dbgsym package, got: ${packages[*]:-none}"; exit 1; }
printf '%s\n' "${packages[@]##*/}"
# Lintian checks the symlink /usr/share/doc/tarvanix-utility-dbgsym -> tarvanix-utility only
# together with a Debian source package, which a CPack build has none of.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
  --suppress-tags cannot-check-whether-usr-share-doc-symlink-points-to-foreign-package \
  "${packages[@]}"
echo "lintian --pedantic: no tag beyond the package's overrides"
