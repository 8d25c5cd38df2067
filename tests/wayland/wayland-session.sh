#!/usr/bin/env bash
# Runs COMMAND [ARGS...] inside a throw-away headless Wayland desktop: sway with no screen and no input
# device, a private session bus, and fcitx5 with the module built in MODULE_DIR (the build tree's
# fcitx5/) over the Wayland input-method and D-Bus frontends, a US keyboard as its input method.
# Usage: wayland-session.sh MODULE_DIR COMMAND [ARGS...]. With PIMSEL_WITHOUT_MODULE=1 fcitx5 runs
# without it. Sway will not run as root, so root drops to nobody first. The command gets fresh HOME
# and XDG directories (the module reads its settings from XDG_CONFIG_HOME/pimsel), PIMSEL_SESSION_TMP
# as scratch and FCITX5_PID. Exits with its status (the desktop's logs follow a failure), 124 when
# PIMSEL_SESSION_TIMEOUT (default 240 s) ran out, 125 when the desktop never came up, 77 when the
# command failed after sway died.
set -u

[ $# -gt 1 ] || { echo "usage: $0 MODULE_DIR COMMAND [ARGS...]" >&2; exit 2; }
module_dir=$(realpath "$1")
shift
if [ "$(id -u)" -eq 0 ]; then
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups "$0" "$module_dir" "$@"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pimsel-wayland.XXXXXX") || exit 125
chmod 700 "$tmp"
pgroups=()

teardown() {
  for ((i = ${#pgroups[@]} - 1; i >= 0; i--)); do kill -TERM -- "-${pgroups[i]}" 2>/dev/null; done
  for _ in $(seq 20); do
    local alive=0 pg
    for pg in "${pgroups[@]}"; do kill -0 -- "-$pg" 2>/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  for pg in "${pgroups[@]}"; do kill -KILL -- "-$pg" 2>/dev/null; done
  rm -rf "$tmp"
}
trap teardown EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() {
  echo "wayland-session: $*" >&2
  for f in "$tmp"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }; done
  exit 125
}

spawn() { # log, command...
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

unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XAUTHORITY SESSION_MANAGER GTK_IM_MODULE QT_IM_MODULE
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config XDG_CACHE_HOME=$tmp/cache
export XDG_DATA_HOME=$tmp/data PIMSEL_SESSION_TMP=$tmp/scratch
mkdir -p -m 700 "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"/{fcitx5,pimsel} "$XDG_CACHE_HOME" \
  "$XDG_DATA_HOME" "$PIMSEL_SESSION_TMP"
export XDG_SESSION_TYPE=wayland GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1

setsid dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$tmp/bus-address" \
  >"$tmp/dbus.log" 2>&1 </dev/null &
pgroups+=("$!")
wait_for 10 test -s "$tmp/bus-address" || fail "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus-address")
export DBUS_SESSION_BUS_ADDRESS

# Sway sets WAYLAND_DISPLAY for what it starts itself; its socket is the one waited for here.
printf 'output * resolution 1280x800\ndefault_border none\n' >"$tmp/sway.conf"
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 spawn sway sway -c "$tmp/sway.conf"
sway_group=${pgroups[-1]}
wait_for 15 compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" | head -n 1)")
export WAYLAND_DISPLAY

cat >"$XDG_CONFIG_HOME/fcitx5/profile" <<'EOF'
[Groups/0]
Name=Default
Default Layout=us
DefaultIM=keyboard-us

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[GroupOrder]
0=Default
EOF
addons=keyboard,wayland,waylandim,dbus,dbusfrontend
[ "${PIMSEL_WITHOUT_MODULE:-}" = 1 ] || addons+=,pimsel
system_addons=$(compgen -G '/usr/lib/*/fcitx5' | head -n 1)
FCITX_ADDON_DIRS=$module_dir/lib:$system_addons XDG_DATA_DIRS=$module_dir/share:/usr/share \
  spawn fcitx5 fcitx5 --disable=all --enable="$addons"
FCITX5_PID=${pgroups[-1]}
export FCITX5_PID
fcitx_on_bus() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.fcitx.Fcitx5 | grep -q 'boolean true'
}
wait_for 15 fcitx_on_bus || fail "fcitx5 did not start"

timeout -k 5 "${PIMSEL_SESSION_TIMEOUT:-240}" "$@" </dev/null &
cmd=$!
pgroups+=("$cmd")
wait "$cmd"
status=$?
[ $status -eq 124 ] && echo "wayland-session: '$*' timed out" >&2
# Sway 1.7 now and then crashes in its input-method keyboard grab: no verdict on what was tested.
if [ $status -ne 0 ] && ! kill -0 -- "-$sway_group" 2>/dev/null; then
  echo "wayland-session: sway died under '$*'" >&2
  status=77
fi
[ $status -ne 0 ] && tail -n 20 "$tmp"/*.log >&2
exit $status
