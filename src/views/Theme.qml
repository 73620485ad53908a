pragma Singleton
import QtQuick

// Colours and sizes the views share.
QtObject {
    id: theme

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

    // Text sizes follow the desktop's font: the sizes below are what the
    // views were drawn with at the usual 9 pt on a 96 dpi screen, grown or
    // shrunk with the desktop's font size and its font resolution.
    function points(pixels) {
        const base = desktopText.font.pointSize
        return pixels * 0.75 * (base > 0 ? base / 9 : 1)
    }
    // Without a font of its own it measures the application's.
    readonly property FontMetrics desktopText: FontMetrics {}
    readonly property FontMetrics referenceText: FontMetrics {
        font.family: theme.desktopText.font.family
        font.pixelSize: 12
    }
    readonly property real textScale: desktopText.font.pointSize > 0
        ? desktopText.height / referenceText.height : 1
    // Fixed window sizes grow with the text so that nothing is cut off.
    function scaled(size) { return Math.round(size * Math.max(1, textScale)) }
}
