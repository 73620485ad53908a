import QtQuick

// Shows the selected language's flag; a click opens or closes the picker.
SmallRoundButton {
    id: flagButton

    property var selectedLanguage
    property bool showPicker: false

    tooltip: "Select language: " + (selectedLanguage ? selectedLanguage.displayName : "")

    Text {
        anchors.centerIn: parent
        text: flagButton.selectedLanguage ? flagButton.selectedLanguage.flag : ""
        font.pixelSize: 18
    }
}
