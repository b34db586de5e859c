#!/usr/bin/env bash
# Validates the desktop entry and the AppStream metadata, builds the Debian
# package (Release, without tests), checks it with lintian,
# installs it with apt-get, runs the installed program through the demo
# connection on a private Xvfb (connecting with the Return key), removes it
# again and checks that only its conffiles stay; then purges it. Needs root
# or sudo, and the packages of `scripts/setup.sh test`.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# The desktop entry and the AppStream metadata, without errors or hints.
desktop-file-validate packaging/org.morvane.morvane.desktop
appstreamcli validate --no-net --pedantic packaging/org.morvane.morvane.metainfo.xml >/dev/null

build=build-package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF -DMORVANE_WERROR=ON \
  -DMORVANE_SANITIZE=OFF -UMORVANE_LAYERS \
  -DCMAKE_INSTALL_PREFIX=/usr -UMORVANE_CONFIG_DESTINATION >/dev/null
cmake --build "$build"
rm -f "$build"/morvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$PWD/$build"/morvane_*.deb)
echo "== $deb"

lintian --fail-on error "$deb"

# The window's English translation.
dpkg-deb -c "$deb" | grep -q '\./usr/share/morvane/translations/morvane_en\.qm$' ||
  { echo "the package lacks the English translation" >&2; exit 1; }

# The configuration as conffiles, and the GNOME Shell extension in both forms,
# each for the shell versions that load it.
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/xdg/morvane/morvane.properties
contents=$(dpkg-deb -c "$deb")
for form in 'windowlist@morvane.org "45"' 'windowlist-gnome43@morvane.org "43"'; do
  uuid=${form% *}
  for f in extension.js metadata.json; do
    grep -q "\./usr/share/gnome-shell/extensions/$uuid/$f\$" <<<"$contents" ||
      { echo "the package lacks the extension's $uuid/$f" >&2; exit 1; }
  done
  metadata=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/gnome-shell/extensions/$uuid/metadata.json")
  grep -q "\"uuid\": \"$uuid\"" <<<"$metadata" && grep -q "\"shell-version\": \[${form#* }" <<<"$metadata" ||
    { echo "the metadata of $uuid does not fit: $metadata" >&2; exit 1; }
done

$sudo apt-get install -y -qq "$deb" >/dev/null
work=$(mktemp -d)
cleanup() {
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The installed program, run as a user would run it: its own home, an
# unrelated current folder, the system configuration, an English locale (the
# window then speaks English: the taskbar title says so while connected).
mkfifo "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb=$!
read -r number <"$work/display"
mkdir -p "$work/home" "$work/elsewhere"
status=0
(
  cd "$work/elsewhere"
  export DISPLAY=":$number" QT_QPA_PLATFORM=xcb HOME="$work/home"
  unset XDG_CONFIG_HOME XDG_CONFIG_DIRS XDG_STATE_HOME LANGUAGE LC_ALL LC_MESSAGES
  export LANG=en_US.UTF-8
  morvane --help >"$work/help.txt"
  grep -qx 'Configuration folder: /etc/xdg/morvane/' "$work/help.txt"
  morvane >"$work/output.txt" 2>&1 &
  program=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Morvane$' | head -n 1)
  xdotool windowfocus --sync "$window" key Return
  if timeout 30 xdotool search --sync --name '^Morvane: \[Connected to demo\]$' >/dev/null; then
    touch "$work/english"
  fi
  wait "$program"
) || status=$?
log="$work/home/.local/state/morvane/morvane-net.log"
if [ "$status" -ne 0 ] || ! grep -q 'close connection @demo' "$log"; then
  echo "The installed program did not complete the demo connection (status $status)." >&2
  cat "$work/output.txt" "$log" >&2 || true
  exit 1
fi
if [ ! -e "$work/english" ]; then
  echo "The installed program did not show its English title under LANG=en_US.UTF-8." >&2
  exit 1
fi
# The installed report reads that log through the system configuration.
if ! (cd "$work/elsewhere" && env -u XDG_CONFIG_HOME -u XDG_CONFIG_DIRS HOME="$work/home" morvane-report --format csv) | grep -q ",demo,"; then
  echo "The installed morvane-report did not report the demo connection." >&2
  exit 1
fi

# Removing leaves the conffiles and nothing else.
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | grep -v '/$')
$sudo apt-get remove -y -qq morvane >/dev/null
[ "$(dpkg-query -W -f='${db:Status-Abbrev}' morvane)" = "rc " ]
left=0
while read -r f; do
  case "$f" in
    /etc/*) [ -e "$f" ] || { echo "conffile $f was removed" >&2; left=1; } ;;
    *) if [ -e "$f" ] || [ -L "$f" ]; then echo "$f is left after removal" >&2; left=1; fi ;;
  esac
done <<<"$files"
$sudo apt-get purge -y -qq morvane >/dev/null
[ "$left" -eq 0 ]
echo "== package test passed"
