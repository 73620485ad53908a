#!/usr/bin/python3
"""Starting, stopping and typing a dictation through the whole chain on the
harness's X display: the program started as a user starts it, real xterms to
dictate into, keys from XTest (xdotool), commands from a script, and the
state read where a user sees it: the panel over the accessibility bus, and
the microphone at the sound server. Only the recognizer is scripted: a
loopback server answers the program's uploads when the test says so.
WaylandWindowSwitch runs in the headless sway session instead, between
native GTK windows.

    tests/harness.sh /usr/bin/python3 tests/app/test_dictation_realchain.py [Class]
    tests/harness.sh tests/wayland/sway-session.sh /usr/bin/python3 \
        tests/app/test_dictation_realchain.py WaylandWindowSwitch
"""

import array
import http.server
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import threading
import unittest
import wave

SOURCE_DIR = os.environ.get("TELLWIND_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "accessibility"))

import pyatspi  # noqa: E402
from atspi_rig import PROGRAM, AccessibilityBus, Tellwind, by_role, wait_for  # noqa: E402

RAW_READER = os.path.join(SOURCE_DIR, "tests", "desktops", "raw-reader.py")
# As the recognizer heard it: the typing is what is under test, not the formatting.
PLAIN = {"hasCompletedOnboarding": "true", "autoCapitalize": "false", "spokenPunctuation": "false"}

bus = None


def setUpModule():
    global bus
    bus = AccessibilityBus()


def tearDownModule():
    bus.stop()


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], check=True, capture_output=True, text=True).stdout.strip()


def command(*arguments):
    """`tellwind ARGUMENTS` from a script: it hands over to the running program and ends."""
    subprocess.run([PROGRAM, *arguments], check=True, timeout=15, stdout=subprocess.DEVNULL)


class Terminal:
    """An xterm whose program reads the keys raw and keeps in a file what a
    text field would hold (Backspace erases), and whether it has the focus."""

    def __init__(self, folder, name):
        self.path = os.path.join(folder, name)
        self.process = subprocess.Popen(
            ["xterm", "-geometry", "80x10+0+0", "-e", "/usr/bin/python3", RAW_READER, self.path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = wait_for(lambda: self._window(), what=f"the terminal {name}")
        # The reader asks for focus reports right after it wrote the empty file.
        wait_for(lambda: self.read() is not None, what=f"the reader in {name}")
        self.focus()

    def _window(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                               capture_output=True, text=True).stdout.split()
        return found[0] if found else None

    def read(self, suffix=""):
        try:
            with open(self.path + suffix, encoding="utf-8") as file:
                return file.read()
        except FileNotFoundError:
            return None

    def text(self):
        return self.read() or ""

    def focus(self):
        xdotool("windowfocus", "--sync", self.window)
        wait_for(lambda: self.read(".focus") == "in", what="the terminal's focus")

    def wait_text(self, expected, timeout=15.0):
        try:
            wait_for(lambda: self.text() == expected, timeout, what=f"'{expected}'")
        except AssertionError:
            raise AssertionError(f"the terminal holds {self.text()!r}, not {expected!r}") from None

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def microphone_open(tellwind):
    """Whether the program has a recording stream open at the sound server."""
    listing = subprocess.run(["pactl", "list", "source-outputs"], capture_output=True, text=True).stdout
    return f'application.process.id = "{tellwind.process.pid}"' in listing


def panel_says(panel):
    """What the panel's microphone button offers: "Start dictation" or "Stop dictation"."""
    names = [node.name for node in by_role(panel, pyatspi.ROLE_PUSH_BUTTON)]
    return next((name for name in names if name.endswith(" dictation")), None)


def wait_state(tellwind, panel, recording, timeout=20.0):
    """The panel and the microphone both say recording, or both say idle."""
    wanted = "Stop dictation" if recording else "Start dictation"
    try:
        wait_for(lambda: panel_says(panel) == wanted and microphone_open(tellwind) == recording,
                 timeout, what=wanted)
    except AssertionError:
        raise AssertionError(f"expected '{wanted}', the panel offers '{panel_says(panel)}' and the "
                             f"microphone is {'open' if microphone_open(tellwind) else 'closed'}") from None


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
    def test_every_toggle_of_a_script_counts(self):
        """100 `tellwind --toggle` in bursts of random size and pace: after
        each burst the panel and the microphone agree with the count."""
        self.terminal("target")
        generator = random.Random(os.environ.get("TELLWIND_SEED", "toggles"))
        sent = 0
        while sent < 100:
            burst = min(generator.randint(1, 15), 100 - sent)
            pauses = " ".join(f"{generator.choice((0, 0, 0.05, 0.2)):.2f}" for _ in range(burst))
            # Some of the burst back to back, some overlapping, as key repeat
            # and impatient scripts send them.
            script = (f'for pause in {pauses}; do "$0" --toggle & sleep "$pause"; '
                      f'[ "$pause" = 0.00 ] || wait; done; wait')
            subprocess.run(["sh", "-c", script, PROGRAM], check=True, timeout=120, stdout=subprocess.DEVNULL)
            sent += burst
            wait_state(self.tellwind, self.panel, recording=sent % 2 == 1)


class Shortcut(Run):
    def test_typing_never_starts_a_dictation_and_the_chord_never_reaches_the_application(self):
        terminal = self.terminal("target")
        # The user types capitals, among them R, with and without the shortcut running.
        xdotool("type", "--delay", "30", "SURVIVE ")
        terminal.wait_text("SURVIVE ")
        xdotool("key", "ctrl+alt+d")
        wait_state(self.tellwind, self.panel, recording=True)
        xdotool("type", "--delay", "30", "RRR R")
        xdotool("key", "shift+r")
        terminal.wait_text("SURVIVE RRR RR")
        xdotool("key", "ctrl+alt+d")
        wait_state(self.tellwind, self.panel, recording=False)
        # The chord went to Tellwind alone: the terminal has only the user's keys.
        xdotool("type", "--delay", "30", " END")
        terminal.wait_text("SURVIVE RRR RR END")


class ScriptedRecognizer:
    """tellwind-server's speech endpoint as a test drives it: each upload is
    answered by `answer(audio)`, which returns the transcript piece at once,
    or None to hold the upload until `release(text)`."""

    def __init__(self):
        self.answer = lambda audio: ""
        self.uploads = []
        self.held = []
        self.lock = threading.Lock()
        recognizer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                audio = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                with recognizer.lock:
                    recognizer.uploads.append(audio)
                    text = recognizer.answer(audio)
                    if text is None:
                        slot = {"event": threading.Event(), "text": ""}
                        recognizer.held.append(slot)
                if text is None:
                    slot["event"].wait(60)
                    text = slot["text"]
                body = json.dumps({"type": "transcript", "text": text, "isFinal": True}).encode()
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    self.wfile.write(body)
                except OSError:  # the program ended while the upload was held
                    pass

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"

    def count(self):
        with self.lock:
            return len(self.uploads)

    def release(self, text):
        with self.lock:
            for slot in self.held:
                slot["text"] = text
                slot["event"].set()
            self.held = []

    def stop(self):
        self.release("")
        self.server.shutdown()
        self.server.server_close()


def peak(audio):
    samples = array.array("h", audio[:len(audio) // 2 * 2])
    return max((abs(sample) for sample in samples), default=0)


def write_tone(path, seconds=0.6):
    with wave.open(path, "wb") as file:
        file.setnchannels(1)
        file.setsampwidth(2)
        file.setframerate(16000)
        file.writeframes(array.array(
            "h", (int(12000 * math.sin(2 * math.pi * 440 * i / 16000)) for i in range(int(16000 * seconds))))
            .tobytes())


class WindowSwitch(Run):
    recognizer = ScriptedRecognizer()
    settings = dict(PLAIN, preferredProvider="Server", serverBaseURL=recognizer.url)

    @classmethod
    def tearDownClass(cls):
        cls.recognizer.stop()

    def test_a_late_revision_stays_out_of_the_window_the_user_moved_to(self):
        """Dictate into A, stop, click into B (which holds the user's own text)
        and start again at once while A's last words are still on their way:
        B's text stays, the new recording captures at once and is typed into
        B, and A's late words go to neither, but to the clipboard if the user
        wants them. Ten times in a row."""
        recognizer = self.recognizer
        tone = os.path.join(self.folder.name, "tone.wav")
        write_tone(tone)
        own = "USER TEXT IN B THAT MUST SURVIVE 0123456789 END "
        for run in range(10):
            try:
                b = self.terminal(f"b{run}")
                xdotool("type", "--delay", "10", own)
                b.wait_text(own)
                a = self.terminal(f"a{run}")

                words = iter(["alpha one"])
                recognizer.answer = lambda audio: next(words, "")
                command("--start")
                a.wait_text("alpha one")
                # A's last upload is not answered until B has begun.
                recognizer.answer = lambda audio: None
                uploads = recognizer.count()
                command("--stop")
                wait_for(lambda: recognizer.count() > uploads, what="the stop's upload")

                b.focus()
                first_of_b = recognizer.count()
                words = iter(["bravo two"])
                recognizer.answer = lambda audio: next(words, "")
                command("--start")
                wait_for(lambda: microphone_open(self.tellwind), what="the microphone")
                subprocess.run(["paplay", "-d", "spk", tone], check=True, timeout=20)
                recognizer.release("late words")
                command("--stop")
                b.wait_text(own + "bravo two")

                # The words A could not type are offered once nothing records.
                offer = wait_for(lambda: xdotool_search("^Dictation not typed in full$"), what="the offer")
                xdotool("windowfocus", "--sync", offer, "key", "Return")
                wait_for(lambda: clipboard() == "alpha one late words", what="the late words on the clipboard")

                self.assertEqual(a.text(), "alpha one")
                self.assertEqual(b.text(), own + "bravo two")
                heard = max(peak(audio) for audio in recognizer.uploads[first_of_b:])
                self.assertGreater(heard, 6000, "the tone played right after the start was not captured")
            except AssertionError as failure:
                raise AssertionError(f"run {run + 1} of 10: {failure}") from None
            # The terminals stay open: the X server would give a new one the
            # id of one closed, and a window's id is all that tells it.


def swaymsg_focus(title):
    """Focuses a window until it says it is active (sway now and then hands
    the focus back to the window before, right after it moved)."""
    def focused():
        subprocess.run(["swaymsg", f'[title="^{title}$"] focus'], capture_output=True)
        window = gtk_window(title)
        return window is not None and window.getState().contains(pyatspi.STATE_ACTIVE)
    wait_for(focused, what=f"the window '{title}' active")


def gtk_window(title):
    """The accessible frame of a GTK window, read afresh each time."""
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        for frame in app:
            if frame is not None and frame.name == title:
                return frame
    return None


def gtk_text(title):
    frame = gtk_window(title)
    fields = by_role(frame, pyatspi.ROLE_TEXT) if frame else []
    return fields[0].queryText().getText(0, -1) if fields else None


@unittest.skipUnless(os.environ.get("SWAYSOCK"), "needs the sway session of tests/wayland/sway-session.sh")
class WaylandWindowSwitch(Run):
    recognizer = ScriptedRecognizer()
    settings = dict(PLAIN, preferredProvider="Server", serverBaseURL=recognizer.url)

    @classmethod
    def tearDownClass(cls):
        cls.recognizer.stop()

    def gtk_editor(self, title, text=""):
        path = os.path.join(self.folder.name, title)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        editor = subprocess.Popen(["zenity", "--text-info", "--editable", "--title", title, "--filename", path],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(editor.kill)
        wait_for(lambda: gtk_text(title) == text, what=f"the editor '{title}'")

    def test_a_late_revision_stays_out_of_the_native_window_the_user_moved_to(self):
        """On Wayland the compositor does not say which window has the focus;
        the windows tell the accessibility bus. Dictate into GTK window A,
        stop, click into B: A's late words stay out of B."""
        recognizer = self.recognizer
        own = "USER TEXT IN B THAT MUST SURVIVE"
        self.gtk_editor("EditorB", own)
        self.gtk_editor("EditorA")
        swaymsg_focus("EditorA")

        words = iter(["alpha one"])
        recognizer.answer = lambda audio: next(words, "")
        command("--start")
        wait_for(lambda: gtk_text("EditorA") == "alpha one", what="the first words in A")
        recognizer.answer = lambda audio: None
        uploads = recognizer.count()
        command("--stop")
        wait_for(lambda: recognizer.count() > uploads, what="the stop's upload")

        swaymsg_focus("EditorB")
        recognizer.release("late words")

        # Told, and offered for the clipboard, rather than typed into B.
        def offer():
            return next((node for node in by_role(self.tellwind.app, pyatspi.ROLE_PUSH_BUTTON)
                         if node.name == "Copy to Clipboard"), None)
        wait_for(lambda: offer() or gtk_text("EditorB") != own, what="the late words held back")
        self.assertEqual(gtk_text("EditorB"), own)
        self.assertEqual(gtk_text("EditorA"), "alpha one")
        offer().queryAction().doAction(0)
        wait_for(lambda: clipboard() == "alpha one late words", what="the late words on the clipboard")
        self.assertEqual(gtk_text("EditorB"), own)


def xdotool_search(name):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True, text=True,
                          timeout=10).stdout


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
