#!/bin/bash
# A real NetworkManager for the tests, with nothing of the machine's own network
# touched: NetworkManager and its tools run from a Debian root (chroot) inside
# a network namespace of the lab's own, with a mount and UTS namespace of their
# own (tmpfs over /run, /tmp and NetworkManager's state folders, a fresh sysfs),
# on a private system bus whose socket lies in the lab's state folder. An
# OpenVPN server runs in a second namespace, joined to the first by a veth pair.
#
#   network-manager-lab.sh up       namespaces, bus, NetworkManager, the uplink
#                                   profile "uplink" (up), the OpenVPN server and
#                                   the profiles "Office VPN" (to that server) and
#                                   "Dead VPN" (a port nobody answers, vpn.timeout 8)
#   network-manager-lab.sh down     ends every process of the lab by PID, also the
#                                   ones NetworkManager started (found by their
#                                   namespace), and deletes the namespaces
#   network-manager-lab.sh nmcli ARGS...          nmcli on the lab's bus
#   network-manager-lab.sh stop-nm | start-nm     NetworkManager alone
#   network-manager-lab.sh stop-server            the OpenVPN server
#   network-manager-lab.sh bytes IFACE            "RX TX" of a link in the lab
#
# Environment: LAB (state folder, required; the bus socket is $LAB/bus/socket),
# LAB_ID (a short name of this lab's own, for its namespaces), NM_ROOT (the root,
# default /var/cache/morvane-ci/bookworm-nm). Every wait is bounded.
set -euo pipefail
: "${LAB:?LAB must name the lab\'s state folder}"
ID=${LAB_ID:-$$}
ROOT=${NM_ROOT:-/var/cache/morvane-ci/bookworm-nm}
NS=mnm$ID SNS=mns$ID
IN_BUS=unix:path=/run/dbus/system_bus_socket

anchor() { cat "$LAB/anchor.pid"; }
inns() { nsenter -t "$(anchor)" -m -n -u -r -w -- env DBUS_SYSTEM_BUS_ADDRESS=$IN_BUS "$@"; }
# start NAME CMD...: CMD inside, in the background, PID (of timeout, which passes SIGTERM on) to $LAB/NAME.pid
start() {
    local name=$1; shift
    nsenter -t "$(anchor)" -m -n -u -r -w -- env DBUS_SYSTEM_BUS_ADDRESS=$IN_BUS timeout 3000 "$@" \
        > "$LAB/$name.log" 2>&1 &
    echo $! > "$LAB/$name.pid"
}
stop() {   # NAME: ends what start NAME started, if it still is ours
    local p
    [ -f "$LAB/$1.pid" ] || return 0
    p=$(cat "$LAB/$1.pid"); rm -f "$LAB/$1.pid"
    grep -qaE '^(timeout|/bin/sleep|nsenter)' /proc/$p/cmdline 2>/dev/null || return 0
    kill -TERM "$p" 2>/dev/null || return 0
    for _ in $(seq 100); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.05; done
    kill -KILL "$p" 2>/dev/null || true
}

start_nm() {
    start nm /usr/sbin/NetworkManager --debug --config=/run/lab/NetworkManager.conf --config-dir=/run/lab/conf.d \
        --system-config-dir=/run/lab/sysconf.d --intern-config=/run/lab/intern.conf \
        --state-file=/run/lab/NetworkManager.state --pid-file=/run/lab/nm.pid
    inns timeout 30 nm-online -s -q -t 25 || { tail -20 "$LAB/nm.log" >&2; return 1; }
}

cmd_up() {
    [ -x "$ROOT/usr/sbin/NetworkManager" ] || { echo "no NetworkManager root at $ROOT" >&2; exit 77; }
    mkdir -p "$LAB/bus"; chmod 755 "$LAB" "$LAB/bus"
    ip netns add $NS; ip netns add $SNS
    ip link add vcli$ID netns $NS type veth peer name vsrv netns $SNS
    ip -n $SNS addr add 10.231.0.1/24 dev vsrv
    ip -n $SNS link set lo up; ip -n $SNS link set vsrv up
    ip netns exec $NS unshare --mount --uts --propagation private -- sh -c "
        set -e
        mount -t proc proc $ROOT/proc
        mount -t sysfs -o ro sysfs $ROOT/sys
        mount --bind /dev $ROOT/dev
        for d in run tmp var/lib/NetworkManager etc/NetworkManager; do mount -t tmpfs -o mode=755 tmpfs $ROOT/\$d; done
        mkdir -p $ROOT/run/dbus $ROOT/run/lab
        mount --bind $LAB/bus $ROOT/run/dbus
        hostname nm-lab
        exec chroot $ROOT /bin/sleep 3000" > "$LAB/anchor.log" 2>&1 &
    echo $! > "$LAB/anchor.pid"
    for _ in $(seq 100); do [ -d /proc/$(anchor)/root/run/lab ] && break; sleep 0.05; done
    local R=/proc/$(anchor)/root
    [ -d $R/run/lab ] || { cat "$LAB/anchor.log" >&2; return 1; }
    cat > $R/run/lab/bus.conf <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <user>messagebus</user>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="*"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
</busconfig>
EOF
    start dbus dbus-daemon --config-file=/run/lab/bus.conf --nofork --nopidfile
    for _ in $(seq 200); do [ -S "$LAB/bus/system_bus_socket" ] && break; sleep 0.05; done
    [ -S "$LAB/bus/system_bus_socket" ] || { cat "$LAB/dbus.log" >&2; return 1; }
    mkdir -p $R/run/lab/conf.d $R/run/lab/sysconf.d $R/run/lab/system-connections
    chmod 700 $R/run/lab/system-connections
    cat > $R/run/lab/NetworkManager.conf <<'EOF'
[main]
plugins=keyfile
auth-polkit=false
dns=none
rc-manager=unmanaged
hostname-mode=none
no-auto-default=*
dhcp=internal
[keyfile]
path=/run/lab/system-connections
[connectivity]
enabled=false
[logging]
level=INFO
EOF
    start_nm
    local c="connection.autoconnect no ipv6.method disabled"
    inns timeout 20 nmcli con add type ethernet con-name uplink ifname vcli$ID \
        ipv4.method manual ipv4.addresses 10.231.0.2/24 ipv4.gateway 10.231.0.1 $c > /dev/null
    inns timeout 20 nmcli con up uplink > /dev/null
    # A throw-away PKI, the server and the VPN profiles
    inns sh -ec 'mkdir -p /run/lab/pki && cd /run/lab/pki
        ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
        openssl req -x509 $ec -keyout ca.key -out ca.crt -subj /CN=lab-ca -days 2 2>/dev/null
        for n in server client; do
          openssl req $ec -keyout $n.key -out $n.csr -subj /CN=$n 2>/dev/null
          [ $n = server ] && eku=serverAuth || eku=clientAuth
          printf "extendedKeyUsage=%s\nkeyUsage=digitalSignature,keyAgreement\n" $eku > $n.ext
          openssl x509 -req -in $n.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out $n.crt -days 2 -extfile $n.ext 2>/dev/null
        done'
    nsenter -t "$(anchor)" -m -u -r -w --net=/run/netns/$SNS -- timeout 3000 openvpn --server 10.232.1.0 255.255.255.0 \
        --topology subnet --dev tun --proto udp --local 10.231.0.1 --port 1194 --ca /run/lab/pki/ca.crt \
        --cert /run/lab/pki/server.crt --key /run/lab/pki/server.key --dh none --keepalive 2 10 --verb 3 \
        > "$LAB/server.log" 2>&1 &
    echo $! > "$LAB/server.pid"
    local pki="ca=/run/lab/pki/ca.crt, cert=/run/lab/pki/client.crt, key=/run/lab/pki/client.key, cert-pass-flags=4"
    inns timeout 20 nmcli con add type vpn con-name "Office VPN" vpn-type openvpn ipv4.never-default yes $c \
        vpn.data "remote=10.231.0.1, port=1194, connection-type=tls, $pki, remote-cert-tls=server, dev-type=tun, ping=2, ping-exit=6" > /dev/null
    inns timeout 20 nmcli con add type vpn con-name "Dead VPN" vpn-type openvpn ipv4.never-default yes $c vpn.timeout 8 \
        vpn.data "remote=10.231.0.1, port=1195, connection-type=tls, $pki, dev-type=tun" > /dev/null
    for _ in $(seq 100); do grep -q "Initialization Sequence Completed" "$LAB/server.log" && break; sleep 0.05; done
    echo "$NS"
}

cmd_down() {
    local f n nsi
    for f in server nm dbus anchor; do stop $f; done
    # What NetworkManager started itself (the VPN service, openvpn) is no child of
    # ours: found by its network namespace.
    for n in $NS $SNS; do
        [ -e /run/netns/$n ] || continue
        nsi=$(stat -L -c %i /run/netns/$n)
        for f in /proc/[0-9]*; do
            [ "$(stat -L -c %i $f/ns/net 2>/dev/null)" = "$nsi" ] && kill -KILL ${f#/proc/} 2>/dev/null || true
        done
    done
    ip netns del $NS 2>/dev/null || true; ip netns del $SNS 2>/dev/null || true
    rm -rf "$LAB/bus"
}

case ${1:-} in
    up) cmd_up ;;
    down) cmd_down ;;
    nmcli) shift; inns timeout 30 nmcli "$@" ;;
    stop-nm) stop nm ;;
    start-nm) start_nm ;;
    stop-server) stop server ;;
    bytes) ip netns exec $NS sh -c "echo \$(cat /sys/class/net/$2/statistics/rx_bytes) \$(cat /sys/class/net/$2/statistics/tx_bytes)" ;;
    *) echo "usage: $0 up|down|nmcli ARGS|stop-nm|start-nm|stop-server|bytes IFACE" >&2; exit 2 ;;
esac
