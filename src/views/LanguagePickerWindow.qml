import QtQuick
import QtQuick.Window
import Tellwind.Core

// The language picker opens beside the panel in a window of its own (the
// panel is too small to hold it). It is the one window of Tellwind that takes
// keyboard focus, for its search field, and it hands the focus back when it
// closes. A click elsewhere closes it.
Window {
    id: popup

    // The panel: a QQuickWindow, which QML names no type for.
    property var anchorWindow
    property bool open: false
    property var selectedLanguage
    signal chosen(string code)
    signal dismissed()

    title: qsTr("Tellwind Languages")
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    width: Theme.scaled(250)
    height: Math.max(1, loader.item ? loader.implicitHeight + 2 : 1)
    color: frame.border.color
    visible: false

    readonly property int gap: 6
    // Set once this opening has had the focus: the loss of focus that the
    // last closing left behind can still arrive after the next opening.
    property bool focused: false

    function place() {
        if (!anchorWindow)
            return
        const at = PopupFocus.placeBeside(anchorWindow, width, height, gap)
        x = at.x
        y = at.y
    }

    onOpenChanged: {
        if (open) {
            focused = false
            // What the server recognizes may have changed since the last look.
            LanguageAvailability.refresh()
            place()
            visible = true
            PopupFocus.take(popup)
        } else if (visible) {
            visible = false
            PopupFocus.giveBack(popup)
        }
    }
    onHeightChanged: if (visible) place()
    onActiveChanged: {
        if (active && open)
            focused = true
        else if (!active && open && focused)
            dismissed()
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        color: "transparent"
        border.color: "#33000000"
    }

    Loader {
        id: loader
        x: 1
        y: 1
        // Built anew for every opening, so the search starts empty.
        active: popup.open
        focus: true
        sourceComponent: LanguagePickerView {}
        onLoaded: {
            const view = item as LanguagePickerView
            view.width = Qt.binding(() => popup.width - 2)
            view.selectedLanguage = Qt.binding(() => popup.selectedLanguage)
            view.selected.connect(code => popup.chosen(code))
            view.cancelled.connect(popup.dismissed)
            view.focusSearch()
        }
    }
}
