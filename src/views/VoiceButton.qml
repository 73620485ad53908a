import QtQuick
import QtQuick.Shapes

// The large round microphone button. Idle: a white-edged disc with the
// microphone; recording: a red edge and the listening dots. A failure turns
// the edge amber, whatever the state, and its text becomes the tooltip;
// otherwise the tooltip says what a click does, and which keys do the same.
Item {
    id: button

    property bool isRecording: false
    // Stopped, but the last words are still on their way and being typed.
    property bool isFinishing: false
    property bool isPressed: false
    property string errorMessage
    readonly property bool hasError: errorMessage.length > 0
    // The global shortcut as the user set it; empty while it is off.
    property string shortcut
    readonly property string action: isRecording ? qsTr("Stop dictation") : qsTr("Start dictation")
    readonly property string tooltip: hasError ? errorMessage
                                               : shortcut.length > 0 ? qsTr("%1 (%2)").arg(action).arg(shortcut) : action
    // The two ends of the edge's gradient.
    readonly property color rimColor: hasError ? Theme.amber
                                               : isRecording ? Qt.rgba(1, 0.23, 0.19, 0.8) : Qt.rgba(1, 1, 1, 0.5)
    readonly property color rimFaintColor: hasError ? Qt.rgba(Theme.amber.r, Theme.amber.g, Theme.amber.b, 0.5)
                                                    : isRecording ? Qt.rgba(1, 0.23, 0.19, 0.4) : Qt.rgba(1, 1, 1, 0.2)
    signal tapped()

    width: 70
    height: 70
    opacity: isFinishing ? 0.6 : 1.0

    // The name changes with the state, so a screen reader announces the start
    // and the stop; the button is never focused (the panel must not take the
    // focus), so its action is the way to press it.
    Accessible.role: Accessible.Button
    Accessible.name: action
    // The problem the panel shows, if any: a screen reader speaks it with the button.
    Accessible.description: errorMessage
    Accessible.pressed: isRecording
    Accessible.focusable: false
    Accessible.onPressAction: button.tapped()

    // The press shrinks the button to 0.92 and lets it spring back: a damped
    // spring with a 0.3 s period and a damping ratio of 0.6, started from rest
    // at whatever size the button has when the press changes.
    property real springFrom: 1.0
    property real springTime: 0
    readonly property real springTarget: isPressed ? 0.92 : 1.0
    readonly property real springOmega: 2 * Math.PI / 0.3
    readonly property real springZeta: 0.6
    scale: {
        const t = springTime
        const decay = Math.exp(-springZeta * springOmega * t)
        const omegaD = springOmega * Math.sqrt(1 - springZeta * springZeta)
        const shape = decay * (Math.cos(omegaD * t) + springZeta * springOmega / omegaD * Math.sin(omegaD * t))
        return springTarget + (springFrom - springTarget) * shape
    }
    onIsPressedChanged: {
        springFrom = scale
        springTime = 0
        spring.restart()
    }
    NumberAnimation {
        id: spring
        target: button
        property: "springTime"
        from: 0
        to: 0.6
        duration: 600
    }

    MaterialCircle {
        id: disc
        anchors.fill: parent
        edge: false
    }

    // The edge ring, 1.5 px wide inside the disc, painted with a diagonal gradient.
    Shape {
        anchors.fill: parent
        antialiasing: true
        Accessible.ignored: true
        ShapePath {
            strokeWidth: 0
            strokeColor: "transparent"
            fillRule: ShapePath.OddEvenFill
            fillGradient: LinearGradient {
                x1: 0; y1: 0; x2: 70; y2: 70
                GradientStop { position: 0; color: button.rimColor }
                GradientStop { position: 1; color: button.rimFaintColor }
            }
            startX: 70; startY: 35
            PathAngleArc { centerX: 35; centerY: 35; radiusX: 35; radiusY: 35; startAngle: 0; sweepAngle: 360 }
            PathMove { x: 68.5; y: 35 }
            PathAngleArc { centerX: 35; centerY: 35; radiusX: 33.5; radiusY: 33.5; startAngle: 0; sweepAngle: 360 }
        }
    }

    Image {
        objectName: "microphoneSymbol"
        anchors.centerIn: parent
        visible: !button.isRecording
        source: "icons/microphone.svg"
        sourceSize.width: 28
        sourceSize.height: 28
        Accessible.ignored: true
    }

    Loader {
        objectName: "listeningDots"
        anchors.centerIn: parent
        active: button.isRecording
        sourceComponent: ListeningDotsView {}
    }

    // Only the disc answers clicks; the corners belong to the panel's background.
    MouseArea {
        anchors.fill: parent
        onPressed: mouse => {
            const dx = mouse.x - width / 2, dy = mouse.y - height / 2
            mouse.accepted = dx * dx + dy * dy <= (width / 2) * (width / 2)
        }
        onClicked: {
            tip.dismiss()
            button.tapped()
        }
    }

    HoverHandler {
        onHoveredChanged: tip.hoverChanged(hovered)
    }

    HoverTip {
        id: tip
        objectName: "hoverTip"
        target: button
        text: button.tooltip
    }

}
