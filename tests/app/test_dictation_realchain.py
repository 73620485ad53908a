#!/usr/bin/python3
"""Dictation through the whole program on the harness's X display, into real
xterms, with keys from XTest and commands from a script; the state is read
where a user sees it (the panel, the sound server). Only the recognizer is
scripted. WaylandWindowSwitch runs in tests/wayland/sway-session.sh instead.

    tests/harness.sh /usr/bin/python3 tests/app/test_dictation_realchain.py [Class]
"""

import array
import contextlib
import http.server
import json
import os
import random
import subprocess
import sys
import tempfile
import threading
import unittest

SOURCE_DIR = os.environ.get("TELLWIND_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "accessibility"))

import pyatspi  # noqa: E402
from atspi_rig import PROGRAM, AccessibilityBus, Tellwind, button_names, by_role, press, wait_for  # noqa: E402

RAW_READER = os.path.join(SOURCE_DIR, "tests", "desktops", "raw-reader.py")

def setUpModule():
    unittest.addModuleCleanup(AccessibilityBus().stop)


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], check=True, capture_output=True, text=True).stdout.strip()


def search(*arguments):
    """The first window xdotool finds, or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", *arguments], capture_output=True,
                           text=True).stdout.split()
    return found[0] if found else None


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True, text=True,
                          timeout=10).stdout


def command(*arguments):
    """`tellwind ARGUMENTS` from a script: it hands over to the running program and ends."""
    subprocess.run([PROGRAM, *arguments], check=True, timeout=15, stdout=subprocess.DEVNULL)


class Terminal:
    """An xterm whose reader keeps in a file what a text field would hold, and whether it has the focus."""

    def __init__(self, folder, name):
        self.path = os.path.join(folder, name)
        self.process = subprocess.Popen(
            ["xterm", "-geometry", "80x10+0+0", "-e", "/usr/bin/python3", RAW_READER, self.path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = wait_for(lambda: search("--pid", str(self.process.pid)), what=f"the terminal {name}")
        wait_for(lambda: self.read() is not None, what=f"the reader in {name}")
        self.focus()

    def read(self, suffix=""):
        try:
            with open(self.path + suffix, encoding="utf-8") as file:
                return file.read()
        except FileNotFoundError:
            return None

    def focus(self):
        xdotool("windowfocus", "--sync", self.window)
        wait_for(lambda: self.read(".focus") == "in", what="the terminal's focus")

    def wait_text(self, expected, timeout=15.0):
        try:
            wait_for(lambda: self.read() == expected, timeout, what=f"'{expected}'")
        except AssertionError:
            raise AssertionError(f"the terminal holds {self.read()!r}, not {expected!r}") from None

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def microphone_open(tellwind):
    """Whether the program has a recording stream open at the sound server."""
    listing = subprocess.run(["pactl", "list", "source-outputs"], capture_output=True, text=True).stdout
    return f'application.process.id = "{tellwind.process.pid}"' in listing


def wait_state(tellwind, panel, recording, timeout=20.0):
    """The panel's microphone button and the sound server both say recording, or both idle."""
    wanted = "Stop dictation" if recording else "Start dictation"

    def state():
        return (next((name for name in button_names(panel) if name.endswith(" dictation")), None),
                microphone_open(tellwind))
    try:
        wait_for(lambda: state() == (wanted, recording), timeout, what=wanted)
    except AssertionError:
        raise AssertionError(f"expected '{wanted}', the panel and the microphone say {state()}") from None


class Run(unittest.TestCase):
    settings = {"hasCompletedOnboarding": "true"}

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="tellwind-chain-")
        self.addCleanup(self.folder.cleanup)
        self.tellwind = Tellwind(self.settings)
        self.addCleanup(self.tellwind.stop)
        self.panel = self.tellwind.window("Tellwind")

    def terminal(self, name):
        terminal = Terminal(self.folder.name, name)
        self.addCleanup(terminal.close)
        return terminal


class Toggles(Run):
    def test_the_shortcut_and_every_toggle_of_a_script(self):
        """Typing (capitals, R among them) never starts a dictation and the chord never reaches the
        application; then 100 `tellwind --toggle` in bursts of random size and pace, as key repeat and
        impatient scripts send them: after each burst the panel and the microphone agree with the count."""
        terminal = self.terminal("target")
        xdotool("type", "--delay", "30", "SURVIVE ")
        terminal.wait_text("SURVIVE ")
        xdotool("key", "ctrl+alt+d")
        wait_state(self.tellwind, self.panel, recording=True)
        xdotool("type", "--delay", "30", "RRR R")
        xdotool("key", "shift+r")
        terminal.wait_text("SURVIVE RRR RR")
        xdotool("key", "ctrl+alt+d")
        wait_state(self.tellwind, self.panel, recording=False)
        xdotool("type", "--delay", "30", " END")
        terminal.wait_text("SURVIVE RRR RR END")

        generator = random.Random(os.environ.get("TELLWIND_SEED", "toggles"))
        sent = 0
        while sent < 100:
            burst = min(generator.randint(1, 15), 100 - sent)
            pauses = " ".join(f"{generator.choice((0, 0, 0.05, 0.2)):.2f}" for _ in range(burst))
            script = (f'for pause in {pauses}; do "$0" --toggle & sleep "$pause"; '
                      f'[ "$pause" = 0.00 ] || wait; done; wait')
            subprocess.run(["sh", "-c", script, PROGRAM], check=True, timeout=120, stdout=subprocess.DEVNULL)
            sent += burst
            wait_state(self.tellwind, self.panel, recording=sent % 2 == 1)


class Upload(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        recognizer, audio = self.server, self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with recognizer.lock:
            recognizer.uploads.append(audio)
            slot = recognizer.slot
            text = "" if slot or not recognizer.when(audio) else next(recognizer.words, "")
        if slot:
            slot["event"].wait(60)
            text = slot["text"]
        body = json.dumps({"type": "transcript", "text": text, "isFinal": True}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        with contextlib.suppress(OSError):  # the program ended while the upload was held
            self.wfile.write(body)

    def log_message(self, *arguments):
        pass


class ScriptedRecognizer(http.server.ThreadingHTTPServer):
    """tellwind-server's speech endpoint: each upload gets the next of answer()'s words if `when(audio)`,
    or, from hold() until the next answer(), what release() says once called."""
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Upload)
        self.uploads, self.held, self.lock = [], [], threading.Lock()
        self.answer()
        threading.Thread(target=self.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server_address[1]}"

    def answer(self, *words, when=lambda audio: True):
        with self.lock:
            self.words, self.when, self.slot = iter(words), when, None

    def hold(self):
        with self.lock:
            self.slot = {"event": threading.Event(), "text": ""}
            self.held.append(self.slot)

    def release(self, text):
        with self.lock:
            for slot in self.held:
                slot["text"] = text
                slot["event"].set()
            self.held = []

    def stop(self):
        self.release("")
        self.shutdown()
        self.server_close()


def peak(audio):
    return max(array.array("h", audio[:len(audio) // 2 * 2]), default=0)


class LateRevision(Run):
    """Dictate into A, stop, and move to B while A's last words are still on their way."""

    def setUp(self):
        self.recognizer = ScriptedRecognizer()
        self.addCleanup(self.recognizer.stop)
        self.settings = dict(Run.settings, autoCapitalize="false", spokenPunctuation="false",
                             preferredProvider="Server", serverBaseURL=self.recognizer.url)
        super().setUp()

    def dictate_and_hold_the_last_words(self, text_of_a):
        self.recognizer.answer("alpha one")
        command("--start")
        wait_for(lambda: text_of_a() == "alpha one", what="the first words in A")
        self.recognizer.hold()
        uploads = len(self.recognizer.uploads)
        command("--stop")
        wait_for(lambda: len(self.recognizer.uploads) > uploads, what="the stop's upload")


class WindowSwitch(LateRevision):
    def test_a_late_revision_stays_out_of_the_window_the_user_moved_to(self):
        """B holds the user's text; the user starts again in B at once: B's text stays, the new recording
        captures at once into B, and A's late words go to the clipboard if the user wants. Ten times."""
        tone = os.path.join(self.folder.name, "tone.wav")
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", tone, "synth", "0.6", "sine", "440", "vol", "0.37"],
                       check=True)
        own = "USER TEXT IN B THAT MUST SURVIVE 0123456789 END "
        for run in range(10):
            try:
                b = self.terminal(f"b{run}")
                xdotool("type", "--delay", "10", own)
                b.wait_text(own)
                a = self.terminal(f"a{run}")
                self.dictate_and_hold_the_last_words(a.read)

                b.focus()
                first_of_b = len(self.recognizer.uploads)
                # Only to B's tone: a second upload of A's stop may come after this.
                self.recognizer.answer("bravo two", when=lambda audio: peak(audio) > 6000)
                command("--start")
                wait_for(lambda: microphone_open(self.tellwind), what="the microphone")
                subprocess.run(["paplay", "-d", "spk", tone], check=True, timeout=20)
                self.recognizer.release("late words")
                command("--stop")
                b.wait_text(own + "bravo two")

                offer = wait_for(lambda: search("--name", "^Dictation not typed in full$"), what="the offer")
                xdotool("windowfocus", "--sync", offer, "key", "Return")
                wait_for(lambda: clipboard() == "alpha one late words", what="the late words on the clipboard")
                self.assertEqual((a.read(), b.read()), ("alpha one", own + "bravo two"))
                heard = max(peak(audio) for audio in self.recognizer.uploads[first_of_b:])
                self.assertGreater(heard, 6000, "the tone played right after the start was not captured")
            except AssertionError as failure:
                raise AssertionError(f"run {run + 1} of 10: {failure}") from None
            # The terminals stay open: a new one could get a closed one's window id.


def gtk_window(title):
    """The accessible frame of a GTK window, read afresh each time."""
    return next((frame for app in pyatspi.Registry.getDesktop(0) for frame in (app if app is not None else [])
                 if frame is not None and frame.name == title), None)


def gtk_text(title):
    frame = gtk_window(title)
    fields = by_role(frame, pyatspi.ROLE_TEXT) if frame else []
    return fields[0].queryText().getText(0, -1) if fields else None


def swaymsg_focus(title):
    """Focuses a window until it says it is active (sway may hand the focus back right after a move)."""
    def focused():
        subprocess.run(["swaymsg", f'[title="^{title}$"] focus'], capture_output=True)
        window = gtk_window(title)
        return window is not None and window.getState().contains(pyatspi.STATE_ACTIVE)
    wait_for(focused, what=f"the window '{title}' active")


@unittest.skipUnless(os.environ.get("SWAYSOCK"), "needs the sway session of tests/wayland/sway-session.sh")
class WaylandWindowSwitch(LateRevision):
    def gtk_editor(self, title, text=""):
        path = os.path.join(self.folder.name, title)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        editor = subprocess.Popen(["zenity", "--text-info", "--editable", "--title", title, "--filename", path],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(editor.kill)
        wait_for(lambda: gtk_text(title) == text, what=f"the editor '{title}'")

    def test_a_late_revision_stays_out_of_the_native_window_the_user_moved_to(self):
        """The windows, not the compositor, tell which has the focus: A's late words stay out of B."""
        own = "USER TEXT IN B THAT MUST SURVIVE"
        self.gtk_editor("EditorB", own)
        self.gtk_editor("EditorA")
        swaymsg_focus("EditorA")
        self.dictate_and_hold_the_last_words(lambda: gtk_text("EditorA"))
        swaymsg_focus("EditorB")
        self.recognizer.release("late words")

        def offer():
            return next((node for node in by_role(self.tellwind.app, pyatspi.ROLE_PUSH_BUTTON)
                         if node.name == "Copy to Clipboard"), None)
        wait_for(lambda: offer() or gtk_text("EditorB") != own, what="the late words held back")
        self.assertEqual((gtk_text("EditorB"), gtk_text("EditorA")), (own, "alpha one"))
        press(offer())
        wait_for(lambda: clipboard() == "alpha one late words", what="the late words on the clipboard")
        self.assertEqual(gtk_text("EditorB"), own)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
