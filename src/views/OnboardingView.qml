pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tellwind.Core

// The first-run walk-through: what Tellwind does, the shortcut, the panel's
// buttons, and the permission to type into other applications, with the
// choice to start at login.
Rectangle {
    id: root

    // Asks whoever presents the walk-through to close it.
    signal dismiss()

    property int currentStep: 0
    property bool hasAccessibility: false
    // Asked on the last page, applied when the user finishes.
    property bool launchAtLogin: true
    readonly property int totalSteps: 4

    readonly property color accentColor: palette.highlight
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.62)
    readonly property color green: "#28a745"
    readonly property color blue: "#1e78f0"
    readonly property int animationDuration: 350

    // 400 high would cut the permission page short (its button and hint
    // fell below the window); this fits the tallest page with room to spare.
    implicitWidth: Theme.scaled(500)
    implicitHeight: Theme.scaled(570)
    color: palette.window

    function goTo(step) {
        currentStep = step
        pages.replace(pages.currentItem, pageFor(step))
        focusPrimary()
    }

    // The keyboard starts every page on its way forward, so Enter walks
    // through the whole walk-through.
    function focusPrimary() {
        if (currentStep < totalSteps - 1)
            forwardButton.forceActiveFocus()
        else
            finishButton.forceActiveFocus()
    }

    function pageFor(step) {
        return [welcomePage, shortcutPage, panelPage, accessibilityPage][step]
    }

    function complete() {
        LaunchAtLoginManager.isEnabled = root.launchAtLogin
        OnboardingManager.completeOnboarding()
        root.dismiss()
    }

    // "Ctrl+Alt+D" or "Shift + R" as key caps; the plus key keeps its cap.
    function keysOf(text) {
        const keys = text.split("+").map(key => key.trim())
        if (keys.length > 1 && keys[keys.length - 1] === "")
            keys.splice(keys.length - 2, 2, "+")
        return keys.filter(key => key.length > 0)
    }

    // The flag of the user's own country ("de_DE"), as the language button shows one.
    function flagOf(localeName) {
        const territory = localeName.length >= 5 ? localeName.substring(3, 5) : "US"
        return String.fromCodePoint(0x1F1E6 + territory.charCodeAt(0) - 65,
                                    0x1F1E6 + territory.charCodeAt(1) - 65)
    }

    Component.onCompleted: {
        hasAccessibility = OnboardingManager.isAccessibilityTrusted()
        checkTimer.start()
        focusPrimary()
    }

    // The permission can be granted in another window at any moment; the
    // page follows within a second. The view owns the timer, so it stops
    // when the walk-through goes away.
    Timer {
        id: checkTimer
        objectName: "accessibilityPoll"
        interval: 1000
        repeat: true
        onTriggered: {
            const trusted = OnboardingManager.isAccessibilityTrusted()
            if (trusted !== root.hasAccessibility)
                root.hasAccessibility = trusted
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 40
            Layout.rightMargin: 40
            Layout.topMargin: 20
            spacing: 8

            Accessible.role: Accessible.ProgressBar
            Accessible.name: qsTr("Step %1 of %2").arg(root.currentStep + 1).arg(root.totalSteps)

            Repeater {
                model: root.totalSteps
                Rectangle {
                    Accessible.ignored: true
                    objectName: "progressCapsule" + index
                    required property int index
                    Layout.fillWidth: true
                    Layout.preferredHeight: 4
                    radius: 2
                    color: index <= root.currentStep ? root.accentColor : Qt.rgba(0.5, 0.5, 0.5, 0.3)
                    Behavior on color { ColorAnimation { duration: root.animationDuration } }
                }
            }
        }

        // Every page enters from the trailing edge and leaves towards the
        // leading edge, whichever way the user goes.
        StackView {
            id: pages
            objectName: "pages"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            initialItem: welcomePage

            replaceEnter: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: pages.width; to: 0; duration: root.animationDuration; easing.type: Easing.InOutQuad }
                    NumberAnimation { property: "opacity"; from: 0; to: 1; duration: root.animationDuration; easing.type: Easing.InOutQuad }
                }
            }
            replaceExit: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: 0; to: -pages.width; duration: root.animationDuration; easing.type: Easing.InOutQuad }
                    NumberAnimation { property: "opacity"; from: 1; to: 0; duration: root.animationDuration; easing.type: Easing.InOutQuad }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 30

            Button {
                id: backButton
                objectName: "backButton"
                visible: root.currentStep > 0
                text: qsTr("Back")
                flat: true
                contentItem: Text {
                    text: backButton.text
                    font: backButton.font
                    color: root.secondaryColor
                    Accessible.ignored: true
                }
                background: Item {
                    FocusRing { control: backButton }
                }
                Accessible.name: text
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                onClicked: root.goTo(root.currentStep - 1)
            }

            Item { Layout.fillWidth: true }

            OnboardingViewActionButton {
                id: forwardButton
                objectName: "forwardButton"
                visible: root.currentStep < root.totalSteps - 1
                text: qsTr("Next")
                iconSource: "icons/arrow.right.svg"
                fillColor: root.accentColor
                onClicked: root.goTo(root.currentStep + 1)
            }

            OnboardingViewActionButton {
                id: finishButton
                objectName: "finishButton"
                visible: root.currentStep >= root.totalSteps - 1
                text: qsTr("Get Started")
                iconSource: "icons/checkmark.svg"
                fillColor: root.hasAccessibility ? root.green : root.accentColor
                onClicked: root.complete()
            }
        }
    }

    Component {
        id: welcomePage

        Item {
            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width
                spacing: 20

                IconImage {
                    Layout.alignment: Qt.AlignHCenter
                    source: "icons/mic.circle.fill.svg"
                    sourceSize.width: 80
                    sourceSize.height: 80
                    color: root.accentColor
                    Accessible.ignored: true
                }
                // A Text: a Label keeps its own accessible role, not the heading's.
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.maximumWidth: parent.width - 40
                    objectName: "pageTitle"
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                    color: palette.windowText
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                    text: qsTr("Welcome to Tellwind")
                    font.pointSize: Theme.points(26)
                    font.bold: true
                }
                Label {
                    Layout.fillWidth: true
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    text: qsTr("Speak, and Tellwind types what you say into the application you are using. This short tour shows how.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    color: root.secondaryColor
                }
            }
        }
    }

    // A heading of a page: a Text, as a Label keeps its own accessible role.
    component PageTitle: Text {
        Layout.alignment: Qt.AlignHCenter
        Layout.maximumWidth: parent.width - 40
        objectName: "pageTitle"
        Accessible.role: Accessible.Heading
        Accessible.name: text
        color: palette.windowText
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        font.pointSize: Theme.points(21)
        font.bold: true
    }

    // Inline components do not see this file's ids: the colour is spelled out.
    component PageText: Label {
        Layout.fillWidth: true
        Layout.leftMargin: 40
        Layout.rightMargin: 40
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.62)
    }

    // One of the panel's buttons as the panel draws it, and what it does.
    component PanelButtonLegend: RowLayout {
        id: legend
        property url iconSource
        property string glyph
        property string text
        property int size: 28
        Layout.fillWidth: true
        Layout.leftMargin: 40
        Layout.rightMargin: 40
        spacing: 14

        Item {
            Layout.preferredWidth: 44
            Layout.preferredHeight: legend.size
            Accessible.ignored: true
            Rectangle {
                anchors.centerIn: parent
                width: legend.size
                height: legend.size
                radius: width / 2
                color: Theme.materialOpaque
                border.width: 1
                border.color: Theme.hairline
                Image {
                    anchors.centerIn: parent
                    visible: legend.glyph.length === 0
                    source: legend.iconSource
                    sourceSize.width: legend.size / 2
                    sourceSize.height: legend.size / 2
                }
                Text {
                    anchors.centerIn: parent
                    visible: legend.glyph.length > 0
                    text: legend.glyph
                    font.pixelSize: legend.size * 0.6
                }
            }
        }
        Label {
            Layout.fillWidth: true
            text: legend.text
            wrapMode: Text.WordWrap
        }
    }

    Component {
        id: shortcutPage

        Item {
            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width
                spacing: 20

                PageTitle { text: qsTr("Start and stop with a shortcut") }
                // Drawn as key caps, read as one name.
                Row {
                    objectName: "welcomeShortcut"
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 6
                    Accessible.role: Accessible.StaticText
                    Accessible.name: GlobalHotkeyManager.hotkeyText
                    Repeater {
                        model: root.keysOf(GlobalHotkeyManager.hotkeyText)
                        Row {
                            id: key
                            required property int index
                            required property string modelData
                            spacing: 6
                            Label {
                                anchors.verticalCenter: parent.verticalCenter
                                visible: key.index > 0
                                text: "+"
                                font.pointSize: Theme.points(18)
                                color: root.secondaryColor
                                Accessible.ignored: true
                            }
                            KeyCapView {
                                objectName: "keyCap"
                                text: key.modelData
                                scale: 1.3
                                width: implicitWidth * 1.3
                                height: implicitHeight * 1.3
                            }
                        }
                    }
                }
                PageText {
                    text: qsTr("Press it in any application to start dictating, and press it again to stop. Tellwind types your words where the cursor is.")
                }
                PageText {
                    text: GlobalHotkeyManager.isEnabled
                          ? qsTr("You can change the shortcut in Settings, under Shortcut.")
                          : qsTr("The shortcut is turned off. You can turn it on in Settings, under Shortcut.")
                    font.pointSize: Theme.points(11)
                }
            }
        }
    }

    Component {
        id: panelPage

        Item {
            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width
                spacing: 16

                PageTitle { text: qsTr("The panel") }
                PageText {
                    text: qsTr("A small panel stays above your windows. Drag it by its edge to move it.")
                }
                PanelButtonLegend {
                    size: 40
                    iconSource: "icons/microphone.svg"
                    text: qsTr("Starts and stops dictation, like the shortcut.")
                }
                PanelButtonLegend {
                    iconSource: "icons/bolt.svg"
                    text: qsTr("Chooses how speech is recognized: on this computer, which works offline, or on your speech server, which is more accurate.")
                }
                PanelButtonLegend {
                    glyph: root.flagOf(Qt.locale().name)
                    text: qsTr("Opens the language picker. Search by a language's name in English or in the language itself, or by its code.")
                }
                PageText {
                    text: qsTr("If you hide the panel, \"Show Panel\" in the tray menu brings it back.")
                    font.pointSize: Theme.points(11)
                }
            }
        }
    }

    Component {
        id: accessibilityPage

        Item {
            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width
                spacing: 20

                OnboardingViewBadge {
                    objectName: "accessibilityBadge"
                    Layout.alignment: Qt.AlignHCenter
                    tint: root.hasAccessibility ? root.green : root.blue
                    iconColor: root.hasAccessibility ? root.green : root.accentColor
                    iconSource: root.hasAccessibility ? "icons/checkmark.shield.fill.svg" : "icons/hand.raised.fill.svg"
                }
                // A Text: a Label keeps its own accessible role, not the heading's.
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.maximumWidth: parent.width - 40
                    objectName: "pageTitle"
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                    color: palette.windowText
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                    text: root.hasAccessibility ? qsTr("Typing is ready") : qsTr("Enable typing")
                    font.pointSize: Theme.points(21)
                    font.bold: true
                }
                Label {
                    visible: root.hasAccessibility
                    Layout.fillWidth: true
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    text: qsTr("Tellwind can now type text into any application.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    color: root.secondaryColor
                }
                ColumnLayout {
                    visible: !root.hasAccessibility
                    Layout.fillWidth: true
                    spacing: 16

                    Label {
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        text: qsTr("Tellwind needs to send key presses to type dictated text into other apps.")
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        color: root.secondaryColor
                    }
                    Rectangle {
                        Layout.alignment: Qt.AlignHCenter
                        implicitWidth: steps.implicitWidth + 24
                        implicitHeight: steps.implicitHeight + 24
                        radius: 8
                        color: Qt.rgba(0.5, 0.5, 0.5, 0.1)

                        ColumnLayout {
                            id: steps
                            anchors.centerIn: parent
                            spacing: 8

                            Repeater {
                                model: [qsTr("Click \"Open Help\" below"), qsTr("Log in to an X11 (Xorg) session"),
                                        qsTr("Make sure XTEST is enabled"), qsTr("Start Tellwind again")]
                                RowLayout {
                                    id: step
                                    required property int index
                                    required property string modelData
                                    spacing: 12
                                    // The number only repeats the order a screen reader reads the steps in.
                                    Rectangle {
                                        Accessible.ignored: true
                                        Layout.alignment: Qt.AlignTop
                                        implicitWidth: Theme.scaled(20)
                                        implicitHeight: Theme.scaled(20)
                                        radius: width / 2
                                        color: root.accentColor
                                        Text {
                                            anchors.centerIn: parent
                                            text: step.index + 1
                                            Accessible.ignored: true
                                            font.pointSize: Theme.points(11)
                                            font.bold: true
                                            color: "white"
                                        }
                                    }
                                    Label {
                                        text: step.modelData
                                        font.pointSize: Theme.points(13)
                                    }
                                }
                            }
                        }
                    }
                    OnboardingViewActionButton {
                        objectName: "openSettingsButton"
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("Open Help")
                        iconSource: "icons/gear.svg"
                        iconFirst: true
                        compact: true
                        fillColor: root.accentColor
                        onClicked: OnboardingManager.openAccessibilitySettings()
                    }
                    Label {
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("This window will update automatically when typing becomes possible")
                        font.pointSize: Theme.points(11)
                        color: root.secondaryColor
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    Layout.topMargin: 4
                    implicitHeight: 1
                    color: Qt.rgba(0.5, 0.5, 0.5, 0.25)
                }
                SettingsViewToggle {
                    objectName: "launchAtLoginToggle"
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    text: qsTr("Start Tellwind when you log in")
                    checked: root.launchAtLogin
                    onToggled: value => root.launchAtLogin = value
                }
            }
        }
    }
}
