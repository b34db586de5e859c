#!/usr/bin/env bash
# CPU per poll of the real program, measured from outside (schedstat), on a
# private Xvfb holding N titled windows (optionally under openbox), against
# the peer minimal_poll (a fresh minimal pipelined xcb listing, once a second
# too), and the ratios. The program runs alone for SECONDS, then beside the
# peer for as long: the X server's time in the first interval is the
# program's, the rest of it in the second the peer's, so "client + X server"
# holds each one's own share. Nothing changes on the desktop meanwhile, so
# the program's share of a core and its wake-ups per second (context
# switches of all its threads) are those of a quiet desktop.
#   bench/program_poll_cost.sh BUILD_DIR [WINDOWS] [SECONDS] [openbox]
set -euo pipefail
build=$(cd "$1" && pwd)
windows=${2:-1000}
seconds=${3:-30}
work=$(mktemp -d /tmp/morvane-poll-XXXXXX)
Xvfb -displayfd 4 -nolisten tcp -screen 0 1024x768x24 4>"$work/display" 2>/dev/null &
xvfb=$!
pids=()
# Whatever happens, nothing this script started outlives it.
trap 'kill "${pids[@]}" "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
until [ -s "$work/display" ]; do sleep 0.01; done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
if [ "${4:-}" = openbox ]; then openbox --sm-disable >/dev/null 2>&1 & pids+=($!); sleep 2; fi
"$build/bench/hold_windows" "$windows" >"$work/hold" &
pids+=($!)
until grep -qs ready "$work/hold"; do sleep 0.05; done
sleep 3  # a manager frames the windows

cp "$build/main/morvane" "$work/morvane"
cat > "$work/morvane.properties" <<'CONF'
interval = 1
names = never
never = /bin/true
window = A status window that never appears
CONF
printf 'system.debug.tracesystemout = false\n' > "$work/debug.properties"
cd "$work"
./morvane >"$work/out" 2>&1 &
pid=$!
pids+=("$pid")
until xdotool search --onlyvisible --name '^Morvane$' >/dev/null 2>&1; do sleep 0.05; done
sleep 1
window=$(xdotool search --onlyvisible --name '^Morvane$' | head -1)
xdotool mousemove --window "$window" 60 52 click 1
sleep 2

# Nanoseconds on a CPU, all threads of a process (the scheduler's own count).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%.0f\n", s}'; }
# Times any of its threads was switched to, woken or preempted.
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }
if [ -n "${PROFILE:-}" ]; then  # PROFILE=file: a perf record of the program as well
  perf record -g -o "$PROFILE" -p "$pid" -- sleep "$seconds" >/dev/null 2>&1 || true
fi
# First the program alone, so that the X server's time for it is known;
# then the peer beside it over an interval as long, the load of the machine
# weighing on both alike.
p0=$(cpu_ns "$pid"); s0=$(cpu_ns "$xvfb"); w0=$(switches "$pid")
sleep "$seconds"
p1=$(cpu_ns "$pid"); s1=$(cpu_ns "$xvfb"); w1=$(switches "$pid")
"$build/bench/minimal_poll" &
peer=$!
pids+=("$peer")
sleep 2
m0=$(cpu_ns "$peer"); t0=$(cpu_ns "$xvfb")
sleep "$seconds"
m1=$(cpu_ns "$peer"); t1=$(cpu_ns "$xvfb")
program=$(( (p1 - p0) / seconds )); minimal=$(( (m1 - m0) / seconds ))
program_server=$(( (s1 - s0) / seconds ))
# The server's time beside the peer, less what the program alone cost it.
minimal_server=$(( (t1 - t0) / seconds - program_server ))
[ "$minimal_server" -gt 0 ] || minimal_server=0
awk -v p="$program" -v ps="$program_server" -v m="$minimal" -v ms="$minimal_server" -v w="$windows" 'BEGIN {
  printf "%d windows, CPU per poll in ms: program %.3f (+ X server %.3f = %.3f), minimal poll %.3f (+ X server %.3f = %.3f)\n",
         w, p / 1e6, ps / 1e6, (p + ps) / 1e6, m / 1e6, ms / 1e6, (m + ms) / 1e6
  printf "ratio program/minimal: client %.2fx, client + X server %.2fx\n", p / m, (p + ps) / (m + ms) }'
awk -v p="$program" -v w=$(( w1 - w0 )) -v s="$seconds" 'BEGIN {
  printf "program over %d s of a quiet desktop: %.4f %% of one core, %.1f wake-ups a second\n", s, p / 1e7, w / s }'
cd /
