import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    SettingsViewSection {
        title: "Global Hotkey"

        SettingsViewToggle {
            objectName: "hotkeyToggle"
            text: "Enable global hotkey"
            checked: GlobalHotkeyManager.isEnabled
            onToggled: value => GlobalHotkeyManager.isEnabled = value
        }
        RowLayout {
            Label {
                text: "Current hotkey:"
                font.pixelSize: 13
            }
            Item { Layout.fillWidth: true }
            RowLayout {
                spacing: 4
                KeyCapView { text: "⇧" }
                Label {
                    text: "+"
                    color: form.secondaryColor
                }
                KeyCapView { text: "R" }
            }
        }
        Label {
            Layout.fillWidth: true
            text: "Press Shift + R from anywhere to start/stop recording."
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: "Note"

        Label {
            Layout.fillWidth: true
            text: "The hotkey works system-wide, even when Tellwind is in the background."
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: form.secondaryColor
        }
    }
}
