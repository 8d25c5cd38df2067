#!/usr/bin/python3
"""Owns the CLIPBOARD the way GTK applications do, for the desktop tests.

  gtk_clip_owner.py rich   a formatted text buffer copy (GTK rich text plus the plain text targets)
  gtk_clip_owner.py image  a picture (GTK offers it in every image format it can write)

Prints "READY" once GTK owns the clipboard; SIGTERM quits.
"""
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Gdk, GdkPixbuf, GLib, Gtk  # noqa: E402


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "rich"
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    keep = []
    if kind == "image":
        pixbuf = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, True, 8, 24, 16)
        pixbuf.fill(0xCCF743FF)
        clipboard.set_image(pixbuf)
        keep.append(pixbuf)
    else:
        buffer = Gtk.TextBuffer()
        bold = buffer.create_tag("bold", weight=700)
        buffer.set_text("bold and ünïcode")
        buffer.apply_tag(bold, buffer.get_start_iter(), buffer.get_iter_at_offset(4))
        buffer.select_range(buffer.get_start_iter(), buffer.get_end_iter())
        buffer.copy_clipboard(clipboard)
        keep.append(buffer)

    def ready():
        print("READY", flush=True)
        return False

    GLib.idle_add(ready)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, lambda *_: (Gtk.main_quit(), False)[1])
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
