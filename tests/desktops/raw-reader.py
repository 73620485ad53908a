#!/usr/bin/python3
# Keeps in FILE what a text field holds after every change, FILE.ready once it first has the keyboard focus and
# FILE.focus "in" or "out" from then on. Plain, it reads its terminal in raw mode (Backspace erases, Return
# breaks the line, Ctrl+D ends; the focus reported by DECSET 1004); with --field it is a GTK 4 text field, the
# toolkit of GNOME's own applications.
#
#   raw-reader.py [--field] FILE
import codecs
import os
import sys
import tty

out = sys.argv[-1]


def write(path, content):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(content)
    os.replace(path + ".new", path)


def focus(state):
    write(out + ".focus", state)
    if state == "in" and not os.path.exists(out + ".ready"):
        open(out + ".ready", "w").close()


def field(app):
    window = Gtk.ApplicationWindow(application=app, title="field")
    window.set_default_size(600, 300)
    view = Gtk.TextView()
    view.get_buffer().connect("changed", lambda b: write(out, b.get_text(b.get_start_iter(), b.get_end_iter(), True)))
    controller = Gtk.EventControllerFocus()
    controller.connect("enter", lambda *_: focus("in"))
    controller.connect("leave", lambda *_: focus("out"))
    view.add_controller(controller)
    window.set_child(view)
    window.present()
    view.grab_focus()


if sys.argv[1] == "--field":
    import gi
    gi.require_version("Gtk", "4.0")
    from gi.repository import Gtk
    app = Gtk.Application(application_id="org.tellwind.TestField")
    app.connect("activate", field)
    sys.exit(app.run([]))

fd = sys.stdin.fileno()
tty.setraw(fd)
text = []
write(out, "")
os.write(sys.stdout.fileno(), b"\x1b[?1004h")
decoder = codecs.getincrementaldecoder("utf-8")("replace")
pending = []
while True:
    if not pending:
        chunk = os.read(fd, 4096)
        pending = list(decoder.decode(chunk, final=not chunk))
        if not chunk:
            break
        if not pending:
            continue
    ch = pending.pop(0)
    if ch == "\x04":
        break
    if ch == "\x1b":
        while len(pending) < 2:
            pending += list(decoder.decode(os.read(fd, 4096)))
        if pending[0] == "[" and pending[1] in "IO":
            focus("in" if pending[1] == "I" else "out")
            del pending[:2]
            continue
    if ch in ("\x7f", "\x08"):
        text = text[:-1]
    elif ch == "\r":
        text.append("\n")
    else:
        text.append(ch)
    write(out, "".join(text))
