import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import QtQuick.Window

// The settings window: four tabs, each a thin view over a manager owned by
// the application.
Window {
    id: root
    objectName: "settingsWindow"

    // Opens links in the user's browser (the C++ side that owns this window).
    required property QtObject controller

    title: "Tellwind Settings"
    width: 450
    height: 320
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: palette.window

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // The tab strip of a preferences window: pictogram over label.
        RowLayout {
            objectName: "tabBar"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 6
            spacing: 2

            Repeater {
                id: tabs
                model: [
                    { label: "General", icon: "icons/gear.svg" },
                    { label: "Account", icon: "icons/person.circle.svg" },
                    { label: "Hotkey", icon: "icons/keyboard.svg" },
                    { label: "Appearance", icon: "icons/paintbrush.svg" }
                ]

                AbstractButton {
                    id: tab
                    required property int index
                    required property var modelData
                    objectName: "tab" + modelData.label
                    checkable: true
                    checked: content.currentIndex === index
                    hoverEnabled: true
                    implicitWidth: Math.max(72, tabLabel.implicitWidth + 16)
                    implicitHeight: 50
                    onClicked: content.currentIndex = index

                    background: Rectangle {
                        radius: 6
                        color: tab.checked ? Qt.rgba(0.5, 0.5, 0.5, 0.18)
                                           : tab.hovered ? Qt.rgba(0.5, 0.5, 0.5, 0.08) : "transparent"
                    }
                    contentItem: Column {
                        spacing: 3
                        topPadding: 5
                        IconImage {
                            anchors.horizontalCenter: parent.horizontalCenter
                            source: tab.modelData.icon
                            sourceSize: Qt.size(22, 22)
                            color: tab.checked ? palette.highlight : palette.windowText
                        }
                        Text {
                            id: tabLabel
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: tab.modelData.label
                            font.pixelSize: 11
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
                sourceComponent: AppearanceSettingsView {}
            }
        }
    }
}
