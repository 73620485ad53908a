import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled switch of a settings form. It shows `checked` and reports the
// user's flips through `toggled`; the owner writes them to its manager, whose
// answer flows back into `checked`.
RowLayout {
    id: row

    property alias text: label.text
    property bool checked
    signal toggled(bool value)

    Layout.fillWidth: true

    Label {
        id: label
        Layout.fillWidth: true
        wrapMode: Text.WordWrap
        font.pointSize: Theme.points(13)
        // The switch carries it as its name; read once, not twice.
        Accessible.ignored: true
    }
    Switch {
        id: control
        objectName: row.objectName + "Switch"
        checked: row.checked
        onToggled: row.toggled(checked)
        Accessible.name: label.text
        Keys.onReturnPressed: flip()
        Keys.onEnterPressed: flip()

        function flip() {
            toggle()
            row.toggled(checked)
        }
    }
}
