#!/usr/bin/env bash
# Builds the Debian package and its -dbgsym package from the build tree and
# runs lintian on both: any error or warning fails (the overrides the package
# ships, for the helper's mode, are the only ones). Exit 77 without lintian.
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
# The notes (I:) are shown too, so that a new one is seen; only errors and warnings fail.
lintian --display-info --fail-on error,warning "${packages[@]}"
echo "lintian: no error, no warning"
