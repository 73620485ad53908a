import QtQuick
import QtQuick.Window

// The panel's window. The application turns it into a small frameless,
// always-on-top window that never takes keyboard focus before showing it.
Window {
    id: window
    objectName: "mainWindow"

    property alias translucent: content.translucent

    title: "Tellwind"
    width: 190
    height: 160
    minimumWidth: 190
    minimumHeight: 160
    visible: false
    color: "transparent"

    ContentView {
        id: content
        objectName: "contentView"
        anchors.centerIn: parent
    }
}
