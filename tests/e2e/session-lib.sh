# Sourced by the session scripts (desktop-session.sh, tests/wayland/wayland-session.sh) once they set
# $session to their name: a private scratch dir, process groups that die with the session, its logs
# on a failed start and a session bus of its own.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pimsel-$session.XXXXXX") || exit 125
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
  echo "$session-session: $*" >&2
  for f in "$tmp"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }; done
  exit 125
}

# Starts "$@" as the leader of its own process group so teardown can take it down with every child.
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

name_owned() { # bus name
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

start_session_bus() {
  setsid dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$tmp/bus-address" \
    >"$tmp/dbus.log" 2>&1 </dev/null &
  pgroups+=("$!")
  wait_for 10 test -s "$tmp/bus-address" || fail "no session bus"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus-address")
  export DBUS_SESSION_BUS_ADDRESS
}

# Runs the session's command under PIMSEL_SESSION_TIMEOUT (default 240 s); its status is in $status.
run_command() {
  timeout -k 5 "${PIMSEL_SESSION_TIMEOUT:-240}" "$@" </dev/null &
  pgroups+=("$!") # timeout leads its own process group: whatever the command leaves behind dies with it
  wait "$!"
  status=$?
  [ $status -eq 124 ] && echo "$session-session: '$*' timed out" >&2
}
