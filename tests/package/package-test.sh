#!/usr/bin/env bash
# Installs the Debian package into a clean, minimal Debian 12 system made with
# debootstrap, checks what the installation did, removes the package and
# checks that nothing is left. Exit 77 (skipped) where that cannot run.
set -euo pipefail
root="$1"
build="$2"

skip() { echo "SKIPPED: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root (debootstrap, chroot, network namespaces)"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
command -v cpack >/dev/null || skip "cpack is not installed"

mirror="${TVX_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
work="$(mktemp -d /var/tmp/tvx-package.XXXXXX)"
target="$work/root"
ns="tvxpkg$$"
cleanup() {
  set +e
  for m in proc sys dev/pts dev; do
    mountpoint -q "$target/$m" && umount -l "$target/$m"
  done
  ip netns del "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "== building the package"
(cd "$build" && cpack -G DEB -B "$work/dist" >/dev/null)
deb="$(ls "$work"/dist/*.deb)"
echo "$deb"

echo "== making a minimal Debian 12 system"
cache="${TVX_DEBOOTSTRAP_CACHE:-/var/cache/tvx-debootstrap}"
mkdir -p "$cache"
tarball="$cache/bookworm-minbase.tgz"
if [[ ! -s $tarball ]]; then
  debootstrap --variant=minbase --make-tarball="$tarball.part" bookworm "$work/tarball" "$mirror" \
    >"$work/debootstrap-tarball.log" 2>&1 || { tail -20 "$work/debootstrap-tarball.log"; \
    skip "debootstrap could not download Debian 12"; }
  mv "$tarball.part" "$tarball"
fi
debootstrap --variant=minbase --unpack-tarball="$tarball" bookworm "$target" "$mirror" \
  >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log"; exit 1; }
mount -t proc proc "$target/proc"
mount --bind /dev "$target/dev"
mount --bind /dev/pts "$target/dev/pts"
cp /etc/resolv.conf "$target/etc/resolv.conf"
echo "deb $mirror bookworm main" >"$target/etc/apt/sources.list"

# Everything that runs a program of ours runs in a namespace of its own.
ip netns add "$ns"
ip -n "$ns" link set lo up
in_root() { chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_ns() { ip netns exec "$ns" chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

echo "== installing the package with its dependencies"
cp "$deb" "$target/tmp/pkg.deb"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; exit 1; }
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  /tmp/pkg.deb >>"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; exit 1; }
grep -q "usermod -aG netdev" "$work/apt.log" || { echo "FAIL: no word on joining netdev"; exit 1; }
in_root dpkg-query -L tarvanix-utility >"$work/files.txt"

failures=0
check() { if "$@"; then echo "ok: ${desc}"; else echo "FAIL: ${desc}"; failures=$((failures + 1)); fi; }

helper=/usr/libexec/tarvanix/tarvanix-netpin
sim=/usr/libexec/tarvanix/tarvanix-modsim
for prog in /usr/bin/tarvanix-utility /usr/bin/tarvanix-cli "$sim" "$helper"; do
  desc="$prog --help"; check sh -c "ip netns exec '$ns' chroot '$target' $prog --help >/dev/null"
done
desc="the helper reads /etc/tarvanix/netpin.conf, and its man page says so"
check sh -c "ip netns exec '$ns' chroot '$target' $helper --help | grep -q ' /etc/tarvanix/netpin.conf' &&
  zcat '$target/usr/share/man/man8/tarvanix-netpin.8.gz' | grep -q '/etc/tarvanix/netpin.conf' &&
  ! zcat '$target/usr/share/man/man8/tarvanix-netpin.8.gz' | grep -q /usr/local"
desc="the simulator is not among the user's commands"
check test ! -e "$target/usr/bin/tarvanix-modsim"
desc="man pages for every program"
check test -s "$target/usr/share/man/man1/tarvanix-utility.1.gz" -a \
  -s "$target/usr/share/man/man1/tarvanix-cli.1.gz" -a \
  -s "$target/usr/share/man/man1/tarvanix-modsim.1.gz" -a \
  -s "$target/usr/share/man/man8/tarvanix-netpin.8.gz"
unit="$target/usr/lib/systemd/system/tarvanix-tty@.service"
desc="the serial port unit runs the installed CLI"
check grep -q '^ExecStart=/usr/bin/tarvanix-cli tty ' "$unit"
desc="the serial port unit reads /etc/tarvanix/tty"
check grep -qx 'EnvironmentFile=/etc/tarvanix/tty/%i.conf' "$unit"
desc="copyright and changelog"
check test -s "$target/usr/share/doc/tarvanix-utility/copyright" -a \
  -s "$target/usr/share/doc/tarvanix-utility/changelog.gz"
# The help and the man pages send the reader to files: each of them is installed.
named_files_installed() {
  local named path ok=0
  named="$(ip netns exec "$ns" chroot "$target" /usr/bin/tarvanix-cli --help
    for page in "$target"/usr/share/man/man*/tarvanix-*.gz; do zcat "$page" | sed 's/\\-/-/g'; done)"
  while read -r path; do
    [[ -e $target$path ]] || { echo "named but not installed: $path"; ok=1; }
  done < <(grep -oE '/usr/(bin|libexec|share)/[A-Za-z0-9._/+-]*[A-Za-z0-9]' <<<"$named" | sort -u)
  return "$ok"
}
desc="every file the help and the man pages name is installed"
check named_files_installed
desc="the utility starts offscreen"
rc=0; in_ns env QT_QPA_PLATFORM=offscreen timeout -s TERM 3 /usr/bin/tarvanix-utility \
  >"$work/utility.log" 2>&1 || rc=$?
check test "$rc" -eq 124 -o "$rc" -eq 0
desc="desktop entry, the icon at every size and scalable"
wanted=(-s "$target/usr/share/applications/tarvanix-utility.desktop"
        -a -s "$target/usr/share/icons/hicolor/scalable/apps/tarvanix-utility.svg")
for s in 16 22 24 32 48 64 128 256; do
  wanted+=(-a -s "$target/usr/share/icons/hicolor/${s}x$s/apps/tarvanix-utility.png")
done
check test "${wanted[@]}"
# Numbers, not names: the host's group table is not the clean system's.
netdev_gid="$(in_root getent group netdev | cut -d: -f3)"
desc="helper owned by root:netdev, mode 0750"
check test "$(stat -c '%u:%g %a' "$target$helper")" = "0:$netdev_gid 750"
desc="helper carries cap_net_admin+ep"
check sh -c "getcap '$target$helper' | grep -q 'cap_net_admin=ep'"
# chroot resolves --userspec names outside the chroot: pass numbers.
in_root useradd -M -s /usr/sbin/nologin tvxoutsider
in_root useradd -M -G netdev -s /usr/sbin/nologin tvxinsider
out_ids="$(in_root id -u tvxoutsider):$(in_root id -g tvxoutsider)"
in_ids="$(in_root id -u tvxinsider):$(in_root id -g tvxinsider)"
desc="a user outside netdev cannot run the helper"
check sh -c "! ip netns exec '$ns' chroot --userspec=$out_ids '$target' $helper --help >/dev/null 2>&1"
desc="a member of netdev can run it"
check ip netns exec "$ns" chroot --userspec="$in_ids" --groups="$netdev_gid" "$target" $helper --help

echo "== removing the package"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q tarvanix-utility >>"$work/apt.log" 2>&1
left=0
while read -r path; do
  [[ -e $target$path && ! -d $target$path ]] && { echo "left behind: $path"; left=1; }
  [[ -d $target$path && $path == */tarvanix* ]] && { echo "left behind: $path/"; left=1; }
done <"$work/files.txt"
desc="removal leaves no file"; check test "$left" -eq 0

if ((failures)); then
  echo "package: $failures check(s) failed"
  exit 1
fi
echo "package: every check passed"
