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
