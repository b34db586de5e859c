#!/usr/bin/env bash
# Makes the Debian 13 roots the desktop tests run KWin 6 and GNOME Shell 48 in
# (Debian 12 packages neither), once per machine:
#   scripts/make-desktop-roots.sh [kwin|gnome]...     (as root; both by default)
# Each root is made from Debian's archive (the mirror this machine's apt uses)
# into $MORVANE_DESKTOP_ROOTS/<name> (default /var/cache/morvane-ci) and kept;
# a root whose recipe file matches this script's recipe is reused as it is.
# The test user (morvane-compositor, made by setup.sh) gets the same uid and
# gid inside, so that sockets and the session bus work across the two sides.
set -euo pipefail

cache=${MORVANE_DESKTOP_ROOTS:-/var/cache/morvane-ci}
user=morvane-compositor
[ "$(id -u)" = 0 ] || { echo "make-desktop-roots: run as root" >&2; exit 2; }
uid=$(id -u "$user") && gid=$(id -g "$user") || { echo "make-desktop-roots: no user $user" >&2; exit 2; }

declare -A packages=(
  # kwin-common holds KWin's window search (/WindowsRunner); at-spi2-core the
  # accessibility bus a test presses buttons through.
  [kwin]="kwin-wayland kwin-common xwayland dbus-daemon dbus-bin at-spi2-core passwd"
  [gnome]="gnome-shell dbus-daemon dbus-bin xwayland dconf-gsettings-backend libglib2.0-bin at-spi2-core procps fonts-dejavu-core passwd"
)

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
  local name=$1 dir=$cache/trixie-$1
  local recipe="packages=${packages[$name]} uid=$uid gid=$gid"
  if [ "$(cat "$dir/.morvane-recipe" 2>/dev/null)" = "$recipe" ]; then
    echo "make-desktop-roots: $dir is ready"
    return
  fi
  command -v mmdebstrap >/dev/null || apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends mmdebstrap
  local started=$SECONDS
  # A test's session mounts into a root only in a mount namespace of its own;
  # one mounted here would take its files with it.
  if findmnt -rn -o TARGET | grep -q "^$dir\(\.new\)\?/"; then
    echo "make-desktop-roots: something is mounted in $dir: not removing it" >&2
    exit 1
  fi
  rm -rf "$dir" "$dir.new"
  mkdir -p "$cache"
  # The user: its uid may be taken by a system user of the root; only the
  # numbers matter, so an existing entry is kept. No apt sources stay behind.
  mmdebstrap --quiet --variant=apt --aptopt='APT::Install-Recommends "false"' \
    --include="$(echo ${packages[$name]} | tr ' ' ',')" \
    --customize-hook="chroot \"\$1\" getent group $gid >/dev/null || chroot \"\$1\" groupadd -g $gid $user" \
    --customize-hook="chroot \"\$1\" getent passwd $uid >/dev/null || chroot \"\$1\" useradd -r -M -u $uid -g $gid -s /bin/sh $user" \
    --customize-hook='rm -f "$1"/etc/apt/sources.list "$1"/etc/apt/sources.list.d/*; rm -rf "$1"/var/cache/apt/archives/*.deb' \
    trixie "$dir.new" "deb $(mirror) trixie main"
  echo "$recipe" >"$dir.new/.morvane-recipe"
  mv "$dir.new" "$dir"
  echo "make-desktop-roots: made $dir in $((SECONDS - started)) s"
}

for name in "${@:-kwin gnome}"; do
  for n in $name; do
    [ -n "${packages[$n]:-}" ] || { echo "make-desktop-roots: unknown root '$n' (kwin, gnome)" >&2; exit 2; }
    make_root "$n"
  done
done
