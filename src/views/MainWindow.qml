import QtQuick
import QtQuick.Window

// The panel's window. The application turns it into a small frameless,
// always-on-top window that never takes keyboard focus before showing it.
Window {
    id: window
    objectName: "mainWindow"

    property alias translucent: content.translucent

    title: "Tellwind"
    // The same as the application's fixed panel size.
    width: 122
    height: 90
    minimumWidth: 122
    minimumHeight: 90
    visible: false
    color: "transparent"

    ContentView {
        id: content
        objectName: "contentView"
        anchors.centerIn: parent
    }
}
