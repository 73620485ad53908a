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
        font.pixelSize: 13
    }
    Switch {
        objectName: row.objectName + "Switch"
        checked: row.checked
        onToggled: row.toggled(checked)
        Accessible.name: label.text
    }
}
