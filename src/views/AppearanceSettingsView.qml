import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    property bool resetPosition: false

    SettingsViewSection {
        title: "Window"

        RowLayout {
            ColumnLayout {
                spacing: 4
                Label {
                    text: "Window Position"
                    font.pixelSize: 13
                }
                Label {
                    Layout.fillWidth: true
                    text: "Tellwind remembers where you place the floating window."
                    wrapMode: Text.WordWrap
                    font.pixelSize: 11
                    color: form.secondaryColor
                }
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "resetPositionButton"
                text: "Reset to Center"
                onClicked: {
                    WindowPositionManager.clearPosition()
                    form.resetPosition = true
                }
            }
        }
    }

    SettingsViewSection {
        visible: form.resetPosition

        Label {
            objectName: "resetNotice"
            Layout.fillWidth: true
            text: "Window position will reset to center on next launch."
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: "#e67e00"
        }
    }
}
