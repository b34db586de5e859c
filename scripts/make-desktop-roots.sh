#!/usr/bin/env bash
# Makes the Debian roots the desktop and NetworkManager tests run in, once per
# machine:
#   scripts/make-desktop-roots.sh [ROOT]...      (as root; every root by default)
# ROOT is one of trixie-kwin (KWin 6.3), trixie-gnome (GNOME Shell 48),
# forky-kwin (KWin 6.7), forky-gnome (GNOME Shell 50), sid-gnome (GNOME Shell
# 51) and bookworm-nm (NetworkManager 1.42 with OpenVPN). KWin 5.27 and GNOME
# Shell 43 are this machine's own Debian 12 packages.
# Each root is made from Debian's archive (the mirror this machine's apt uses)
# into $MORVANE_DESKTOP_ROOTS/<ROOT> (default /var/cache/morvane-ci) and kept;
# a root whose recipe file matches this script's recipe is reused as it is.
# A root that cannot be made is an error, never a skip.
# The test user (morvane-compositor, made by setup.sh) gets the same uid and
# gid inside, so that sockets and the session bus work across the two sides.
set -euo pipefail

cache=${MORVANE_DESKTOP_ROOTS:-/var/cache/morvane-ci}
user=morvane-compositor
[ "$(id -u)" = 0 ] || { echo "make-desktop-roots: run as root" >&2; exit 2; }
uid=$(id -u "$user") && gid=$(id -g "$user") || { echo "make-desktop-roots: no user $user" >&2; exit 2; }

# kwin-common holds KWin's window search (/WindowsRunner); at-spi2-core the
# accessibility bus a test presses buttons through.
kwin_packages="kwin-wayland kwin-common xwayland dbus-daemon dbus-bin at-spi2-core passwd"
gnome_packages="gnome-shell dbus-daemon dbus-bin xwayland dconf-gsettings-backend libglib2.0-bin at-spi2-core procps fonts-dejavu-core passwd"
nm_packages="network-manager network-manager-openvpn openvpn dbus-daemon dbus-bin libglib2.0-bin iproute2 openssl procps passwd"
declare -A packages=(
  [trixie-kwin]=$kwin_packages [trixie-gnome]=$gnome_packages
  [forky-kwin]=$kwin_packages [forky-gnome]=$gnome_packages [sid-gnome]=$gnome_packages
  [bookworm-nm]=$nm_packages
)
all_roots="trixie-kwin trixie-gnome forky-kwin forky-gnome sid-gnome bookworm-nm"

mirror() {
  local m=
  if [ -r /etc/apt/sources.list.d/debian.sources ]; then
    m=$(awk 'BEGIN { RS = ""; FS = "\n" }
      { u = ""; s = ""
        for (i = 1; i <= NF; i++) { if ($i ~ /^URIs:/) u = $i; if ($i ~ /^Suites:/) s = $i }
        if (u != "" && s !~ /-security/) { sub(/^URIs:[ \t]*/, "", u); split(u, a, " "); print a[1]; exit } }' \
      /etc/apt/sources.list.d/debian.sources)
  fi
  [ -n "$m" ] || m=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' \
    /etc/apt/sources.list 2>/dev/null)
  [ -n "$m" ] || { echo "make-desktop-roots: no Debian mirror in this machine's apt sources" >&2; exit 2; }
  echo "$m"
}

make_root() {
  local name=$1 dir=$cache/$1 suite=${1%%-*}
  local recipe="suite=$suite packages=${packages[$name]} uid=$uid gid=$gid"
  if [ "$(cat "$dir/.morvane-recipe" 2>/dev/null)" = "$recipe" ]; then
    echo "make-desktop-roots: $dir is ready"
    return
  fi
  command -v mmdebstrap >/dev/null || apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends mmdebstrap
  local started=$SECONDS attempt
  # A test's session mounts into a root only in a mount namespace of its own;
  # one mounted here would take its files with it.
  if findmnt -rn -o TARGET | grep -q "^$dir\(\.new\)\?/"; then
    echo "make-desktop-roots: something is mounted in $dir: not removing it" >&2
    exit 1
  fi
  mkdir -p "$cache"
  # The user: its uid may be taken by a system user of the root; only the
  # numbers matter, so an existing entry is kept. No apt sources stay behind.
  # Testing and unstable indexes on a mirror often outlive their Valid-Until
  # date; the packages are still signed and checked. A download that fails
  # on the way is tried again.
  for attempt in 1 2 3; do
    rm -rf "$dir" "$dir.new"
    timeout 1800 mmdebstrap --quiet --variant=apt --aptopt='APT::Install-Recommends "false"' \
      --aptopt='Acquire::Check-Valid-Until "false"' --aptopt='Acquire::Retries "3"' \
      --include="$(echo ${packages[$name]} | tr ' ' ',')" \
      --customize-hook="chroot \"\$1\" getent group $gid >/dev/null || chroot \"\$1\" groupadd -g $gid $user" \
      --customize-hook="chroot \"\$1\" getent passwd $uid >/dev/null || chroot \"\$1\" useradd -r -M -u $uid -g $gid -s /bin/sh $user" \
      --customize-hook='rm -f "$1"/etc/apt/sources.list "$1"/etc/apt/sources.list.d/*; rm -rf "$1"/var/cache/apt/archives/*.deb' \
      "$suite" "$dir.new" "deb $(mirror) $suite main" && break
    echo "make-desktop-roots: making $name failed (attempt $attempt)" >&2
    [ "$attempt" -lt 3 ] || { rm -rf "$dir.new"; exit 1; }
    sleep 5
  done
  echo "$recipe" >"$dir.new/.morvane-recipe"
  mv "$dir.new" "$dir"
  echo "make-desktop-roots: made $dir in $((SECONDS - started)) s"
}

for name in ${@:-$all_roots}; do
  [ -n "${packages[$name]:-}" ] || { echo "make-desktop-roots: unknown root '$name' ($all_roots)" >&2; exit 2; }
done
for name in ${@:-$all_roots}; do
  make_root "$name"
done
