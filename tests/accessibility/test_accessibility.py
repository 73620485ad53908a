#!/usr/bin/python3
"""What a mouse user can do in Tellwind's own windows, done by a screen reader, in English and German:
    tests/harness.sh /usr/bin/python3 tests/accessibility/test_accessibility.py [Class]"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyatspi  # noqa: E402
from atspi_rig import (AccessibilityBus, Tellwind, TrayHost, button_names, by_role, find,  # noqa: E402
                       find_text, has_state, press, wait_for)

bus = tray = None


def setUpModule():
    global bus, tray
    bus = AccessibilityBus()
    tray = TrayHost()


def tearDownModule():
    bus.stop()


def type_text(text):  # into the focused field, in place of what it holds
    subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+a", "BackSpace"], check=True)
    subprocess.run(["xdotool", "type", "--delay", "20", text], check=True)


class Run(unittest.TestCase):  # one program run per test, stopped whatever the outcome
    settings = {"hasCompletedOnboarding": "true"}
    language = None

    def setUp(self):
        self.tellwind = Tellwind(self.settings, self.language)
        self.addCleanup(self.tellwind.stop)
        self.panel = self.tellwind.window("Tellwind")

    def tray_service(self):
        return wait_for(lambda: tray.items[-1] if tray.items else None, what="the tray item")

    def panel_buttons(self):
        return wait_for(lambda: sorted(names) if len(names := button_names(self.panel)) == 3 else None,
                        what="three buttons on the panel")

    def settings_tabs(self, menu_entry, title):
        tray.choose(self.tray_service(), menu_entry)
        window = self.tellwind.window(title)
        return window, wait_for(lambda: by_role(window, pyatspi.ROLE_PAGE_TAB), what="the tabs")


class Panel(Run):
    def test_buttons_named_for_what_they_do_and_pressed_by_their_action(self):
        self.assertEqual(self.panel_buttons(), ["Language: English (US)", "On-device recognition", "Start dictation"])
        microphone = find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Start dictation")
        # The panel never takes the keyboard focus from the application dictated into.
        self.assertFalse(has_state(microphone, pyatspi.STATE_FOCUSABLE))
        press(microphone)
        stop = find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Stop dictation")
        wait_for(lambda: has_state(stop, pyatspi.STATE_PRESSED), what="the pressed state")
        wait_for(lambda: any(line.startswith("✅ Recording started") for line in self.tellwind.lines),
                 what="the recording")
        press(stop)
        start = find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Start dictation")
        wait_for(lambda: not has_state(start, pyatspi.STATE_PRESSED), what="the released state")

        provider = find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "On-device recognition")
        self.assertIn("Click for server recognition", provider.description)
        press(provider)
        self.assertIn("Click for on-device",
                      find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Server recognition").description)


class Picker(Run):
    def test_rows_search_and_highlight_exposed_and_a_row_chosen(self):
        press(find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Language: English (US)"))
        picker = self.tellwind.window("Tellwind Languages")
        search = find(picker, pyatspi.ROLE_TEXT, "Search languages")
        wait_for(lambda: has_state(search, pyatspi.STATE_FOCUSED), what="the search field focused")
        rows = {row.name: row for row in by_role(picker, pyatspi.ROLE_LIST_ITEM)}
        self.assertTrue(has_state(rows["English (US)"], pyatspi.STATE_SELECTED))
        self.assertFalse(has_state(rows["English (UK)"], pyatspi.STATE_SELECTED))

        # A language only the server knows says so.
        type_text("alban")
        find(picker, pyatspi.ROLE_LIST_ITEM, "Albanian, Cloud")
        type_text("zzz")
        wait_for(lambda: not by_role(picker, pyatspi.ROLE_LIST_ITEM), what="no row for 'zzz'")
        press(find(picker, pyatspi.ROLE_PUSH_BUTTON, "Clear search"))
        wait_for(lambda: len(by_role(picker, pyatspi.ROLE_LIST_ITEM)) > 3, what="every row back")
        # The row the arrow keys reach is spoken as the field's description.
        type_text("span")
        find(picker, pyatspi.ROLE_LIST_ITEM, "Spanish (US)")
        subprocess.run(["xdotool", "key", "Down"], check=True)
        wait_for(lambda: search.description == "Spanish (Spain)", what="the highlighted row in the description")
        press(find(picker, pyatspi.ROLE_LIST_ITEM, "Spanish (Mexico)"))
        find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Language: Spanish (Mexico)")


class Onboarding(Run):
    settings = {}

    def test_every_page_read_and_finished_through_actions(self):
        sheet = self.tellwind.window("Welcome to Tellwind")
        pages = [("Welcome to Tellwind", ["Next"]), ("Start and stop with a shortcut", ["Back", "Next"]),
                 ("The panel", ["Back", "Next"])]
        for heading, buttons in pages:
            find(sheet, pyatspi.ROLE_HEADING, heading)
            wait_for(lambda: set(buttons) <= set(button_names(sheet)), what=f"the buttons of '{heading}'")
            press(find(sheet, pyatspi.ROLE_PUSH_BUTTON, buttons[-1]))
        find(sheet, pyatspi.ROLE_HEADING, "Typing is ready")
        self.assertIn("Back", button_names(sheet))
        press(find(sheet, pyatspi.ROLE_PUSH_BUTTON, "Get Started"))
        wait_for(lambda: "hasCompletedOnboarding=true" in self.tellwind.settings(), what="the walk-through stored")


def chosen(tab):
    return has_state(tab, pyatspi.STATE_SELECTED) or has_state(tab, pyatspi.STATE_CHECKED)


def toggle(window, name):
    return find(window, None, name, (pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON))


class Settings(Run):
    def test_tabs_and_toggles_exposed_with_their_states(self):
        window, tabs = self.settings_tabs("Settings…", "Tellwind Settings")
        self.assertEqual([tab.name for tab in tabs], ["General", "Account", "Shortcut", "Appearance"])
        self.assertEqual([chosen(tab) for tab in tabs], [True, False, False, False])
        self.assertTrue(has_state(toggle(window, "Show icon in the system tray"), pyatspi.STATE_CHECKED))

        press(tabs[2])
        wait_for(lambda: chosen(tabs[2]) and not chosen(tabs[0]), what="the Shortcut tab")
        find_text(window, "Ctrl+Alt+D")
        hotkey = toggle(window, "Start and stop dictation with a shortcut")
        checked = has_state(hotkey, pyatspi.STATE_CHECKED)
        press(hotkey)
        wait_for(lambda: has_state(hotkey, pyatspi.STATE_CHECKED) != checked, what="the toggle flipped")


class German(Run):
    language = "de_DE.UTF-8"

    def test_panel_tray_and_settings_speak_german(self):
        self.assertEqual(self.panel_buttons(), ["Diktat starten", "Erkennung auf dem Gerät", "Sprache: Englisch (USA)"])
        provider = find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Erkennung auf dem Gerät")
        self.assertEqual(provider.description, "Erkennung auf dem Gerät: geht auch ohne Netz. Klicken für Erkennung auf dem Server.")
        press(find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Diktat starten"))
        press(find(self.panel, pyatspi.ROLE_PUSH_BUTTON, "Diktat beenden"))

        # The tooltip a pointer resting on the button brings up.
        extents = provider.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(extents.x + extents.width // 2),
                        str(extents.y + extents.height // 2)], check=True)
        find_text(self.tellwind.app, "Erkennung auf dem Gerät: geht auch ohne Netz. Klicken für Erkennung auf dem Server.")

        service = self.tray_service()
        labels = wait_for(lambda: [text for _, text in tray.menu(service)], what="the tray menu")
        self.assertEqual(labels, ["Diktat starten", "Leiste anzeigen", "Sprache wählen …",
                                  "Einstellungen …", "Tellwind beenden"])
        _, tabs = self.settings_tabs("Einstellungen …", "Tellwind-Einstellungen")
        self.assertEqual([tab.name for tab in tabs], ["Allgemein", "Konto", "Tastenkürzel", "Darstellung"])


if __name__ == "__main__":
    # pyatspi still calls the older names of libatspi's functions.
    unittest.main(verbosity=2, warnings="ignore")
