pragma Singleton
import QtQuick

// Colours and sizes the views share.
QtObject {
    // The thin dark "material" of the round buttons: dark enough for white
    // glyphs over any desktop, light enough to let the desktop show through.
    readonly property color material: Qt.rgba(0.11, 0.11, 0.13, 0.62)
    readonly property color materialOpaque: "#2a2a2f"
    readonly property color hairline: Qt.rgba(1, 1, 1, 0.3)
    readonly property color accent: "#0a84ff"
    readonly property color red: "#ff3b30"
    // Something went wrong that the user should know about (never red: red means recording).
    readonly property color amber: "#ffb020"
    readonly property color secondaryText: "#8a8a8e"
    readonly property int smallButtonSize: 28
}
