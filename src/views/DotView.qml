import QtQuick

// One of the three listening dots; `offset` moves it up (negative) or down.
Rectangle {
    id: dot
    property real offset: 0
    width: 10
    height: 10
    radius: 5
    color: Theme.red
    Accessible.ignored: true
    transform: Translate { y: dot.offset }
}
