#!/usr/bin/env bash
# Runs COMMAND [ARGS...] inside a throw-away X11 desktop: Xvfb (1280x800x24), openbox, a private
# D-Bus session bus and the accessibility bus enabled, fresh XDG directories, GSETTINGS_BACKEND=memory
# and PIMSEL_SESSION_TMP as scratch. Everything started here dies with the command. Exits with its
# status, 124 when PIMSEL_SESSION_TIMEOUT (default 240 s) ran out, 125 when the desktop never came up.
set -u

session_timeout=${PIMSEL_SESSION_TIMEOUT:-240}
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pimsel-session.XXXXXX") || exit 125
chmod 700 "$tmp"
pgroups=()

teardown() {
  local pg alive
  for ((i = ${#pgroups[@]} - 1; i >= 0; i--)); do kill -TERM -- "-${pgroups[i]}" 2>/dev/null; done
  for _ in $(seq 20); do
    alive=0
    for pg in "${pgroups[@]}"; do kill -0 -- "-$pg" 2>/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  for pg in "${pgroups[@]}"; do kill -KILL -- "-$pg" 2>/dev/null; done
  pgroups=()
  rm -rf "$tmp"
}
trap teardown EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

fail() {
  echo "desktop-session: $*" >&2
  for f in "$tmp"/*.log; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }
  done
  exit 125
}

# Starts "$@" as the leader of its own process group so teardown can take it down with every child.
spawn() {
  local log=$1
  shift
  setsid "$@" >"$tmp/$log.log" 2>&1 </dev/null &
  pgroups+=("$!")
}

wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.05
  done
}

unset NO_AT_BRIDGE WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS XAUTHORITY SESSION_MANAGER
export XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config XDG_CACHE_HOME=$tmp/cache XDG_DATA_HOME=$tmp/data
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$tmp/scratch"
export PIMSEL_SESSION_TMP=$tmp/scratch
export GSETTINGS_BACKEND=memory QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
export XDG_SESSION_TYPE=x11 GDK_BACKEND=x11 QT_ACCESSIBILITY=1

# Display: Xvfb picks a free number itself and reports it on the given descriptor.
mkfifo "$tmp/displayfd"
setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset +extension XInputExtension \
  3>"$tmp/displayfd" >"$tmp/xvfb.log" 2>&1 </dev/null &
pgroups+=("$!")
display=""
exec 4<>"$tmp/displayfd"
read -r -t 15 display <&4 || fail "Xvfb did not report a display"
exec 4<&-
export DISPLAY=":$display"
wait_for 10 xdpyinfo || fail "display $DISPLAY does not answer"

# Session bus, private to this desktop.
setsid dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$tmp/bus-address" \
  >"$tmp/dbus.log" 2>&1 </dev/null &
pgroups+=("$!")
wait_for 10 test -s "$tmp/bus-address" || fail "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus-address")
export DBUS_SESSION_BUS_ADDRESS

# Accessibility bus, enabled before any target application starts.
spawn at-spi /usr/libexec/at-spi-bus-launcher --launch-immediately
a11y_name_owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus | grep -q 'boolean true'
}
wait_for 10 a11y_name_owned || fail "org.a11y.Bus did not appear"
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null ||
  fail "could not enable accessibility"

# Window manager.
spawn openbox openbox --sm-disable
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
wait_for 10 wm_ready || fail "openbox did not start"

timeout -k 5 "$session_timeout" "$@" </dev/null &
cmd=$!
pgroups+=("$cmd") # timeout leads its own process group: whatever the command leaves behind dies with it
wait "$cmd"
status=$?
if [ $status -eq 124 ]; then
  echo "desktop-session: '$*' timed out after ${session_timeout}s" >&2
fi
exit $status
