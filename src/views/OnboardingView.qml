pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tellwind.Core

// The first-run walk-through: welcome, where the program is installed, and
// the permission to type into other applications.
Rectangle {
    id: root

    // Asks whoever presents the walk-through to close it.
    signal dismiss()

    property int currentStep: 0
    property bool hasAccessibility: false
    property bool isInApplications: false
    readonly property int totalSteps: 3

    readonly property color accentColor: palette.highlight
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.62)
    readonly property color green: "#28a745"
    readonly property color orange: "#f08c00"
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
        if (step === 0)
            return welcomePage
        if (step === 1)
            return applicationsPage
        return accessibilityPage
    }

    function forwardText(step) {
        if (step === 0)
            return qsTr("Let's Go")
        if (step === 1)
            return isInApplications ? qsTr("Continue") : qsTr("Skip for Now")
        return qsTr("Next")
    }

    function complete() {
        OnboardingManager.completeOnboarding()
        root.dismiss()
    }

    Component.onCompleted: {
        isInApplications = OnboardingManager.isInApplications()
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
                text: root.forwardText(root.currentStep)
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
                    text: qsTr("Dictate text into any app with a simple keyboard shortcut.\nLet's get you set up in just a moment.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    color: root.secondaryColor
                }
            }
        }
    }

    Component {
        id: applicationsPage

        Item {
            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width
                spacing: 20

                OnboardingViewBadge {
                    Layout.alignment: Qt.AlignHCenter
                    tint: root.isInApplications ? root.green : root.orange
                    iconSource: root.isInApplications ? "icons/checkmark.circle.fill.svg" : "icons/folder.fill.svg"
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
                    text: root.isInApplications ? qsTr("You're All Set!") : qsTr("Install Tellwind")
                    font.pointSize: Theme.points(21)
                    font.bold: true
                }
                Label {
                    visible: root.isInApplications
                    Layout.fillWidth: true
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    text: qsTr("Tellwind is installed in an application folder (/usr, /opt or ~/.local).")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    color: root.secondaryColor
                }
                ColumnLayout {
                    visible: !root.isInApplications
                    Layout.fillWidth: true
                    Layout.leftMargin: 40
                    Layout.rightMargin: 40
                    spacing: 12

                    Label {
                        Layout.fillWidth: true
                        text: qsTr("For best results, Tellwind should be installed under /usr, /opt or ~/.local.")
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        color: root.secondaryColor
                    }
                    Label {
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("Current location:")
                        font.pointSize: Theme.points(11)
                        color: root.secondaryColor
                    }
                    Label {
                        objectName: "bundlePath"
                        Layout.fillWidth: true
                        Layout.leftMargin: 40
                        Layout.rightMargin: 40
                        text: OnboardingManager.bundlePath
                        textFormat: Text.PlainText
                        font.pointSize: Theme.points(11)
                        color: root.secondaryColor
                        horizontalAlignment: Text.AlignHCenter
                        elide: Text.ElideMiddle
                        maximumLineCount: 1
                    }
                    // A Text: a Label keeps its own accessible role, not the button's.
                    Text {
                        id: revealLink
                        objectName: "showInFileManagerButton"
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("Show in File Manager")
                        color: root.accentColor
                        font.underline: finderArea.containsMouse || activeFocus
                        activeFocusOnTab: true

                        Accessible.role: Accessible.Button
                        Accessible.name: text
                        Accessible.onPressAction: OnboardingManager.revealBundle()
                        Keys.onSpacePressed: OnboardingManager.revealBundle()
                        Keys.onReturnPressed: OnboardingManager.revealBundle()
                        Keys.onEnterPressed: OnboardingManager.revealBundle()

                        FocusRing { control: revealLink }
                        MouseArea {
                            id: finderArea
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: OnboardingManager.revealBundle()
                        }
                    }
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
                    text: root.hasAccessibility ? qsTr("Typing Is Ready!") : qsTr("Enable Typing")
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
            }
        }
    }
}
