import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    // The desktop's answer, read afresh whenever the tab is shown again or
    // the toggle has changed (after the change is done, not while it runs).
    property int loginStatus: LaunchAtLoginManager.status()

    function refreshStatus() {
        loginStatus = LaunchAtLoginManager.status()
    }

    function statusText(status) {
        switch (status) {
        case 0: return qsTr("Tellwind will not launch at login")
        case 1: return qsTr("Tellwind will launch when you log in")
        case 2: return qsTr("Requires approval in your desktop's settings")
        case 3: return qsTr("Service not found")
        }
        return qsTr("Unknown status")
    }

    // The tab is shown at once when the window opens: no change of visibility says so.
    Component.onCompleted: SpeechSettings.refreshMicrophones()
    onVisibleChanged: if (visible) {
        refreshStatus()
        SpeechSettings.refreshMicrophones()
    }
    Window.onActiveChanged: if (Window.active) refreshStatus()

    Connections {
        target: LaunchAtLoginManager
        function onIsEnabledChanged() { refreshLater.restart() }
    }
    // After the change has settled in the autostart store.
    Timer {
        id: refreshLater
        interval: 0
        onTriggered: form.refreshStatus()
    }

    SettingsViewSection {
        title: qsTr("Speech")

        Label {
            text: qsTr("Server address")
            font.pointSize: Theme.points(13)
        }
        RowLayout {
            Layout.fillWidth: true
            TextField {
                id: serverField
                objectName: "serverField"
                Layout.fillWidth: true
                text: SpeechSettings.serverBaseURL
                placeholderText: "http://127.0.0.1:8750"
                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase
                Accessible.name: qsTr("Server address")
                Accessible.description: SpeechSettings.addressProblem
                // What was said about the last address is not about this one.
                onTextEdited: SpeechSettings.forgetTest()
                onEditingFinished: SpeechSettings.applyServerBaseURL(text)
            }
            Button {
                objectName: "serverTestButton"
                text: qsTr("Test")
                enabled: !SpeechSettings.isTesting
                onClicked: {
                    if (SpeechSettings.applyServerBaseURL(serverField.text))
                        SpeechSettings.testServer(serverField.text)
                }
            }
        }
        Label {
            objectName: "serverAddressProblem"
            Layout.fillWidth: true
            visible: text.length > 0
            text: SpeechSettings.addressProblem.length > 0
                  ? qsTr("%1 Tellwind keeps using %2.").arg(SpeechSettings.addressProblem).arg(SpeechSettings.serverBaseURL)
                  : ""
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pointSize: Theme.points(11)
            color: Theme.amber
        }
        Label {
            objectName: "serverTestResult"
            Layout.fillWidth: true
            visible: text.length > 0
            text: SpeechSettings.testResult
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pointSize: Theme.points(11)
            color: SpeechSettings.testSucceeded || SpeechSettings.isTesting ? form.secondaryColor : Theme.amber
        }

        Label {
            text: qsTr("Microphone")
            font.pointSize: Theme.points(13)
        }
        ComboBox {
            id: microphoneBox
            objectName: "microphoneBox"
            Layout.fillWidth: true
            model: SpeechSettings.microphones
            textRole: "description"
            Accessible.name: qsTr("Microphone")
            // A chosen microphone that is not connected still shows as chosen.
            displayText: currentIndex >= 0 || SpeechSettings.microphone.length === 0
                         ? currentText : SpeechSettings.microphone
            currentIndex: {
                const list = SpeechSettings.microphones
                for (let i = 0; i < list.length; ++i) {
                    if (list[i].name === SpeechSettings.microphone)
                        return i
                }
                return -1
            }
            onActivated: index => SpeechSettings.microphone = SpeechSettings.microphones[index].name
        }
        Label {
            objectName: "microphoneNotice"
            Layout.fillWidth: true
            visible: text.length > 0
            text: SpeechSettings.microphoneNotice
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pointSize: Theme.points(11)
            color: Theme.amber
        }
    }

    SettingsViewSection {
        title: qsTr("Dictated text")

        SettingsViewToggle {
            objectName: "autoCapitalizeToggle"
            text: qsTr("Automatic capitals")
            checked: TextFormattingSettings.autoCapitalize
            onToggled: value => TextFormattingSettings.autoCapitalize = value
        }
        SettingsViewToggle {
            objectName: "spokenPunctuationToggle"
            text: qsTr("Spoken punctuation")
            checked: TextFormattingSettings.spokenPunctuation
            onToggled: value => TextFormattingSettings.spokenPunctuation = value
        }
    }

    SettingsViewSection {
        title: qsTr("Startup")

        SettingsViewToggle {
            objectName: "launchAtLoginToggle"
            text: qsTr("Start Tellwind when you log in")
            enabled: LaunchAtLoginManager.available
            checked: LaunchAtLoginManager.isEnabled
            onToggled: value => LaunchAtLoginManager.isEnabled = value
        }
        Label {
            objectName: "loginStatus"
            text: LaunchAtLoginManager.available ? form.statusText(form.loginStatus)
                                                 : LaunchAtLoginManager.unavailableReason
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("Typing")

        Label {
            objectName: "typingBackend"
            Layout.fillWidth: true
            text: qsTr("Typing: %1").arg(PlatformStatus.typingBackend)
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("System tray")

        SettingsViewToggle {
            objectName: "menuBarToggle"
            text: qsTr("Show icon in the system tray")
            checked: MenuBarManager.isEnabled
            onToggled: value => MenuBarManager.isEnabled = value
        }
        Label {
            Layout.fillWidth: true
            text: qsTr("Start dictation, show the panel and open these settings from the system tray.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

}
