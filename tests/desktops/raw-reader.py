#!/usr/bin/python3
# Runs in the target terminal: reads the terminal in raw mode and keeps in FILE what a text field would hold:
# Backspace erases the last character, Return is a line break, Ctrl+D ends. FILE is rewritten whole after
# every character, so a test can wait for it to match. The terminal reports its keyboard focus (DECSET 1004):
# FILE.ready appears once it first has it, and FILE.focus says "in" or "out" from then on.
import codecs
import os
import sys
import tty

out = sys.argv[1]
text = []


def write(path, content):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(content)
    os.replace(path + ".new", path)


def save():
    write(out, "".join(text))


def focus(state):
    write(out + ".focus", state)
    if state == "in" and not os.path.exists(out + ".ready"):
        open(out + ".ready", "w").close()


fd = sys.stdin.fileno()
tty.setraw(fd)
save()
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
    save()
