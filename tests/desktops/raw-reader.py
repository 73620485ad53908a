#!/usr/bin/python3
# Runs in the target terminal: reads the terminal in raw mode and keeps in
# FILE what a text field would hold: Backspace erases the last character,
# Return is a line break, Ctrl+D ends. FILE is rewritten whole after every
# character, so a test can wait for it to match; FILE.ready appears once
# the reader listens.
import codecs
import os
import sys
import termios
import tty

out = sys.argv[1]
text = []


def save():
    with open(out + ".new", "w", encoding="utf-8") as f:
        f.write("".join(text))
    os.replace(out + ".new", out)


fd = sys.stdin.fileno()
tty.setraw(fd)
save()
open(out + ".ready", "w").close()
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
    if ch in ("\x7f", "\x08"):
        if text:
            text.pop()
    elif ch == "\r":
        text.append("\n")
    else:
        text.append(ch)
    save()
