import QtQuick
import QtQuick.Window
import Tellwind.Core

// A tooltip in a window of its own, so that it is not cut off by the small
// panel it describes. Shown after the pointer has rested on `target`, on the
// target's screen, and clear of what it must not hide.
Window {
    id: tip

    property Item target
    property string text
    property bool armed: false
    // True: the tip keeps clear of the target's whole window (the panel,
    // whose other buttons stay in sight); false: only of the target.
    property bool spareWindow: true
    // Long texts wrap rather than run across the screen.
    property int maxWidth: Theme.scaled(280)

    flags: Qt.ToolTip | Qt.FramelessWindowHint | Qt.WindowDoesNotAcceptFocus
    color: "#f2303034"
    width: label.width + 14
    height: label.implicitHeight + 8
    visible: false

    function reveal() {
        const window = target ? target.Window.window : null
        if (!window)
            return
        const corner = target.mapToGlobal(0, 0)
        const targetRect = Qt.rect(corner.x, corner.y, target.width, target.height)
        const spare = spareWindow ? Qt.rect(window.x, window.y, window.width, window.height) : targetRect
        const at = PopupFocus.placeTip(window, targetRect, spare, tip.width, tip.height, 6)
        tip.x = at.x
        tip.y = at.y
        tip.visible = true
    }

    TextMetrics {
        id: metrics
        font: label.font
        text: tip.text
    }

    Text {
        id: label
        anchors.centerIn: parent
        width: Math.min(Math.ceil(metrics.advanceWidth) + 1, tip.maxWidth - 14)
        wrapMode: Text.Wrap
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
