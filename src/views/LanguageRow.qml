import QtQuick
import Tellwind.Core

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
    // Reached with the arrow keys from the search field.
    property bool isHighlighted: false
    readonly property bool isHovered: hover.hovered
    readonly property string name: LanguageCatalog.nameOf(language.code)
    signal selected()

    width: ListView.view ? ListView.view.width : 250
    height: content.implicitHeight + 16
    color: isHighlighted ? Qt.rgba(0.04, 0.52, 1, 0.25)
                         : isHovered || isSelected ? Qt.rgba(0.04, 0.52, 1, 0.1) : "transparent"
    border.width: isHighlighted ? 1 : 0
    border.color: palette.highlight

    Accessible.role: Accessible.ListItem
    Accessible.name: language.isCloudOnly ? qsTr("%1, Cloud").arg(name) : name
    Accessible.selectable: true
    Accessible.selected: isSelected
    Accessible.description: unavailableReason
    Accessible.onPressAction: row.selected()

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
            font.pointSize: Theme.points(22)
            Accessible.ignored: true
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
                text: row.name
                font.pointSize: Theme.points(13)
                color: palette.text
                Accessible.ignored: true
            }
            Text {
                objectName: "cloudLabel"
                visible: row.language.isCloudOnly
                text: qsTr("Cloud")
                font.pointSize: Theme.points(10)
                color: Theme.secondaryText
                Accessible.ignored: true
            }
            Text {
                objectName: "unavailableMark"
                visible: row.unavailableMark.length > 0
                width: parent.width
                elide: Text.ElideRight
                text: row.unavailableMark
                font.pointSize: Theme.points(10)
                color: Theme.amber
                Accessible.ignored: true
            }
        }
        Row {
            id: marks
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6
            Accessible.ignored: true
            Text {
                objectName: "cloudMark"
                visible: row.language.isCloudOnly
                anchors.verticalCenter: parent.verticalCenter
                text: "☁️"
                // Text fonts carry a plain black cloud for this character.
                font.family: "Noto Color Emoji"
                font.pointSize: Theme.points(12)
                Accessible.ignored: true
            }
            Image {
                objectName: "tick"
                visible: row.isSelected
                anchors.verticalCenter: parent.verticalCenter
                source: "icons/tick.svg"
                sourceSize.width: 14
                sourceSize.height: 14
                Accessible.ignored: true
            }
        }
    }

    SystemPalette { id: palette }
    HoverHandler {
        id: hover
        onHoveredChanged: if (tip.item) (tip.item as HoverTip).hoverChanged(hovered)
    }
    MouseArea {
        anchors.fill: parent
        onClicked: {
            if (tip.item)
                (tip.item as HoverTip).dismiss()
            row.selected()
        }
    }
    // A window of its own, so only the marked rows get one.
    Loader {
        id: tip
        active: row.tooltip.length > 0
        sourceComponent: HoverTip {}
        onLoaded: {
            const hoverTip = item as HoverTip
            hoverTip.target = row
            // Under the row and no wider: the panel beside the picker stays in sight.
            hoverTip.spareWindow = false
            hoverTip.maxWidth = Qt.binding(() => row.width)
            hoverTip.text = Qt.binding(() => row.tooltip)
        }
    }
}
