import QtQuick
import Tellwind.Core

// Shows the selected language's flag; a click opens or closes the picker.
SmallRoundButton {
    id: flagButton

    property var selectedLanguage
    property bool showPicker: false

    readonly property string languageName: selectedLanguage ? LanguageCatalog.nameOf(selectedLanguage.code) : ""

    tooltip: qsTr("Select language: %1").arg(languageName)
    accessibleName: qsTr("Language: %1").arg(languageName)

    Text {
        anchors.centerIn: parent
        text: flagButton.selectedLanguage ? flagButton.selectedLanguage.flag : ""
        // A picture in a fixed circle, not text: it keeps its size.
        font.pixelSize: 18
        Accessible.ignored: true
    }
}
