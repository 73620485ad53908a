import QtQuick
import QtQuick.Layouts

// One group of a settings form: an optional header above a rounded panel
// whose rows are separated by hairlines.
ColumnLayout {
    id: section

    property string title
    default property alias rows: body.data

    Layout.fillWidth: true
    spacing: 5

    Text {
        visible: section.title.length > 0
        Layout.leftMargin: 4
        text: section.title
        Accessible.role: Accessible.Heading
        Accessible.name: text
        Accessible.ignored: !visible
        font.pointSize: Theme.points(12)
        font.weight: Font.DemiBold
        color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.7)
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: body.implicitHeight + 16
        radius: 8
        color: palette.base
        border.color: Qt.rgba(0.5, 0.5, 0.5, 0.2)

        ColumnLayout {
            id: body
            anchors.fill: parent
            anchors.margins: 8
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            spacing: 6
        }
    }
}
