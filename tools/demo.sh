#!/usr/bin/env bash
# Shows Pimsel at work without a desktop of your own: inside a throw-away X11 session it opens a
# GTK text entry, starts Pimsel, types ":smi" as a user would, takes a screenshot with the
# suggestions showing, presses Tab and prints what the field then holds.
#
#   tools/demo.sh [BUILD_DIR]        (default: build; `make demo` builds it first)
#
# The screenshot is written to $PIMSEL_DEMO_SHOT (default: pimsel-demo.png in the current directory);
# PIMSEL_DEMO_TYPE types something else (":detective", or "::detective" for the emoji browser) and
# PIMSEL_DEMO_BELOW sets how far below the field the screenshot reaches (default 200 pixels).
# PIMSEL_DEMO_SETUP=1 types into the "Try it out" field of Pimsel's own setup window instead, which
# a second start (`pimsel --setup`) opens in the running Pimsel.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd) || exit 2
shot=${PIMSEL_DEMO_SHOT:-$PWD/pimsel-demo.png}
typed=${PIMSEL_DEMO_TYPE:-:smi}
below=${PIMSEL_DEMO_BELOW:-200}
case $shot in /*) ;; *) shot=$PWD/$shot ;; esac

for tool in app/pimsel tests/e2e/typist tests/e2e/app/screenshot; do
  if [ ! -x "$build/$tool" ]; then
    echo "demo: $build/$tool is missing; build first (make demo does)" >&2
    exit 2
  fi
done

if [ -z "${PIMSEL_DEMO_INSIDE:-}" ]; then
  PIMSEL_DEMO_INSIDE=1 PIMSEL_DEMO_SHOT=$shot PIMSEL_DEMO_TYPE=$typed PIMSEL_DEMO_BELOW=$below \
    PIMSEL_DEMO_SETUP=${PIMSEL_DEMO_SETUP:-} exec "$root/tests/e2e/desktop-session.sh" "$0" "$build"
fi

# From here on we are inside the session.
work=$PIMSEL_SESSION_TMP
field=$work/field.txt
/usr/bin/python3 "$root/tests/e2e/targets/gtk_entry.py" --title "Pimsel demo" --out "$field" >"$work/gtk.out" 2>&1 &
for _ in $(seq 200); do
  grep -q '^READY' "$work/gtk.out" 2>/dev/null && break
  sleep 0.05
done
window=$(sed -n 's/^READY //p' "$work/gtk.out")
[ -n "$window" ] || { echo "demo: the text entry did not come up" >&2; cat "$work/gtk.out" >&2; exit 1; }

"$build/app/pimsel" >"$work/pimsel.log" 2>&1 &
pimsel=$!
for _ in $(seq 100); do
  grep -q 'tapStarted=true' "$work/pimsel.log" 2>/dev/null && break
  sleep 0.05
done
grep -q 'tapStarted=true' "$work/pimsel.log" || { echo "demo: Pimsel did not start" >&2; cat "$work/pimsel.log" >&2; exit 1; }
echo "Pimsel is running (pid $pimsel); typing \"$typed\" into a GTK entry..."

if [ -n "${PIMSEL_DEMO_SETUP:-}" ]; then
  "$build/app/pimsel" --setup || exit 1
  window=
  for _ in $(seq 100); do
    window=$("$build/tests/e2e/app/screenshot" --find "Welcome to Pimsel") && break
    sleep 0.05
  done
  [ -n "$window" ] || { echo "demo: the setup window did not show" >&2; exit 1; }
  echo "typing into the setup window instead..."
  sleep 0.5
fi

typist=$build/tests/e2e/typist
"$typist" --window "$window" type "$typed" || exit 1
sleep 0.6
"$build/tests/e2e/app/screenshot" "$shot" --window "$window" --below "$below" || exit 1
"$typist" --window "$window" key Tab || exit 1
sleep 0.6
"$typist" remove
kill -TERM "$pimsel"
wait "$pimsel"

[ -n "${PIMSEL_DEMO_SETUP:-}" ] || echo "The field now reads: $(cat "$field")"
echo "Screenshot with the suggestions open: $shot"
