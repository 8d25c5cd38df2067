#!/usr/bin/python3
"""A GTK 3 window with one focused text entry, used as a target application by the desktop tests on
X11 and on Wayland.

Writes the entry's text (never a preedit) to --out on every change and on exit, and prints "READY
<xid>" ("READY" alone off X11) once the window is active and the focus is in it. With --login a password entry comes first and has the focus
(its text goes to --out + ".password"); Tab leads to the ordinary entry. SIGTERM quits.

With --own-clipboard rich|image it shows no window and owns the CLIPBOARD the way GTK applications
do: a formatted text buffer copy (GTK rich text plus the plain text targets), or a picture (offered
in every image format GTK can write). It prints "READY" once it owns it.

With --clipboard-manager it shows no window and is the session's clipboard manager: it owns
CLIPBOARD_MANAGER; asked to SAVE_TARGETS by the clipboard's owner, it copies every target that
owner offers, and serves the copy once that owner has let go of the clipboard. It prints "READY"
once it owns CLIPBOARD_MANAGER.
"""
import argparse
import os
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Gdk, GdkPixbuf, GLib, Gtk, GdkX11  # noqa: E402,F401


def own_clipboard(kind):
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    if kind == "image":
        data = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, True, 8, 24, 16)
        data.fill(0xCCF743FF)
        clipboard.set_image(data)
    else:
        data = Gtk.TextBuffer()
        bold = data.create_tag("bold", weight=700)
        data.set_text("bold and ünïcode")
        data.apply_tag(bold, data.get_start_iter(), data.get_iter_at_offset(4))
        data.select_range(data.get_start_iter(), data.get_end_iter())
        data.copy_clipboard(clipboard)
    GLib.idle_add(lambda: print("READY", flush=True))
    return data


def clipboard_manager():
    atom = Gdk.Atom.intern
    clipboard_atom = atom("CLIPBOARD", False)
    clipboard = Gtk.Clipboard.get(clipboard_atom)
    skipped = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"}
    saved = {}  # target name: (type, format, bytes)
    manager = atom("CLIPBOARD_MANAGER", False)
    widget = Gtk.Invisible()
    widget.show()

    # GTK answers SAVE_TARGETS itself, with nothing saved: the request is taken before it does.
    def save(_, request):
        if request.selection != manager or request.target.name() != "SAVE_TARGETS":
            return False
        saved.clear()
        ok, targets = clipboard.wait_for_targets()
        for name in {t.name() for t in (targets if ok else [])} - skipped:
            contents = clipboard.wait_for_contents(atom(name, False))
            if contents is not None and contents.get_length() >= 0:
                saved[name] = (contents.get_data_type(), contents.get_format(), contents.get_data())
        Gdk.selection_send_notify_for_display(Gdk.Display.get_default(), request.requestor, request.selection,
                                              request.target, request.property, request.time)
        return True

    def serve(_, data, *_unused):
        data.set(*saved[data.get_target().name()])

    def owner_changed(_, event):
        # The saving owner has let go: the copy takes the clipboard over.
        if saved and event.owner is None:
            Gtk.selection_clear_targets(widget, clipboard_atom)
            for name in saved:
                Gtk.selection_add_target(widget, clipboard_atom, atom(name, False), 0)
            Gtk.selection_owner_set(widget, clipboard_atom, Gdk.CURRENT_TIME)

    widget.connect("selection-get", serve)
    widget.connect("selection-request-event", save)
    clipboard.connect("owner-change", owner_changed)
    Gtk.selection_add_target(widget, manager, atom("SAVE_TARGETS", False), 0)
    if not Gtk.selection_owner_set(widget, manager, Gdk.CURRENT_TIME):
        return 1
    print("READY", flush=True)
    Gtk.main()
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--password", action="store_true")
    parser.add_argument("--own-clipboard", choices=["rich", "image"])
    parser.add_argument("--clipboard-manager", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("--text", default="")
    parser.add_argument("--title", default="gtk-entry")
    parser.add_argument("--login", action="store_true")
    args = parser.parse_args()
    if args.clipboard_manager:
        return clipboard_manager()
    if args.own_clipboard:
        for number in (signal.SIGTERM, signal.SIGINT):
            GLib.unix_signal_add(GLib.PRIORITY_HIGH, number, lambda *_: (Gtk.main_quit(), False)[1])
        kept = own_clipboard(args.own_clipboard)  # noqa: F841 (the owner's data lives as long as it)
        Gtk.main()
        return 0

    window = Gtk.Window(title=args.title)
    window.set_default_size(420, 80)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6, margin=12)
    entry = Gtk.Entry()
    entry.set_text(args.text)
    if args.password:
        entry.set_visibility(False)
        entry.set_input_purpose(Gtk.InputPurpose.PASSWORD)
    # A second widget so that a Tab the entry does not take has somewhere to move the focus.
    button = Gtk.Button(label="next")
    secret = None
    if args.login:
        secret = Gtk.Entry()
        secret.set_visibility(False)
        secret.set_input_purpose(Gtk.InputPurpose.PASSWORD)
        box.pack_start(secret, False, False, 0)
    box.pack_start(entry, False, False, 0)
    box.pack_start(button, False, False, 0)
    window.add(box)

    def write_out(*_):
        if args.out:
            data = entry.get_text().encode("utf-8")
            with open(args.out + ".tmp", "wb") as f:
                f.write(data)
            os.replace(args.out + ".tmp", args.out)

    entry.connect("changed", write_out)
    if secret:
        def write_secret(*_):
            with open(args.out + ".password.tmp", "wb") as f:
                f.write(secret.get_text().encode("utf-8"))
            os.replace(args.out + ".password.tmp", args.out + ".password")
        secret.connect("changed", write_secret)
    first = secret or entry
    window.connect("destroy", lambda *_: Gtk.main_quit())

    def leave(*_):
        # The window goes before the connection does, as when a person closes it; an ordinary exit
        # can hang in the Wayland backend's teardown.
        write_out()
        window.destroy()
        Gdk.Display.get_default().flush()
        os._exit(0)

    signal.signal(signal.SIGTERM, leave)
    signal.signal(signal.SIGINT, leave)

    announced = [False]

    def announce(*_):
        if announced[0] or not window.is_active() or not first.has_focus():
            return False
        announced[0] = True
        surface = window.get_window()
        print("READY", surface.get_xid() if hasattr(surface, "get_xid") else "", flush=True)
        return False

    def poll():
        announce()
        return not announced[0]

    window.connect("notify::is-active", announce)
    GLib.timeout_add(50, poll)
    # SIGUSR1 hides the entry's text, as a page's "hide password" toggle would.
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGUSR1, lambda *_: (entry.set_visibility(False), True)[1])

    write_out()
    window.show_all()
    # Caret after the initial text, nothing selected, as a Qt line edit starts.
    first.grab_focus_without_selecting()
    first.set_position(-1)
    window.present()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
