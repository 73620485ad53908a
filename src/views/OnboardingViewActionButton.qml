import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl

// The filled, rounded buttons of the walk-through: a label and a pictogram
// in white on a coloured ground.
AbstractButton {
    id: control

    property url iconSource
    property color fillColor: palette.highlight
    property bool iconFirst: false
    property bool compact: false

    leftPadding: compact ? 14 : 20
    rightPadding: compact ? 14 : 20
    topPadding: compact ? 6 : 10
    bottomPadding: compact ? 6 : 10
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: control.clicked()
    // Space is the style's own; Enter is what a keyboard user tries first.
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    contentItem: Row {
        spacing: 6
        layoutDirection: control.iconFirst ? Qt.RightToLeft : Qt.LeftToRight

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            font.pointSize: Theme.points(14)
            font.weight: Font.DemiBold
            color: "white"
            Accessible.ignored: true
        }
        IconImage {
            anchors.verticalCenter: parent.verticalCenter
            source: control.iconSource
            sourceSize.width: 14
            sourceSize.height: 14
            color: "white"
            Accessible.ignored: true
        }
    }

    background: Rectangle {
        radius: 8
        color: control.down ? Qt.darker(control.fillColor, 1.2)
                            : control.hovered ? Qt.lighter(control.fillColor, 1.08) : control.fillColor
        Behavior on color { ColorAnimation { duration: 200 } }

        FocusRing { control: control; radius: 10 }
    }
}
