import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    property bool resetPosition: false

    SettingsViewSection {
        title: qsTr("Window")

        RowLayout {
            ColumnLayout {
                spacing: 4
                Label {
                    text: qsTr("Window Position")
                    font.pointSize: Theme.points(13)
                }
                Label {
                    Layout.fillWidth: true
                    text: qsTr("Tellwind remembers where you place the floating window.")
                    wrapMode: Text.WordWrap
                    font.pointSize: Theme.points(11)
                    color: form.secondaryColor
                }
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "resetPositionButton"
                text: qsTr("Reset to Center")
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
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
            text: qsTr("Window position will reset to center on next launch.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: "#e67e00"
        }
    }
}
