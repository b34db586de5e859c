#!/usr/bin/env bash
# The real program watching a connection through its network interface,
# inside a network namespace of its own, on a private Xvfb (root only).
#  1. Latency from the interface going (its holder killed, the kernel
#     deletes the tun device) to the program's "close connection" line, over
#     RUNS runs: median and worst, beside the peer `ip monitor link`, which
#     prints the deletion as the kernel reports it.
#  2. CPU while 1,000 link events of an unrelated interface arrive: the
#     connected program against `ip monitor link` reading the same events.
#   bench/program_interface_watch.sh BUILD_DIR [RUNS]   (a build with the tests)
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-20}
holder="$build/tests/platform/morvane-test-tun"
work=$(mktemp -d /tmp/morvane-ifwatch-XXXXXX)
ns="morvane-bench-$$"
# Whatever happens, nothing this script started outlives it.
release() {
  [ -s "$work/holder" ] && kill "$(cat "$work/holder")" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
}
source "$(cd "$(dirname "$0")" && pwd)/program-bench-common.sh"
ip netns add "$ns"
ip -n "$ns" link set lo up
# Started directly (no shell function), so that $! is the process itself.
inside=(ip netns exec "$ns")

cat > "$work/connect.sh" <<SCRIPT
#!/bin/sh
"$holder" ppp0 >/dev/null 2>&1 &
echo \$! > "$work/holder"
SCRIPT
chmod +x "$work/connect.sh"
cat > "$work/morvane.properties" <<CONF
interval = 5
names = dial
dial = $work/connect.sh
dial.interface = ppp*
CONF
cd "$work"

# Starts the program connected, the interface up; its output goes to the fifo on fd 3.
connect() {
  rm -f "$work/holder"
  start_connected "${inside[@]}"
  until [ -s "$work/holder" ] && ip -n "$ns" -br link show ppp0 2>/dev/null | grep -q LOWER_UP; do sleep 0.01; done
  sleep 0.3  # the program reads the link's arrival
}

program_ms=()
peer_ms=()
for ((run = 1; run <= runs; run++)); do
  connect
  rm -f "$work/peer"
  mkfifo "$work/peer"
  "${inside[@]}" stdbuf -oL ip monitor link >"$work/peer" &
  peer=$!
  pids+=("$peer")
  exec 4<"$work/peer"
  sleep 0.2  # ip monitor has bound its socket
  start="${EPOCHREALTIME/./}"
  kill -KILL "$(cat "$work/holder")"
  deleted=$(arrival 4 "Deleted")
  closed=$(arrival 3 "close connection @dial")
  peer_ms+=("$(millis "$start" "$deleted")")
  program_ms+=("$(millis "$start" "$closed")")
  wait "$program" || true
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
  exec 3<&- 4<&-
done
echo "interface gone -> line, $runs runs: program (close connection) $(stats "${program_ms[@]}"); peer ip monitor (Deleted) $(stats "${peer_ms[@]}")"

# CPU for unrelated events: the program connected and watching ppp*, the
# peer printing every link event, while a veth end is set up and down.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%.0f\n", s}'; }
connect
ip -n "$ns" link add flap0 type veth peer name flap1
"${inside[@]}" ip monitor link >"$work/monitor" &
peer=$!
pids+=("$peer")
sleep 0.5
for ((i = 0; i < 500; i++)); do printf 'link set flap0 up\nlink set flap0 down\n'; done > "$work/batch"
p0=$(cpu_ns "$program"); m0=$(cpu_ns "$peer")
ip -n "$ns" -batch "$work/batch"
sleep 1  # both have read everything
p1=$(cpu_ns "$program"); m1=$(cpu_ns "$peer")
events=$(grep -c flap0 "$work/monitor" || true)
awk -v p=$((p1 - p0)) -v m=$((m1 - m0)) -v e="$events" 'BEGIN {
  printf "%d unrelated link events, CPU: program %.2f ms, ip monitor link %.2f ms, ratio program/peer %.2f\n", e, p / 1e6, m / 1e6, p / m }'
kill -KILL "$(cat "$work/holder")"
wait "$program" || true
exec 3<&-
cd /
