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
release() { lab down >/dev/null 2>&1 || true; }
source "$source_dir/bench/program-bench-common.sh"
mkdir -p "$work/lab"
ns=$(lab up | tail -1)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/lab/bus/system_bus_socket"

printf 'interval = 5\nnames = office\noffice.networkmanager = Office VPN\n' > "$work/morvane.properties"
cd "$work"

connect() {
  start_connected ip netns exec "$ns"
  until [ "$(lab nmcli -g GENERAL.STATE con show 'Office VPN' 2>/dev/null)" = activated ]; do sleep 0.02; done
  sleep 0.3  # the program has seen it
}

program_ms=()
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
  program_ms+=("$(millis "$deactivated" "$closed")")
  wait "$program" || true
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
  exec 3<&- 4<&-
done
echo "DEACTIVATED signal (as gdbus monitor receives it) -> close connection line, $runs runs: $(stats "${program_ms[@]}")"

# Idle: connected, nothing happens for 10 s.
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
