#!/usr/bin/env bash
# Sets up a fresh machine, builds Morvane and starts it on your X display.
# Without a display it says so and starts a virtual one (Xvfb), where the
# program runs unseen; the virtual display ends with the program. The exit
# status is the program's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh run
build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF -UMORVANE_LAYERS >/dev/null
cmake --build "$build" --target morvane morvane-entries

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "No X display is reachable (DISPLAY='${DISPLAY:-}'): starting a virtual one." >&2
  echo "Morvane runs there unseen; start it from a desktop session to see its window." >&2
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fifo" 2>/dev/null &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
  echo "Virtual display: $DISPLAY" >&2
fi

program="$build/main/morvane"
"$program" --help | grep '^Configuration folder:' >&2
echo "Connection log: ${XDG_STATE_HOME:-~/.local/state}/morvane/morvane-net.log" >&2
status=0
"$program" || status=$?
exit "$status"
