import QtQuick
import QtQuick.Window

// A tooltip in a window of its own, so that it is not cut off by the small
// panel it describes. Shown after the pointer has rested on `target`.
Window {
    id: tip

    property Item target
    property string text
    property bool armed: false

    flags: Qt.ToolTip | Qt.FramelessWindowHint | Qt.WindowDoesNotAcceptFocus
    color: "#f2303034"
    width: label.implicitWidth + 14
    height: label.implicitHeight + 8
    visible: false

    function reveal() {
        if (!target || !target.Window.window)
            return
        const below = target.mapToGlobal(target.width / 2, target.height + 6)
        tip.x = Math.round(below.x - tip.width / 2)
        tip.y = Math.round(below.y)
        tip.visible = true
    }

    Text {
        id: label
        anchors.centerIn: parent
        text: tip.text
        color: "white"
        Accessible.role: Accessible.ToolTip
        Accessible.name: text
        font.pointSize: Theme.points(12)
    }

    Timer {
        id: delay
        interval: 700
        onTriggered: tip.reveal()
    }

    function hoverChanged(hovered) {
        if (hovered) {
            delay.restart()
        } else {
            delay.stop()
            tip.visible = false
        }
    }

    function dismiss() {
        delay.stop()
        tip.visible = false
    }
}
