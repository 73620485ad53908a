import QtQuick

// The keyboard focus mark of the drawn controls, which have no style of
// their own to show it: a ring in the highlight colour just outside its
// parent, shown while `control` has the focus.
Rectangle {
    property Item control: parent

    anchors.fill: parent
    anchors.margins: -3
    radius: 6
    color: "transparent"
    border.width: 2
    border.color: focusPalette.highlight
    visible: control !== null && control.activeFocus
    Accessible.ignored: true

    SystemPalette { id: focusPalette }
}
