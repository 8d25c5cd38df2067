#!/usr/bin/python3
"""Types shortcodes into real GTK and Qt windows through fcitx5 and the module, on a Wayland desktop.

Usage, inside wayland-session.sh: type_through_fcitx5.py gtk-fcitx|gtk-wayland|qt-fcitx [QT_FIELD [APP]],
the toolkit and the input-method module it loads (QT_FIELD: the Qt target's executable; APP: the
desktop application, running throughout, whose emoji browser "::" opens). Keys come from wtype, one
sequence per run, as a person types them. The field's text is what the target writes to its file, so a
shortcode still held as preedit does not count as typed.
Prints one line per case that failed and exits 1 when any did.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import time

# A name, the wtype arguments of one sequence, the field's text afterwards.
CASES = [
    ("Tab takes the first", [":smi", "-k", "Tab"], "😄"),
    ("Down Return takes the second", [":smi", "-k", "Down", "-k", "Return"], "😏"),
    ("Escape leaves the text", [":smi", "-k", "Escape"], ":smi"),
    ("a trigger after a word opens nothing", ["a:tada:"], "a:tada:"),
]
# Closing triggers, typed at full speed.
BURST = (["x :tada: y :tada: z"], "x 🎉 y 🎉 z")
BURSTS = 10
# Fields where nothing may change: typed text stays as typed.
SILENT = ":tada:"
EXCLUDED_NAME = "excluded_field"

scratch = os.environ["PIMSEL_SESSION_TMP"]
here = os.path.dirname(os.path.abspath(__file__))
failures = []


def focused_fields():
    """The frontends of the input contexts fcitx5 holds focused."""
    info = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.fcitx.Fcitx5", "/controller",
                           "org.fcitx.Fcitx.Controller1.DebugInfo"], capture_output=True, text=True).stdout
    return [line.split("frontend:")[1].split()[0] for line in info.splitlines() if line.endswith("focus:1")]


def name_owned(name):
    return "boolean true" in subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
         "org.freedesktop.DBus.NameHasOwner", f"string:{name}"], capture_output=True, text=True).stdout


def focused_window():
    """The title of the window sway gives the keyboard."""
    socket = glob.glob(os.path.join(os.environ["XDG_RUNTIME_DIR"], "sway-ipc.*.sock"))
    tree = subprocess.run(["swaymsg", "-s", socket[0], "-r", "-t", "get_tree"], capture_output=True,
                          text=True).stdout if socket else ""
    nodes = [json.loads(tree)] if tree else []
    while nodes:
        node = nodes.pop()
        if node.get("focused"):
            return node.get("name")
        nodes += node.get("nodes", []) + node.get("floating_nodes", [])
    return None


def wait_until(condition, seconds=5.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.03)
    return True


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return None


def wait_text(out, expected, seconds=4.0):
    wait_until(lambda: read(out) == expected, seconds)
    return read(out)


def press(keys):
    """Types wtype's arguments (text, -k KEY, -s MILLISECONDS)."""
    # Each wtype run is a new keyboard, and its first key makes the toolkit restart the field's text
    # input, which drops whatever preedit is open: that key has to come before the sequence.
    subprocess.run(["wtype", "-k", "Shift_L", "-s", "200"] + keys, check=True)


def type_into(command, env, case, keys, expected, then=None):
    """A fresh window per sequence: under Wayland a keymap new to GTK reaches its entry's text but not
    its key bindings, so no key could be trusted to empty a field between sequences. `then`: the title
    of a window the sequence opens and the keys typed into it."""
    # Keys typed before the new window's field reaches fcitx5 would bypass it: the field is known
    # ready once fcitx5 holds its input context focused, after the last window's has gone.
    frontend = "wayland_v2" if env.get("GTK_IM_MODULE") == "wayland" else "dbus"
    if not wait_until(lambda: not focused_fields()):
        failures.append(f"{case}: the previous window kept the focus")
        return False
    out = os.path.join(scratch, "field.txt")
    if os.path.exists(out):
        os.remove(out)
    target = subprocess.Popen(command + ["--out", out], env={**os.environ, **env}, stdout=subprocess.PIPE,
                              text=True)
    try:
        line = target.stdout.readline()
        if not line.startswith("READY") or wait_text(out, "") != "" or not wait_until(
                lambda: frontend in focused_fields()):
            failures.append(f"{case}: the window did not come up")
            return False
        press(keys)
        if then:
            if not wait_until(lambda: focused_window() == then[0], 10):
                failures.append(f"{case}: {then[0]} did not take the keyboard")
                return False
            press(then[1])
        text = wait_text(out, expected)
    finally:
        target.terminate()
        target.wait(10)
    if text != expected:
        failures.append(f"{case}: {text!r}, expected {expected!r}")
    return text == expected


def main(path_name, qt_field, app):
    toolkit, im_module = path_name.split("-")
    env = {"GTK_IM_MODULE" if toolkit == "gtk" else "QT_IM_MODULE": im_module}
    if toolkit == "gtk":
        program = [os.path.join(here, "..", "e2e", "targets", "gtk_entry.py")]
    else:
        program = [qt_field]
    # Clients report the name of the file they were started from.
    excluded = [os.path.join(scratch, EXCLUDED_NAME)]
    shutil.copy(program[0], excluded[0])
    settings = os.path.join(os.environ["XDG_CONFIG_HOME"], "pimsel", "pimsel.conf")
    os.makedirs(os.path.dirname(settings), exist_ok=True)
    with open(settings, "w", encoding="utf-8") as f:
        # Set up already: the desktop application's setup window would take the keyboard.
        f.write(f"[General]\npimsel.disabledApps={EXCLUDED_NAME}\npimsel.setupCompleted=true\n")

    log = os.path.join(scratch, "application.log")
    with open(log, "w", encoding="utf-8") as stderr:
        application = subprocess.Popen([app], stdout=subprocess.DEVNULL, stderr=stderr) if app else None
    try:
        if app and not wait_until(lambda: name_owned("app.pimsel.Pimsel"), 15):
            failures.append("the desktop application did not come up")
            app = None
        for case, keys, expected in CASES:
            type_into(program, env, case, keys, expected)
        landed = sum(type_into(program, env, f"burst {n + 1}", *BURST) for n in range(BURSTS))
        print(f"{path_name}: bursts {landed}/{BURSTS}")
        type_into(program + ["--password"], env, "password field", [SILENT], SILENT)
        # fcitx5's Wayland text-input frontend is told no program name, so no exclusion can apply there.
        if im_module != "wayland":
            type_into(excluded, env, "excluded application", [SILENT], SILENT)
        if app:
            # The keyboard stays a moment after Return: sway 1.7 died when it went away while the
            # field got the focus back and the emoji.
            # Typed on at once, before the browser's window has the keyboard: the keys are its.
            type_into(program, env, "typed on into the browser", ["a ::tada", "-k", "Return", "-s", "1500"],
                      "a 🎉")
            type_into(program, env, "the double trigger opens the browser", ["a ::"], "a 🎉",
                      ("Browse Emoji", ["tada", "-k", "Return", "-s", "1500"]))
    finally:
        if application:
            application.terminate()
            application.wait(10)
    print("\n".join(f"{path_name}: {line}" for line in read(log).splitlines() if line.startswith("pimsel:")))

    for failure in failures:
        print(f"{path_name}: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "", sys.argv[3] if len(sys.argv) > 3 else ""))
