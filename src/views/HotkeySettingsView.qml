pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    // "Ctrl+Alt+D" or "Shift + R" as key caps; the plus key keeps its cap.
    function keysOf(text) {
        const keys = text.split("+").map(key => key.trim())
        if (keys.length > 1 && keys[keys.length - 1] === "")
            keys.splice(keys.length - 2, 2, "+")
        return keys.filter(key => key.length > 0)
    }

    SettingsViewSection {
        title: qsTr("Shortcut")

        SettingsViewToggle {
            objectName: "hotkeyToggle"
            text: qsTr("Start and stop dictation with a shortcut")
            checked: GlobalHotkeyManager.isEnabled
            onToggled: value => GlobalHotkeyManager.isEnabled = value
        }
        RowLayout {
            Layout.fillWidth: true
            Label {
                text: qsTr("Shortcut:")
                font.pointSize: Theme.points(13)
            }
            // Drawn as key caps, read as one name.
            RowLayout {
                objectName: "hotkeyCaps"
                spacing: 4
                Accessible.role: Accessible.StaticText
                Accessible.name: GlobalHotkeyManager.hotkeyText
                Repeater {
                    model: form.keysOf(GlobalHotkeyManager.hotkeyText)
                    RowLayout {
                        id: key
                        required property int index
                        required property string modelData
                        spacing: 4
                        Label {
                            visible: key.index > 0
                            text: "+"
                            color: form.secondaryColor
                            Accessible.ignored: true
                        }
                        KeyCapView {
                            objectName: "keyCap"
                            text: key.modelData
                        }
                    }
                }
            }
            Item { Layout.fillWidth: true }
        }
        Flow {
            Layout.fillWidth: true
            spacing: 8
            Button {
                id: recorder
                objectName: "recordHotkeyButton"
                property bool recording: false
                text: recording ? qsTr("Press the new shortcut…") : qsTr("Change Shortcut…")
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
                text: qsTr("Restore Default")
                enabled: !GlobalHotkeyManager.isShiftR
                onClicked: GlobalHotkeyManager.resetHotkey()
            }
        }
        Label {
            objectName: "hotkeyHelp"
            Layout.fillWidth: true
            text: recorder.recording
                ? qsTr("Hold Ctrl, Alt or Super and press a key. Esc cancels.")
                : GlobalHotkeyManager.shortcutNote !== "" ? GlobalHotkeyManager.shortcutNote
                : GlobalHotkeyManager.isShiftR
                    ? qsTr("Shift + R also types an R into the application you are using, and every capital R you type anywhere starts or stops dictation. A shortcut with Ctrl, Alt or Super reaches no application.")
                    : qsTr("This shortcut works in every application and reaches none of them. On Wayland your desktop binds it where it offers a shortcut service; otherwise bind the command \"tellwind --toggle\" in your desktop's keyboard settings.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }
}
