#!/usr/bin/python3
# A GTK 4 text field, the toolkit of GNOME's own applications: keeps in FILE what it holds after every change,
# FILE.ready once it first has the keyboard focus and FILE.focus "in" or "out" from then on, as raw-reader.py
# does for a terminal.
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gtk  # noqa: E402

out = sys.argv[1]


def write(path, text):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".new", path)


def changed(buffer):
    write(out, buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))


def focus(state):
    write(out + ".focus", state)
    if state == "in" and not os.path.exists(out + ".ready"):
        open(out + ".ready", "w").close()


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="field")
    window.set_default_size(600, 300)
    view = Gtk.TextView()
    view.get_buffer().connect("changed", changed)
    controller = Gtk.EventControllerFocus()
    controller.connect("enter", lambda *_: focus("in"))
    controller.connect("leave", lambda *_: focus("out"))
    view.add_controller(controller)
    window.set_child(view)
    window.present()
    view.grab_focus()


app = Gtk.Application(application_id="org.tellwind.TestField")
app.connect("activate", activate)
app.run([])
