#!/usr/bin/env bash
# Installs everything Morvane needs to build, run and test on Debian 12.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libxcb1-dev libxcb-icccm4-dev libxcb-ewmh-dev
  xvfb x11-utils xdotool openbox
  python3 python3-aiosmtpd
  locales curl
  # Wayland: to run (Qt's Wayland platform, the compositor client library)
  qt6-wayland libwayland-client0
  # Wayland: to build (headers, wayland-scanner)
  libwayland-dev libwayland-bin
  # Wayland: to test (headless compositors with XWayland; xhost lets the tests in)
  sway weston xwayland x11-xserver-utils
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}"
fi

# Compositors refuse to run as root: the Wayland tests start them as this user.
if ! id -u morvane-compositor >/dev/null 2>&1; then
  $sudo useradd --system --no-create-home --shell /usr/sbin/nologin morvane-compositor
fi

# A second locale with a decimal comma for the locale-dependent tests.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
