#!/usr/bin/env bash
# Runs COMMAND [ARGS...] inside a throw-away headless Wayland desktop: sway with no screen and no input
# device, a private session bus, and fcitx5 with the module built in MODULE_DIR (the build tree's
# fcitx5/) over the Wayland input-method and D-Bus frontends, a US keyboard as its input method.
# Usage: wayland-session.sh MODULE_DIR COMMAND [ARGS...]. Sway will not run as root, so root drops to
# nobody first, with copies of what it runs. The command gets fresh HOME and XDG directories (the
# module reads its settings from XDG_CONFIG_HOME/pimsel) and PIMSEL_SESSION_TMP as scratch. Exits with
# its status (the desktop's logs follow a failure), 124 when PIMSEL_SESSION_TIMEOUT (default 240 s) ran
# out, 125 when the desktop never came up or 77 when fcitx5 is missing or the command failed after
# sway died.
set -u

[ $# -gt 1 ] || { echo "usage: $0 MODULE_DIR COMMAND [ARGS...]" >&2; exit 2; }
module_dir=$(realpath "$1")
shift
if [ "$(id -u)" -eq 0 ]; then
  # nobody may not reach a checkout under root's home: it runs copies of the tests, the module and
  # any file handed over (a built target), in a directory it can read.
  tests=$(realpath "$(dirname "$0")/..")
  stage=$(mktemp -d "${TMPDIR:-/tmp}/pimsel-wayland-stage.XXXXXX") || exit 125
  mkdir "$stage/module" && cp -r "$tests" "$stage/tests" && cp -r "$module_dir/lib" "$module_dir/share" "$stage/module" ||
    { rm -rf "$stage"; exit 125; }
  args=()
  for arg in "$@"; do
    real=$(realpath -q "$arg" || echo "$arg")
    if [[ $real == "$tests"/* ]]; then
      args+=("$stage/tests/${real#"$tests"/}")
    elif [ -f "$arg" ]; then
      cp -p "$arg" "$stage/" && args+=("$stage/$(basename "$arg")")
    else
      args+=("$arg")
    fi
  done
  chmod -R a+rX "$stage"
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$stage/tests/wayland/wayland-session.sh" "$stage/module" \
    "${args[@]}"
  status=$?
  rm -rf "$stage"
  exit $status
fi

session=wayland
. "$(dirname "$0")/../e2e/session-lib.sh"

unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XAUTHORITY SESSION_MANAGER GTK_IM_MODULE QT_IM_MODULE
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config XDG_CACHE_HOME=$tmp/cache
export XDG_DATA_HOME=$tmp/data PIMSEL_SESSION_TMP=$tmp/scratch
mkdir -p -m 700 "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"/pimsel "$XDG_CACHE_HOME" \
  "$XDG_DATA_HOME" "$PIMSEL_SESSION_TMP"
export XDG_SESSION_TYPE=wayland GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1

start_session_bus

# Sway sets WAYLAND_DISPLAY for what it starts itself; its socket is the one waited for here.
printf 'output * resolution 1280x800\ndefault_border none\n' >"$tmp/sway.conf"
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 spawn sway sway -c "$tmp/sway.conf"
sway_group=${pgroups[-1]}
wait_for 15 compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" | head -n 1)")
export WAYLAND_DISPLAY

# fcitx5 with a US keyboard as its input method, the D-Bus frontend the toolkits' fcitx modules use,
# the Wayland frontends and the module built in MODULE_DIR.
command -v fcitx5 >/dev/null || { echo "wayland-session: no fcitx5 here: skipped" >&2; exit 77; }
mkdir -p "$XDG_CONFIG_HOME/fcitx5"
printf '%s\n' '[Groups/0]' 'Name=Default' 'Default Layout=us' 'DefaultIM=keyboard-us' '[Groups/0/Items/0]' \
  'Name=keyboard-us' 'Layout=' '[GroupOrder]' '0=Default' >"$XDG_CONFIG_HOME/fcitx5/profile"
system_addons=$(compgen -G '/usr/lib/*/fcitx5' | head -n 1)
FCITX_ADDON_DIRS=$module_dir/lib:$system_addons XDG_DATA_DIRS=$module_dir/share:/usr/share \
  spawn fcitx5 fcitx5 --disable=all --enable=keyboard,dbus,dbusfrontend,wayland,waylandim,pimsel
wait_for 15 name_owned org.fcitx.Fcitx5 || fail "fcitx5 did not start"

run_command "$@"
# Sway 1.7 now and then crashes in its input-method keyboard grab: no verdict on what was tested.
if [ $status -ne 0 ] && ! kill -0 -- "-$sway_group" 2>/dev/null; then
  echo "wayland-session: sway died under '$*'" >&2
  status=77
fi
[ $status -ne 0 ] && tail -n 20 "$tmp"/*.log >&2
exit $status
