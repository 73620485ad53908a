pragma ComponentBehavior: Bound

import QtQuick

// Three red dots rising and sinking in a travelling wave while dictation runs.
Row {
    id: dots
    spacing: 6
    Accessible.ignored: true

    property real dot1Offset: 0
    property real dot2Offset: 0
    property real dot3Offset: 0

    component Bounce: SequentialAnimation {
        id: bounce
        property string field
        property int delay
        running: true
        PauseAnimation { duration: bounce.delay }
        SequentialAnimation {
            loops: Animation.Infinite
            NumberAnimation {
                target: dots; property: bounce.field; to: -8; duration: 400
                easing.type: Easing.Bezier; easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1]
            }
            NumberAnimation {
                target: dots; property: bounce.field; to: 0; duration: 400
                easing.type: Easing.Bezier; easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1]
            }
        }
    }

    Bounce { field: "dot1Offset"; delay: 0 }
    Bounce { field: "dot2Offset"; delay: 150 }
    Bounce { field: "dot3Offset"; delay: 300 }

    DotView { offset: dots.dot1Offset; anchors.verticalCenter: parent.verticalCenter }
    DotView { offset: dots.dot2Offset; anchors.verticalCenter: parent.verticalCenter }
    DotView { offset: dots.dot3Offset; anchors.verticalCenter: parent.verticalCenter }
}
