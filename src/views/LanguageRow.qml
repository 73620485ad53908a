import QtQuick

// One language in the picker: flag, name ("Cloud" under it for the languages
// only the cloud recognizes), and a tick on the selected one. A language the
// current set-up cannot recognise carries a short mark, explained by the
// row's tooltip; it can still be chosen.
Rectangle {
    id: row

    property var language
    property bool isSelected: false
    property string unavailableMark
    property string unavailableReason
    readonly property string tooltip: unavailableReason
    readonly property bool isHovered: hover.hovered
    signal selected()

    width: ListView.view ? ListView.view.width : 250
    height: content.implicitHeight + 16
    color: isHovered || isSelected ? Qt.rgba(0.04, 0.52, 1, 0.1) : "transparent"

    Row {
        id: content
        x: 12
        width: parent.width - 24
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        Text {
            id: flag
            anchors.verticalCenter: parent.verticalCenter
            text: row.language.flag
            font.pixelSize: 22
        }
        Column {
            id: names
            anchors.verticalCenter: parent.verticalCenter
            width: content.width - flag.width - marks.width - 2 * content.spacing
            spacing: 1
            Text {
                objectName: "languageName"
                width: parent.width
                elide: Text.ElideRight
                text: row.language.displayName
                font.pixelSize: 13
                color: palette.text
            }
            Text {
                objectName: "cloudLabel"
                visible: row.language.isCloudOnly
                text: "Cloud"
                font.pixelSize: 10
                color: Theme.secondaryText
            }
            Text {
                objectName: "unavailableMark"
                visible: row.unavailableMark.length > 0
                width: parent.width
                elide: Text.ElideRight
                text: row.unavailableMark
                font.pixelSize: 10
                color: Theme.amber
            }
        }
        Row {
            id: marks
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6
            Text {
                objectName: "cloudMark"
                visible: row.language.isCloudOnly
                anchors.verticalCenter: parent.verticalCenter
                text: "☁️"
                // Text fonts carry a plain black cloud for this character.
                font.family: "Noto Color Emoji"
                font.pixelSize: 12
            }
            Image {
                objectName: "tick"
                visible: row.isSelected
                anchors.verticalCenter: parent.verticalCenter
                source: "icons/tick.svg"
                sourceSize: Qt.size(14, 14)
            }
        }
    }

    SystemPalette { id: palette }
    HoverHandler {
        id: hover
        onHoveredChanged: if (tip.item) tip.item.hoverChanged(hovered)
    }
    MouseArea {
        anchors.fill: parent
        onClicked: {
            if (tip.item)
                tip.item.dismiss()
            row.selected()
        }
    }
    // A window of its own, so only the marked rows get one.
    Loader {
        id: tip
        active: row.tooltip.length > 0
        sourceComponent: HoverTip {
            target: row
            text: row.tooltip
        }
    }
}
