#!/usr/bin/python3
"""A GTK 3 window with one focused entry, on whatever display GDK picks, for the Wayland tests.

The entry's committed text (never a preedit) goes to --out on every change; "READY" is printed once
the window is active with the focus in the entry. --password makes it a password entry. SIGTERM
quits.
"""
import argparse
import os
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--password", action="store_true")
    args = parser.parse_args()

    window = Gtk.Window(title="gtk-field")
    entry = Gtk.Entry()
    if args.password:
        entry.set_visibility(False)
        entry.set_input_purpose(Gtk.InputPurpose.PASSWORD)
    window.add(entry)

    def write_out(*_):
        with open(args.out + ".tmp", "wb") as f:
            f.write(entry.get_text().encode("utf-8"))
        os.replace(args.out + ".tmp", args.out)

    def announce(*_):
        if window.is_active() and entry.has_focus():
            print("READY", flush=True)
            return False
        return True

    entry.connect("changed", write_out)

    def leave(*_):
        # The window goes before the connection does, as when a person closes it.
        window.destroy()
        Gdk.Display.get_default().flush()
        os._exit(0)

    signal.signal(signal.SIGTERM, leave)
    write_out()
    window.show_all()
    entry.grab_focus()
    GLib.timeout_add(50, announce)
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
