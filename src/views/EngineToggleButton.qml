import QtQuick
import Tellwind.Core

// Switches between the on-device (bolt) and the cloud (head with brain) recognizer.
SmallRoundButton {
    id: toggle

    // The preferred engine sends the audio to the server.
    property bool isCloud: false
    readonly property string symbol: isCloud ? "brain.head.profile" : "bolt.fill"
    signal toggled()

    tooltip: isCloud ? qsTr("Server recognition: more accurate, needs the server. Click for on-device.")
                     : qsTr("On-device recognition: works offline. Click for server recognition.")
    accessibleName: isCloud ? qsTr("Server recognition") : qsTr("On-device recognition")
    onClicked: toggled()

    Image {
        anchors.centerIn: parent
        source: toggle.isCloud ? "icons/head-brain.svg" : "icons/bolt.svg"
        sourceSize.width: 16
        sourceSize.height: 16
        Accessible.ignored: true
    }
}
