import QtQuick
import QtQuick.Controls.impl

// A rounded square washed in a colour, with a pictogram in that colour. Only
// decoration: the page's heading says the same in words.
Rectangle {
    id: badge

    property color tint
    property color iconColor: tint
    property url iconSource

    implicitWidth: 100
    implicitHeight: 100
    radius: 16
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.15)
    Accessible.ignored: true

    IconImage {
        anchors.centerIn: parent
        source: badge.iconSource
        sourceSize.width: 50
        sourceSize.height: 50
        color: badge.iconColor
        Accessible.ignored: true
    }
}
