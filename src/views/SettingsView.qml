pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import QtQuick.Window
import Tellwind.Core

// The settings window: four tabs, each a thin view over a manager owned by
// the application.
Window {
    id: root
    objectName: "settingsWindow"

    // Opens links in the user's browser (the C++ side that owns this window).
    required property SettingsWindow controller

    title: qsTr("Tellwind Settings")
    // Tall enough for the whole Speech section on a 1280 x 800 screen, and
    // small enough to sit beside the panel there; the user can resize it.
    width: Theme.scaled(520)
    height: Theme.scaled(560)
    minimumWidth: Theme.scaled(400)
    minimumHeight: Theme.scaled(340)
    color: palette.window

    function showTab(index) {
        content.currentIndex = (index + tabs.count) % tabs.count
        tabs.itemAt(content.currentIndex).forceActiveFocus()
    }

    Shortcut {
        sequences: ["Ctrl+Tab"]
        onActivated: root.showTab(content.currentIndex + 1)
    }
    // Shift turns Tab into Backtab on the way in.
    Shortcut {
        sequences: ["Ctrl+Shift+Tab", "Ctrl+Shift+Backtab", "Ctrl+Backtab"]
        onActivated: root.showTab(content.currentIndex - 1)
    }
    Shortcut {
        sequence: "Escape"
        onActivated: root.close()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // The tab strip of a preferences window: pictogram over label.
        RowLayout {
            objectName: "tabBar"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 6
            spacing: 2
            Accessible.role: Accessible.PageTabList
            Accessible.name: qsTr("Settings sections")

            Repeater {
                id: tabs
                model: [
                    { name: "General", label: qsTr("General"), icon: "icons/gear.svg" },
                    { name: "Account", label: qsTr("Account"), icon: "icons/person.circle.svg" },
                    { name: "Hotkey", label: qsTr("Shortcut"), icon: "icons/keyboard.svg" },
                    { name: "Appearance", label: qsTr("Appearance"), icon: "icons/paintbrush.svg" }
                ]

                // A TabButton, whose accessible role is the page tab's.
                TabButton {
                    id: tab
                    required property int index
                    required property var modelData
                    objectName: "tab" + modelData.name
                    checkable: true
                    checked: content.currentIndex === index
                    hoverEnabled: true
                    focus: index === 0
                    focusPolicy: Qt.StrongFocus
                    padding: 0
                    topInset: 0
                    bottomInset: 0
                    implicitWidth: Math.max(72, contentItem.implicitWidth + 16)
                    implicitHeight: Math.max(50, contentItem.implicitHeight + 6)
                    onClicked: content.currentIndex = index

                    Accessible.role: Accessible.PageTab
                    Accessible.name: modelData.label
                    Accessible.selectable: true
                    Accessible.selected: checked
                    Accessible.onPressAction: content.currentIndex = index
                    Keys.onReturnPressed: content.currentIndex = index
                    Keys.onEnterPressed: content.currentIndex = index

                    background: Rectangle {
                        radius: 6
                        color: tab.checked ? Qt.rgba(0.5, 0.5, 0.5, 0.18)
                                           : tab.hovered ? Qt.rgba(0.5, 0.5, 0.5, 0.08) : "transparent"
                        FocusRing { control: tab; anchors.margins: 0 }
                    }
                    contentItem: Column {
                        spacing: 3
                        topPadding: 5
                        IconImage {
                            Accessible.ignored: true
                            anchors.horizontalCenter: parent.horizontalCenter
                            source: tab.modelData.icon
                            sourceSize.width: 22
                            sourceSize.height: 22
                            color: tab.checked ? palette.highlight : palette.windowText
                        }
                        Text {
                            Accessible.ignored: true
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: tab.modelData.label
                            font.pointSize: Theme.points(11)
                            color: tab.checked ? palette.highlight : palette.windowText
                        }
                    }
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.topMargin: 6
            implicitHeight: 1
            color: Qt.rgba(0.5, 0.5, 0.5, 0.25)
        }

        StackLayout {
            id: content
            objectName: "tabContent"
            Layout.fillWidth: true
            Layout.fillHeight: true

            GeneralSettingsView {}
            AccountSettingsView { controller: root.controller }
            HotkeySettingsView {}
            // Made anew each time the tab is shown, like the other tabs'
            // state would be on a fresh window.
            Loader {
                active: content.currentIndex === 3
                // By address: Qt 6.4's Loader cannot make this file's own (bound) components.
                source: "AppearanceSettingsView.qml"
            }
        }
    }
}
