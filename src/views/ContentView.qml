import QtQuick
import QtQuick.Window
import Tellwind.Core

// The floating panel: the microphone button, and beside it the provider
// switch above the language flag.
Item {
    id: root

    // False where no compositor blends translucent windows: the panel then
    // stands on a dark card of its own instead of the bare desktop.
    property bool translucent: true
    property bool isPressed: false
    property bool showLanguagePicker: false

    // Just round the buttons, with a margin to take hold of the panel by.
    readonly property int margin: 10
    width: buttons.width + 2 * margin
    height: buttons.height + 2 * margin

    Accessible.role: Accessible.Pane
    Accessible.name: qsTr("Dictation panel")

    Rectangle {
        anchors.fill: parent
        visible: !root.translucent
        radius: 18
        color: Theme.materialOpaque
    }

    // The background moves the panel. Where the window manager does not take
    // the move over, the panel follows the pointer's own position: a motion
    // event's, taken relative to a window still catching up with the last
    // move, overshoots. (The press is where it was, the window not yet moved.)
    MouseArea {
        id: dragArea
        anchors.fill: parent
        property point pressedAt
        property point windowAt
        property bool manual: false
        onPressed: mouse => {
            const window = root.Window.window
            manual = !window.startSystemMove()
            pressedAt = mapToGlobal(mouse.x, mouse.y)
            windowAt = Qt.point(window.x, window.y)
        }
        onPositionChanged: mouse => {
            if (!manual)
                return
            const now = Pointer.globalPosition()
            const window = root.Window.window
            window.x = windowAt.x + now.x - pressedAt.x
            window.y = windowAt.y + now.y - pressedAt.y
        }
    }

    Row {
        id: buttons
        anchors.centerIn: parent
        spacing: 4

        VoiceButton {
            id: voiceButton
            objectName: "voiceButton"
            anchors.verticalCenter: parent.verticalCenter
            isRecording: AppState.isRecording
            isFinishing: AppState.isFinishing
            errorMessage: ErrorReporter.message
            shortcut: GlobalHotkeyManager.isEnabled ? GlobalHotkeyManager.hotkeyText : ""
            isPressed: root.isPressed
            onTapped: {
                root.isPressed = true
                pressReset.restart()
                AppState.toggleFromPanel()
            }
        }

        Column {
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6

            EngineToggleButton {
                objectName: "providerButton"
                isCloud: SpeechRecognitionManager.prefersRemoteEngine
                onToggled: SpeechRecognitionManager.togglePreferredProvider()
            }
            LanguageFlagButton {
                objectName: "flagButton"
                selectedLanguage: SpeechRecognitionManager.selectedLanguage
                showPicker: root.showLanguagePicker
                onClicked: root.showLanguagePicker = !root.showLanguagePicker
            }
        }
    }

    Timer {
        id: pressReset
        interval: 100
        onTriggered: root.isPressed = false
    }

    LanguagePickerWindow {
        objectName: "languagePicker"
        anchorWindow: root.Window.window
        open: root.showLanguagePicker
        selectedLanguage: SpeechRecognitionManager.selectedLanguage
        onChosen: code => {
            AppState.setLanguageCode(code)
            root.showLanguagePicker = false
        }
        onDismissed: root.showLanguagePicker = false
    }
}
