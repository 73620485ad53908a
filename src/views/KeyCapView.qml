import QtQuick

// One key of a keyboard shortcut, drawn as a small raised key cap.
Item {
    id: cap

    property string text

    implicitWidth: Math.max(28, legend.implicitWidth + 12)
    implicitHeight: Math.max(28, legend.implicitHeight + 6)
    Accessible.ignored: true

    // The shadow: the same shape, one pixel lower, faintly black.
    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 1
        anchors.bottomMargin: -1
        radius: 6
        color: Qt.rgba(0, 0, 0, 0.1)
    }
    Rectangle {
        anchors.fill: parent
        radius: 6
        color: palette.button
        border.width: 1
        border.color: Qt.rgba(0.5, 0.5, 0.5, 0.35)
    }
    Text {
        id: legend
        anchors.centerIn: parent
        text: cap.text
        font.pointSize: Theme.points(14)
        font.weight: Font.Medium
        color: palette.windowText
        Accessible.ignored: true
    }
}
