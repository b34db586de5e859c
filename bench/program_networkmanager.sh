#!/usr/bin/env bash
# The real program watching a NetworkManager VPN profile, with a real
# NetworkManager (tests/support/network-manager-lab.sh, root only, the
# bookworm-nm root of scripts/make-desktop-roots.sh), on a private Xvfb.
#  1. Latency from the VPN's active connection going DEACTIVATED (nmcli
#     connection down) to the program's "close connection" line, over RUNS
#     runs: median and worst, beside the peer `gdbus monitor`, which prints
#     the DEACTIVATED signal as the bus delivers it.
#  2. Wake-ups of a connected session over 10 idle seconds (interval 5):
#     the program's context switches, all threads, against the peer's.
#   bench/program_networkmanager.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-20}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/morvane-nmbench-XXXXXX)
lab() { LAB="$work/lab" LAB_ID="b$$" timeout 90 "$source_dir/tests/support/network-manager-lab.sh" "$@"; }
Xvfb -displayfd 4 -nolisten tcp -screen 0 1024x768x24 4>"$work/display" 2>/dev/null &
xvfb=$!
pids=()
cleanup() {
  kill "${pids[@]}" "$xvfb" 2>/dev/null || true
  lab down >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
until [ -s "$work/display" ]; do sleep 0.01; done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
mkdir -p "$work/lab"
ns=$(lab up | tail -1)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/lab/bus/system_bus_socket"

cp "$build/main/morvane" "$work/morvane"
printf 'interval = 5\nnames = office\noffice.networkmanager = Office VPN\n' > "$work/morvane.properties"
: > "$work/debug.properties"
cd "$work"

connect() {
  rm -f "$work/out"
  mkfifo "$work/out"
  ip netns exec "$ns" ./morvane >"$work/out" 2>&1 &
  program=$!
  pids+=("$program")
  exec 3<"$work/out"
  window=$(xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
  xdotool mousemove --window "$window" 60 52 click 1
  until [ "$(lab nmcli -g GENERAL.STATE con show 'Office VPN' 2>/dev/null)" = activated ]; do sleep 0.02; done
  sleep 0.3  # the program has seen it
}
arrival() {
  local line
  while IFS= read -r line <&"$1"; do
    if [[ $line == *"$2"* ]]; then echo "${EPOCHREALTIME/./}"; return; fi
  done
  echo "line '$2' never came" >&2
  exit 1
}

program_ms=()
peer_ms=()
for ((run = 1; run <= runs; run++)); do
  connect
  rm -f "$work/peer"
  mkfifo "$work/peer"
  stdbuf -oL gdbus monitor --system --dest org.freedesktop.NetworkManager >"$work/peer" &
  peer=$!
  pids+=("$peer")
  exec 4<"$work/peer"
  sleep 0.3  # the monitor is subscribed
  lab nmcli con down 'Office VPN' >/dev/null &
  deactivated=$(arrival 4 "Active.StateChanged (uint32 4,")
  closed=$(arrival 3 "close connection @office")
  delta=$((closed - deactivated))
  program_ms+=("$((delta / 1000)).$((delta % 1000 / 100))")
  wait "$program" || true
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
  exec 3<&- 4<&-
done
stats() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {printf "median %.1f ms, worst %.1f ms", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR]}'; }
echo "DEACTIVATED signal (as gdbus monitor receives it) -> close connection line, $runs runs: $(stats "${program_ms[@]}")"

# Idle: connected, nothing happens for 10 s.
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }
connect
gdbus monitor --system --dest org.freedesktop.NetworkManager >/dev/null &
peer=$!
pids+=("$peer")
sleep 1
p0=$(switches "$program"); m0=$(switches "$peer")
sleep 10
p1=$(switches "$program"); m1=$(switches "$peer")
echo "idle 10 s while connected (interval 5): program $((p1 - p0)) context switches, peer gdbus monitor $((m1 - m0))"
lab nmcli con down 'Office VPN' >/dev/null
wait "$program" || true
exec 3<&-
cd /
