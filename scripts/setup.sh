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
  # Wayland: headers and wayland-scanner to build; Qt's Wayland platform to run
  libwayland-dev libwayland-bin qt6-qpa-plugins qt6-wayland libwayland-client0
  xdg-utils xvfb x11-utils
)
test_packages=(
  clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  xdotool openbox
  # headless compositors with XWayland; xhost lets the tests in
  sway weston xwayland x11-xserver-utils
  python3 python3-aiosmtpd locales curl
  dpkg-dev file lintian desktop-file-utils appstream
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
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}"
fi

# Compositors refuse to run as root: the Wayland tests start them as this user.
if [ "$purpose" = test ] && ! id -u morvane-compositor >/dev/null 2>&1; then
  $sudo useradd --system --no-create-home --shell /usr/sbin/nologin morvane-compositor
fi

# A second locale with a decimal comma for the locale-dependent tests.
if [ "$purpose" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
