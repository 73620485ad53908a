import QtQuick

// A 28 x 28 round button in the panel's button column. The panel never takes
// keyboard focus, so a screen reader presses it through its action instead.
Item {
    id: button

    property string tooltip
    property string accessibleName: tooltip
    property alias hovered: hover.hovered
    default property alias content: face.data
    signal clicked()

    width: Theme.smallButtonSize
    height: Theme.smallButtonSize

    Accessible.role: Accessible.Button
    Accessible.name: accessibleName
    Accessible.description: tooltip
    Accessible.focusable: false
    Accessible.onPressAction: {
        tip.dismiss()
        button.clicked()
    }

    MaterialCircle {
        id: face
        anchors.fill: parent
        color: mouse.pressed ? Qt.rgba(0.2, 0.2, 0.23, 0.75) : Theme.material
    }

    HoverHandler {
        id: hover
        onHoveredChanged: tip.hoverChanged(hovered)
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        onClicked: {
            tip.dismiss()
            button.clicked()
        }
    }

    HoverTip {
        id: tip
        objectName: "hoverTip"
        target: button
        text: button.tooltip
    }
}
