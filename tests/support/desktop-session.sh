#!/bin/bash
# A private headless desktop session for one test, as an unprivileged user:
#   desktop-session.sh DESKTOP DIR
# DESKTOP: kwin5 (KWin 5.27) and gnome43 (GNOME Shell 43) are this
# machine's Debian 12 packages; the rest run in a Debian root made by
# scripts/make-desktop-roots.sh (needs root): kwin6 (KWin 6.3, Debian 13),
# kwin6-wrapper (the same under kwin_wayland_wrapper, which restarts KWin
# after a crash as Plasma 6 does), kwin67 (KWin 6.7, forky), gnome48 (Debian
# 13), gnome50 (forky), gnome51 (sid). kwin5-x11 and gnome43-x11 are X11
# sessions of the Debian 12 ones (kwin_x11, gnome-shell --x11) on Xvfb.
# DIR: a fresh directory under /tmp (the roots share this machine's /tmp, so
# paths there mean the same on both sides). The session lives in DIR/run
# (XDG_RUNTIME_DIR) and DIR/home (HOME). Before the start, DIR/settings may
# hold "schema key value" lines to apply with gsettings, and DIR/share is in
# the session's XDG_DATA_DIRS.
# Then DIR/env holds the environment of the session's clients, one NAME=value
# a line, and DIR/ready the number of the current start (1, 2, ...); DIR/failed
# says that a start failed, the reasons being in DIR/session.log. Commands,
# one a line, to the FIFO DIR/ctl:
#   restart   the compositor ends at once (SIGKILL) and starts again; under
#             the wrapper the wrapper restarts it (a new ready number follows)
#   stop      everything of the session ends (also on SIGTERM, SIGINT, or
#             when the process that started this script is gone)
# Under root everything runs as morvane-compositor (scripts/setup.sh makes it).
set -u
desktop=$1 dir=$2
user=morvane-compositor
roots=${MORVANE_DESKTOP_ROOTS:-/var/cache/morvane-ci}
here=$(cd "$(dirname "$0")" && pwd)
log() { echo "$(date +%T.%3N) $*" >>"$dir/session.log"; }
fail() { log "$*"; touch "$dir/failed"; exit 1; }

case $desktop in
  kwin5 | gnome43 | kwin5-x11 | gnome43-x11) root= ;;
  kwin6 | kwin6-wrapper) root=$roots/trixie-kwin ;;
  kwin67) root=$roots/forky-kwin ;;
  gnome48) root=$roots/trixie-gnome ;;
  gnome50) root=$roots/forky-gnome ;;
  gnome51) root=$roots/sid-gnome ;;
  *) echo "desktop-session: unknown desktop '$desktop'" >&2; exit 2 ;;
esac
case $desktop in kwin*) kind=kwin ;; *) kind=gnome ;; esac
case $desktop in *-x11) session_type=x11 ;; *) session_type=wayland ;; esac

if [ -n "$root" ] && [ -z "${DESKTOP_SESSION_NS:-}" ]; then
  [ "$(id -u)" = 0 ] || fail "$desktop runs in a Debian root: run the test as root"
  [ -e "$root/.morvane-recipe" ] || fail "no root $root: run scripts/setup.sh test (or scripts/make-desktop-roots.sh)"
  # A mount namespace of its own: the root's mounts end with the session.
  export DESKTOP_SESSION_NS=1 DESKTOP_SESSION_PARENT=$PPID
  exec unshare --mount --propagation private -- "$0" "$@"
fi
parent=${DESKTOP_SESSION_PARENT:-$PPID}

if [ "$(id -u)" = 0 ]; then
  uid=$(id -u "$user") && gid=$(id -g "$user") || fail "no user $user: run scripts/setup.sh test"
else
  uid=$(id -u) gid=$(id -g)
fi
rt=$dir/run home=$dir/home
chmod 711 "$dir"
# Xwayland's socket folder: KWin does not start without it, and on a machine
# where systemd-tmpfiles never ran nothing else may have made it.
[ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix 2>/dev/null || [ -d /tmp/.X11-unix ] ||
  fail "/tmp/.X11-unix is missing and cannot be made"
install -d -m 700 -o "$uid" -g "$gid" "$rt" "$home" "$dir/bin"
tag="MORVANE_SESSION_TAG=$dir"   # every process of the session carries it: cleanup finds them

if [ -n "$root" ]; then
  for m in proc sys dev dev/pts dev/shm tmp; do
    mountpoint -q "$root/$m" && continue
    if [ $m = proc ]; then mount -t proc proc "$root/proc"; else mount --bind "/$m" "$root/$m"; fi ||
      fail "cannot mount $root/$m"
  done
  [ "$(chroot "$root" getent passwd "$uid" | cut -d: -f3)" = "$uid" ] ||
    fail "uid $uid is unknown in $root: run scripts/make-desktop-roots.sh again"
fi

bus="unix:path=$rt/bus"
session_env=(PATH="$dir/bin:/usr/local/bin:/usr/bin:/bin" HOME="$home" LANG=C.UTF-8 "$tag"
  XDG_RUNTIME_DIR="$rt" DBUS_SESSION_BUS_ADDRESS="$bus" XDG_SESSION_TYPE=$session_type
  XDG_DATA_DIRS="$dir/share:/usr/local/share:/usr/share")
# What a Plasma session tells its programs goes to the clients only: KWin 6
# started with it looks for Plasma's platform theme and crashes without it.
desktop_env=()
if [ $kind = kwin ]; then
  desktop_env=(XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=${desktop:4:1})
else
  session_env+=(XDG_CURRENT_DESKTOP=GNOME DBUS_SYSTEM_BUS_ADDRESS="unix:path=$rt/sysbus")
fi
# Becomes "$@" run as the session's user with the session's environment,
# inside the root where there is one: call it in a subshell or with "&".
in_session() {
  local -a who=()
  if [ -n "$root" ]; then
    exec env -i "${session_env[@]}" /usr/sbin/chroot --userspec="$uid:$gid" "$root" "$@"
  else
    [ "$(id -u)" = 0 ] && who=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
    exec env -i "${session_env[@]}" "${who[@]}" "$@"
  fi
}
# The same on this machine's side (the tools that ask the session's bus).
on_host() {
  local -a who=()
  [ "$(id -u)" = 0 ] && who=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
  env -i "${session_env[@]}" "${who[@]}" "$@"
}

tagged() { grep -lzxF "$tag" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3; }
cleanup() {
  trap - EXIT INT TERM
  log "cleanup"
  local p t0=$SECONDS displays
  displays=$(x_displays $(tagged))
  for p in $(tagged); do kill "$p" 2>/dev/null; done
  while [ -n "$(tagged)" ] && [ $((SECONDS - t0)) -lt 3 ]; do sleep 0.1; done
  for p in $(tagged); do kill -9 "$p" 2>/dev/null; done
  while [ -n "$(tagged)" ] && [ $((SECONDS - t0)) -lt 6 ]; do sleep 0.1; done
  log "cleanup killed; displays $displays; left $(tagged)"
  remove_stale_x $displays
  log "cleanup done"
  rm -f "$dir/ready"
  touch "$dir/stopped"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# The paths of the unix sockets a process listens on.
listeners() {
  local inodes
  inodes=" $(ls -l /proc/"$1"/fd 2>/dev/null | sed -n 's/.*socket:\[\([0-9]*\)\]$/\1/p' | tr '\n' ' ') "
  awk -v l="$inodes" 'NR > 1 && $6 == "01" && index(l, " " $7 " ") { print $8 }' /proc/net/unix
}
# The numbers of the X displays whose sockets the processes "$@" listen on.
x_displays() {
  local p
  for p in "$@"; do listeners "$p"; done | sed -n 's|^/tmp/\.X11-unix/X\([0-9]*\)$|\1|p' | sort -u
}
# An X server ended by SIGKILL leaves its socket and lock file in /tmp, where
# they would stay for every later session and compositor of the machine:
# those of the displays "$@" go once no living process holds the lock.
remove_stale_x() {
  local n pid
  for n in "$@"; do
    pid=$(tr -dc 0-9 <"/tmp/.X$n-lock" 2>/dev/null)
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && continue
    rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
  done
}

in_session dbus-daemon --session --address="$bus" --nofork --nopidfile >>"$dir/dbus.log" 2>&1 &
if [ $kind = gnome ]; then
  # GNOME Shell needs a system bus (logind, the end-session dialog): an empty one.
  in_session dbus-daemon --session --address="unix:path=$rt/sysbus" --nofork --nopidfile >>"$dir/dbus.log" 2>&1 &
fi
for _ in $(seq 100); do
  on_host dbus-send --session --dest=org.freedesktop.DBus / org.freedesktop.DBus.Peer.Ping 2>/dev/null && break
  sleep 0.05
done
if [ -s "$dir/settings" ]; then
  while read -r schema key value; do
    [ -n "$schema" ] && { (in_session gsettings set "$schema" "$key" "$value") || fail "gsettings set $schema $key $value"; }
  done <"$dir/settings"
fi

compositor_pid= wrapper_pid= starts=0
kwin_up() {
  on_host dbus-send --session --print-reply --reply-timeout=1000 --dest=org.kde.KWin /Scripting \
    org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1
}
shell_up() {
  on_host dbus-send --session --print-reply --reply-timeout=1000 --dest=org.gnome.Shell /org/gnome/Shell \
    org.freedesktop.DBus.Properties.Get string:org.gnome.Shell string:ShellVersion >/dev/null 2>&1
}
# A child of GNOME Shell that forked but never went on to exec: a start that hangs for good.
stuck_child() {
  local c
  for c in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    [ "$(readlink /proc/"$c"/exe 2>/dev/null)" = "$(readlink /proc/"$1"/exe)" ] && return 0
  done
  return 1
}
# Ends a compositor that this script started, with its children, at once,
# and removes what it leaves behind.
kill_compositor() {
  local c children displays t0
  children=$(cat /proc/"$1"/task/*/children 2>/dev/null)
  displays=$(x_displays "$1" $children)
  for c in $children; do kill -9 "$c" 2>/dev/null; done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  t0=$SECONDS
  for c in $children; do
    while readlink /proc/"$c"/exe >/dev/null 2>&1 && [ $((SECONDS - t0)) -lt 3 ]; do sleep 0.02; done
  done
  rm -f "$rt/wayland-morvane" "$rt/wayland-morvane.lock"
  remove_stale_x $displays
}

# Starts KWin (or waits for the wrapper to start a KWin other than the one
# whose pid is $1) and finds its sockets; a start that does not answer within
# 20 s is ended and tried again, up to three times.
start_kwin() {
  # The packaged binary has a file capability that a container may not grant:
  # a plain copy runs; KWin's platform plugin wants its name kept.
  [ -x "$dir/bin/kwin_wayland" ] || install -m 755 "${root:-}/usr/bin/kwin_wayland" "$dir/bin/kwin_wayland"
  local opts=(--virtual --width 1280 --height 800 --xwayland --no-lockscreen --no-global-shortcuts --no-kactivities)
  local attempt t0 up socks wl x c xauth
  for attempt in 1 2 3; do
    if [ $desktop = kwin6-wrapper ]; then
      if [ -z "$wrapper_pid" ]; then
        # The wrapper makes the sockets itself (wayland-N, :N) and hands them to each KWin it starts.
        in_session kwin_wayland_wrapper "${opts[@]}" >>"$dir/compositor.log" 2>&1 &
        wrapper_pid=$!
      fi
    else
      in_session "$dir/bin/kwin_wayland" "${opts[@]}" --socket wayland-morvane >>"$dir/compositor.log" 2>&1 &
      compositor_pid=$!
    fi
    t0=$SECONDS up=
    while [ $((SECONDS - t0)) -lt 20 ]; do
      if [ -n "$wrapper_pid" ]; then
        compositor_pid=$(cat /proc/"$wrapper_pid"/task/*/children 2>/dev/null | awk '{print $1}')
        kill -0 "$wrapper_pid" 2>/dev/null || break
      else
        kill -0 "$compositor_pid" 2>/dev/null || break
      fi
      if [ -n "$compositor_pid" ] && [ "$compositor_pid" != "${1:-}" ] && kwin_up; then up=1; break; fi
      sleep 0.05
    done
    if [ -n "$up" ]; then
      # KWin 6 (or the wrapper) listens on the X11 socket itself, KWin 5 leaves it to Xwayland.
      t0=$SECONDS wl= x=
      while [ $((SECONDS - t0)) -lt 10 ]; do
        socks=$(listeners "${wrapper_pid:-$compositor_pid}")
        wl=$(echo "$socks" | sed -n "s|^$rt/\(wayland-[0-9a-z]*\)\$|\1|p" | head -1)
        x=$(echo "$socks" | sed -n 's|^/tmp/\.X11-unix/X\([0-9]*\)$|:\1|p' | head -1)
        for c in $([ -z "$x" ] && cat /proc/"$compositor_pid"/task/*/children 2>/dev/null); do
          x=$(listeners "$c" | sed -n 's|^/tmp/\.X11-unix/X\([0-9]*\)$|:\1|p' | head -1)
          [ -n "$x" ] && break
        done
        [ -n "$wl" ] && [ -n "$x" ] && break
        sleep 0.05
      done
      if [ -n "$wl" ] && [ -n "$x" ]; then
        xauth=$(tr '\0' '\n' <"/proc/$compositor_pid/cmdline" | sed -n '/^--xwayland-xauthority$/{n;p}')
        client_env=(WAYLAND_DISPLAY="$wl" DISPLAY="$x" ${xauth:+XAUTHORITY=$xauth} COMPOSITOR_PID="$compositor_pid")
        return 0
      fi
      log "KWin start $attempt: no Wayland or X11 socket ($socks)"
    else
      log "KWin start $attempt did not answer: $(tail -3 "$dir/compositor.log")"
    fi
    [ -n "$wrapper_pid" ] && return 1
    kill_compositor "$compositor_pid"
  done
  return 1
}

# Up once ShellVersion answers; a shell that answered before (GNOME 50 under
# load still finishes its start after the first answer and may miss a check
# then) gets up to 10 s more to answer again.
shell_answers() {
  local t0=$SECONDS
  shell_up && return 0
  [ -n "${1:-}" ] || return 1
  while kill -0 "$compositor_pid" 2>/dev/null && [ $((SECONDS - t0)) -lt 10 ]; do
    shell_up && return 0
    sleep 0.2
  done
  return 1
}

start_shell() {
  local attempt t0 stuck answered=
  for attempt in 1 2 3; do
    in_session gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display wayland-morvane \
      >"$dir/compositor.log" 2>&1 &
    compositor_pid=$! answered=
    t0=$SECONDS stuck=0
    while [ $((SECONDS - t0)) -lt 30 ]; do
      kill -0 $compositor_pid 2>/dev/null || break
      shell_up && { answered=1; break; }
      # A fork that has not gone on to exec for 4 s is the hang: start again at once.
      if stuck_child $compositor_pid; then stuck=$((stuck + 1)); else stuck=0; fi
      [ $stuck -ge 40 ] && { log "GNOME Shell start $attempt hangs"; break; }
      sleep 0.1
    done
    shell_answers $answered && break
    log "GNOME Shell start $attempt failed: $(tail -3 "$dir/compositor.log")"
    kill_compositor "$compositor_pid"
    answered=
  done
  shell_answers $answered || return 1
  local x
  x=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$dir/compositor.log" | head -1)
  client_env=(WAYLAND_DISPLAY=wayland-morvane DISPLAY="$x"
    XAUTHORITY="$(ls -t "$rt"/.mutter-Xwaylandauth.* 2>/dev/null | head -1)" COMPOSITOR_PID="$compositor_pid")
}

# An X11 session: Xvfb, then the desktop's window manager on it, up when it
# answers on the bus (a start that does not is tried again, up to three times).
start_x11() {
  local attempt t0 x
  if [ -z "${xvfb_pid:-}" ]; then
    in_session Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$dir/xdisplay" 2>>"$dir/xvfb.log" &
    xvfb_pid=$!
    t0=$SECONDS
    until [ -s "$dir/xdisplay" ] || [ $((SECONDS - t0)) -ge 10 ]; do sleep 0.05; done
    [ -s "$dir/xdisplay" ] || { log "Xvfb did not start: $(tail -3 "$dir/xvfb.log")"; return 1; }
    session_env+=(DISPLAY=":$(head -1 "$dir/xdisplay")")
  fi
  for attempt in 1 2 3; do
    if [ $kind = kwin ]; then
      in_session kwin_x11 --replace >>"$dir/compositor.log" 2>&1 &
    else
      in_session gnome-shell --x11 --replace >>"$dir/compositor.log" 2>&1 &
    fi
    compositor_pid=$!
    t0=$SECONDS
    while [ $((SECONDS - t0)) -lt 30 ] && kill -0 $compositor_pid 2>/dev/null; do
      if [ $kind = kwin ]; then kwin_up; else shell_up; fi && { client_env=(COMPOSITOR_PID="$compositor_pid"); return 0; }
      sleep 0.1
    done
    log "$desktop start $attempt did not answer: $(tail -3 "$dir/compositor.log")"
    kill_compositor "$compositor_pid"
  done
  return 1
}

start() {
  rm -f "$dir/ready"
  if [ $session_type = x11 ]; then
    start_x11
  elif [ $kind = kwin ]; then
    start_kwin "$@"
  else
    start_shell
  fi || fail "$desktop did not start: $(tail -5 "$dir/compositor.log")"
  starts=$((starts + 1))
  local e
  for e in "${session_env[@]}" "${desktop_env[@]}" "${client_env[@]}"; do
    case $e in PATH=* | MORVANE_SESSION_TAG=*) ;; *) echo "$e" ;; esac
  done >"$dir/env.new"
  mv "$dir/env.new" "$dir/env"
  echo $starts >"$dir/ready.new"
  mv "$dir/ready.new" "$dir/ready"
  log "$desktop start $starts is up (compositor $compositor_pid)"
}

start
rm -f "$dir/ctl"
mkfifo -m 600 "$dir/ctl"
exec 3<>"$dir/ctl"
partial=
while kill -0 "$parent" 2>/dev/null; do
  # A read that times out keeps what it got of a line: the rest follows.
  if ! read -r -t 1 command <&3; then partial+=$command; continue; fi
  command=$partial$command partial=
  case $command in
    restart)
      log "restart"
      old=$compositor_pid
      if [ -n "$wrapper_pid" ]; then
        kill -9 "$old"
      else
        kill_compositor "$old"
      fi
      start "$old" ;;
    stop) log stop; break ;;
  esac
done
