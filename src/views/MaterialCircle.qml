import QtQuick

// The shared look of the round buttons: a translucent disc with a thin white
// edge drawn inside it.
Rectangle {
    property bool edge: true
    radius: width / 2
    color: Theme.material
    border.width: edge ? 1 : 0
    border.color: Theme.hairline
    Accessible.ignored: true
}
