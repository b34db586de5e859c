# Sourced by the benchmarks of the real program (bench/program_*.sh): a
# private Xvfb, the program copied into the work folder and started there
# connected, and the helpers that measure it.
# Before sourcing, the script sets `build` (the build folder) and `work` (a
# fresh folder of its own) and defines `release`, which frees what the script
# itself set up; at exit everything started here is ended, `release` runs and
# the work folder goes.
# shellcheck shell=bash

pids=()
cleanup() {
  kill "${pids[@]}" "$xvfb" 2>/dev/null || true
  release
  rm -rf "$work"
}
Xvfb -displayfd 4 -nolisten tcp -screen 0 1024x768x24 4>"$work/display" 2>/dev/null &
xvfb=$!
trap cleanup EXIT
until [ -s "$work/display" ]; do sleep 0.01; done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
cp "$build/main/morvane" "$work/morvane"
: > "$work/debug.properties"

# Starts ./morvane (after the command words given, e.g. `ip netns exec NS`)
# in the current folder with its output on fd 3, and presses "Verbinden".
# The process is started directly (no shell in between), so $program is the
# program itself.
start_connected() {
  rm -f "$work/out"
  mkfifo "$work/out"
  "$@" ./morvane >"$work/out" 2>&1 &
  program=$!
  pids+=("$program")
  exec 3<"$work/out"
  local window
  window=$(xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
  xdotool mousemove --window "$window" 60 52 click 1
}
# Reads fd $1 until a line holding $2 arrives; prints when, in microseconds.
arrival() {
  local line
  while IFS= read -r line <&"$1"; do
    if [[ $line == *"$2"* ]]; then echo "${EPOCHREALTIME/./}"; return; fi
  done
  echo "line '$2' never came" >&2
  exit 1
}
# Milliseconds, to a tenth, from microsecond time $1 to $2.
millis() { echo "$((($2 - $1) / 1000)).$((($2 - $1) % 1000 / 100))"; }
# "median M ms, worst W ms" of the values given.
stats() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {printf "median %.1f ms, worst %.1f ms", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR]}'; }
# The context switches of process $1, all its threads.
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }
