#!/usr/bin/env bash
# Runs COMMAND [ARGS...] inside a throw-away X11 desktop: Xvfb (1280x800x24), openbox, a private
# D-Bus session bus and the accessibility bus enabled, fresh XDG directories, GSETTINGS_BACKEND=memory
# and PIMSEL_SESSION_TMP as scratch. Everything started here dies with the command. Exits with its
# status, 124 when PIMSEL_SESSION_TIMEOUT (default 240 s) ran out, 125 when the desktop never came up.
set -u

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
session=desktop
. "$(dirname "$0")/session-lib.sh"

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

start_session_bus

# Accessibility bus, enabled before any target application starts.
spawn at-spi /usr/libexec/at-spi-bus-launcher --launch-immediately
wait_for 10 name_owned org.a11y.Bus || fail "org.a11y.Bus did not appear"
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null ||
  fail "could not enable accessibility"

# Window manager.
spawn openbox openbox --sm-disable
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
wait_for 10 wm_ready || fail "openbox did not start"

run_command "$@"
# A crashed server is a finding, not noise (grabs that outlived their keyboard crashed it once).
if [ $status -ne 0 ] && grep -q "Caught signal" "$tmp/xvfb.log"; then
  echo "$session-session: Xvfb crashed under '$*'" >&2
  tail -n 25 "$tmp/xvfb.log" >&2
fi
exit $status
