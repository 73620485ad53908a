import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled switch of a settings form. It shows `checked` and reports the
// user's flips through `toggled`; the owner writes them to its manager, whose
// answer flows back into `checked`.
// Placed by anchors rather than a row layout: the label wraps in the width
// the switch leaves, and its height follows (a layout sizes a wrapped text
// by its unwrapped width, and large text then pushed the switch away).
Item {
    id: row

    property alias text: label.text
    property bool checked
    signal toggled(bool value)

    Layout.fillWidth: true
    implicitWidth: label.implicitWidth + control.implicitWidth + 8
    implicitHeight: Math.max(label.implicitHeight, control.implicitHeight)

    Label {
        id: label
        anchors.left: parent.left
        anchors.right: control.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        wrapMode: Text.WordWrap
        font.pointSize: Theme.points(13)
        // The switch carries it as its name; read once, not twice.
        Accessible.ignored: true
    }
    Switch {
        id: control
        objectName: row.objectName + "Switch"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        checked: row.checked
        onToggled: row.toggled(checked)
        Accessible.name: label.text
        Keys.onReturnPressed: flip()
        Keys.onEnterPressed: flip()

        function flip() {
            toggle()
            row.toggled(checked)
        }

        FocusRing { control: control; radius: 4 }
    }
}
