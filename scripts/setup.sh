#!/usr/bin/env bash
# Installs what Morvane needs on Debian 12.
#   scripts/setup.sh run    what building and running the program needs
#   scripts/setup.sh test   that, plus the tools of the test suite and the
#                           package check (the default)
# Safe to run again: packages already present are left as they are.
set -euo pipefail

purpose="${1:-test}"

run_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libxcb1-dev libxcb-xfixes0-dev libxcb-icccm4-dev libxcb-ewmh-dev
  # error mail over TLS
  libssl-dev ca-certificates
  # Wayland: headers and wayland-scanner to build; Qt's Wayland platform to run
  libwayland-dev libwayland-bin qt6-qpa-plugins qt6-wayland libwayland-client0
  xdg-utils xvfb x11-utils
  # morvane-report draws its charts as SVG too
  qt6-svg-dev
  # the window's translations: lrelease and its CMake package
  qt6-tools-dev qt6-l10n-tools
)
test_packages=(
  clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  xdotool openbox
  # headless compositors with XWayland; xhost lets the tests in
  sway weston xwayland x11-xserver-utils
  python3 python3-aiosmtpd locales curl openssl
  # a private Postfix instance with SASL logins for the mail tests
  postfix sasl2-bin libsasl2-modules
  # zone rules for the report tests (TZ=Europe/Berlin, America/Havana)
  tzdata
  dpkg-dev file lintian desktop-file-utils appstream
  iproute2  # network namespaces and tun devices
)

# Headless KDE Plasma (KWin 5.27) and GNOME (Shell 43) sessions for the
# desktop tests, without the rest of either desktop; AT-SPI presses buttons
# there; kwin-x11 (and gnome-shell --x11) for the X11 sessions of both. KWin
# 6.3 and 6.7 and GNOME Shell 48, 50 and 51 come from Debian roots (below).
desktop_packages=(
  kwin-wayland kwin-x11 gnome-shell dconf-gsettings-backend libglib2.0-bin
  at-spi2-core gir1.2-atspi-2.0 python3-gi mmdebstrap
)

case "$purpose" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
missing_desktop=()
if [ "$purpose" = test ]; then
  for p in "${desktop_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_desktop+=("$p")
  done
fi
if [ "${#missing[@]}" -gt 0 ] || [ "${#missing_desktop[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # Postfix installs without questions, and its system instance stays down:
  # the tests run private instances of their own on loopback.
  placed_policy=""
  if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
    echo "postfix postfix/main_mailer_type select Local only" | $sudo debconf-set-selections
    echo "postfix postfix/mailname string $(hostname)" | $sudo debconf-set-selections
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
      $sudo chmod 755 /usr/sbin/policy-rc.d
      placed_policy=1
    fi
  fi
  $sudo apt-get update -qq
  [ "${#missing[@]}" -eq 0 ] || $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${missing[@]}"
  [ "${#missing_desktop[@]}" -eq 0 ] ||
    $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing_desktop[@]}"
  if [ -n "$placed_policy" ]; then $sudo rm -f /usr/sbin/policy-rc.d; fi
  if printf '%s\n' "${missing[@]}" | grep -qx postfix && command -v systemctl >/dev/null &&
     systemctl is-active --quiet postfix 2>/dev/null; then
    $sudo systemctl disable --now postfix >/dev/null 2>&1 || true
  fi
fi

# A userspace WireGuard tunnel for the tests, without recommends: they would
# pull in a kernel module package.
if [ "$purpose" = test ] && ! dpkg-query -W -f='${Status}\n' wireguard-go wireguard-tools 2>/dev/null |
    grep -c "install ok installed" | grep -qx 2; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends wireguard-go wireguard-tools
fi

# Compositors refuse to run as root: the Wayland tests start them as this user.
if [ "$purpose" = test ] && ! id -u morvane-compositor >/dev/null 2>&1; then
  $sudo useradd --system --no-create-home --shell /usr/sbin/nologin morvane-compositor
fi

# A second locale with a decimal comma for the locale-dependent tests, and
# an English one for the window's translation.
missing_locales=()
for name in de_DE en_US; do
  if [ "$purpose" = test ] && ! locale -a 2>/dev/null | grep -qi "^$name\.utf-\?8\$"; then
    missing_locales+=("$name")
  fi
done
if [ "${#missing_locales[@]}" -gt 0 ]; then
  for name in "${missing_locales[@]}"; do
    $sudo sed -i "s/^# *$name.UTF-8 UTF-8/$name.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  done
  $sudo locale-gen >/dev/null
fi

# KWin 6.3 and 6.7, GNOME Shell 48, 50 and 51 for the desktop tests and
# NetworkManager for its tests: Debian roots, made once per machine (a few
# minutes) and kept in /var/cache/morvane-ci.
if [ "$purpose" = test ]; then
  $sudo bash "$(dirname "$0")/make-desktop-roots.sh"
fi
