import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    SettingsViewSection {
        title: qsTr("Global Hotkey")

        SettingsViewToggle {
            objectName: "hotkeyToggle"
            text: qsTr("Enable global hotkey")
            checked: GlobalHotkeyManager.isEnabled
            onToggled: value => GlobalHotkeyManager.isEnabled = value
        }
        RowLayout {
            Label {
                text: qsTr("Current hotkey:")
                font.pointSize: Theme.points(13)
            }
            Item { Layout.fillWidth: true }
            // Drawn as key caps, read as one name.
            RowLayout {
                objectName: "hotkeyCaps"
                spacing: 4
                Accessible.role: Accessible.StaticText
                Accessible.name: qsTr("Shift + R")
                KeyCapView { text: "⇧" }
                Label {
                    text: "+"
                    color: form.secondaryColor
                    Accessible.ignored: true
                }
                KeyCapView { text: "R" }
            }
        }
        Label {
            Layout.fillWidth: true
            text: qsTr("Press Shift + R from anywhere to start/stop recording.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("Shortcut")

        Label {
            objectName: "hotkeyText"
            text: qsTr("Shortcut: %1").arg(GlobalHotkeyManager.hotkeyText)
            font.pointSize: Theme.points(13)
        }
        RowLayout {
            Button {
                id: recorder
                objectName: "recordHotkeyButton"
                property bool recording: false
                text: recording ? qsTr("Press the new shortcut…") : qsTr("Record Shortcut")
                onClicked: {
                    recording = true
                    forceActiveFocus()
                }
                onActiveFocusChanged: if (!activeFocus) recording = false
                Keys.onPressed: event => {
                    if (!recording)
                        return
                    event.accepted = true
                    if (event.key === Qt.Key_Escape)
                        recording = false
                    else if (GlobalHotkeyManager.recordHotkey(event.key, event.modifiers))
                        recording = false
                }
            }
            Button {
                objectName: "resetHotkeyButton"
                text: qsTr("Use Shift + R")
                enabled: !GlobalHotkeyManager.isShiftR
                onClicked: GlobalHotkeyManager.resetHotkey()
            }
        }
        Label {
            Layout.fillWidth: true
            text: recorder.recording
                ? qsTr("Hold Ctrl, Alt or Super and press a key. Esc cancels.")
                : GlobalHotkeyManager.shortcutNote !== "" ? GlobalHotkeyManager.shortcutNote
                : GlobalHotkeyManager.isShiftR
                    ? qsTr("Shift + R also types an R into the application you are using, and every capital R you type anywhere starts or stops dictation. A shortcut with Ctrl, Alt or Super reaches no application.")
                    : qsTr("This shortcut reaches no other application. On Wayland your desktop binds it where it offers a shortcut service; otherwise bind the command \"tellwind --toggle\" in your desktop's keyboard settings.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("Note")

        Label {
            Layout.fillWidth: true
            text: qsTr("The hotkey works system-wide, even when Tellwind is in the background.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }
}
