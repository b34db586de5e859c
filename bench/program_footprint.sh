#!/usr/bin/env bash
# Start-up time, resident memory and CPU while polling of the real program,
# on a private X server, beside xmessage started the same way as a peer.
#   bench/program_footprint.sh BUILD_DIR [POLL_SECONDS]
# BUILD_DIR is a (release) build directory holding main/morvane.
set -euo pipefail
build=$(cd "$1" && pwd)
poll_seconds=${2:-60}
work=$(mktemp -d)
Xvfb -displayfd 4 -nolisten tcp -screen 0 1024x768x24 4>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
until [ -s "$work/display" ]; do sleep 0.01; done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb

cp "$build/main/morvane" "$work/morvane"
cat > "$work/morvane.properties" <<'CONF'
names = never
never = /bin/true
window = A status window that never appears
CONF
printf 'system.debug.tracesystemout = false\n' > "$work/debug.properties"

now_ms() { date +%s%3N; }
# Whether process $1 has ended (a child that ended stays a zombie until reaped).
ended() { [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }
wait_window() {  # title regex, pid of the program; polls every 5 ms, gives up after 60 s
  local deadline=$(( $(now_ms) + 60000 )) status=0
  until xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
    if ended "$2"; then
      wait "$2" || status=$?
      echo "giving up: the program ended (status $status) before its window showed" >&2
      exit 1
    fi
    if [ "$(now_ms)" -ge "$deadline" ]; then
      echo "giving up: no window titled $1 within 60 s" >&2
      kill "$2" 2>/dev/null || true
      exit 1
    fi
    sleep 0.005
  done
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

startup() {  # command... ; prints ms until a window titled $title is visible
  local t0 pid
  t0=$(now_ms)
  "$@" >/dev/null 2>&1 &
  pid=$!
  wait_window "$title" "$pid"
  echo $(( $(now_ms) - t0 ))
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
}

runs=10
cd "$work"
title='^Morvane$'
for _ in $(seq $runs); do startup ./morvane; done >"$work/morvane.ms"
title='^peer$'
for _ in $(seq $runs); do startup xmessage -title peer peer; done >"$work/xmessage.ms"
morvane_ms=$(median <"$work/morvane.ms")
xmessage_ms=$(median <"$work/xmessage.ms")
echo "start to window shown (median of $runs): morvane ${morvane_ms} ms, xmessage ${xmessage_ms} ms" \
  "(ratio $(awk -v a="$morvane_ms" -v b="$xmessage_ms" 'BEGIN{printf "%.1f", a/b}'))"

./morvane >/dev/null 2>&1 &
pid=$!
wait_window '^Morvane$' "$pid"
sleep 1
rss_idle=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
window=$(xdotool search --onlyvisible --name '^Morvane$' | head -1)
xdotool mousemove --window "$window" 60 52 click 1
sleep 2
ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$poll_seconds"
after=$(ticks)
rss_polling=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
cpu_ms=$(( (after - before) * 1000 / hz ))
echo "resident memory: ${rss_idle} kB idle, ${rss_polling} kB after ${poll_seconds} s of polling"
echo "CPU while polling once a second for ${poll_seconds} s: ${cpu_ms} ms" \
  "($(awk -v c="$cpu_ms" -v s="$poll_seconds" 'BEGIN{printf "%.3f", c/(s*10)}') % of one core)"
kill "$pid"
cd /
