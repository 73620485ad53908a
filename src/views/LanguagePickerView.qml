import QtQuick
import QtQuick.Controls
import Tellwind.Core

// The searchable list of all languages, the selected one ticked.
Rectangle {
    id: picker

    property var selectedLanguage
    // Which languages the marks are for: the server's alone when the user prefers it.
    readonly property bool prefersCloud: SpeechRecognitionManager.preferredProvider === STTProvider.STTProvider.google
    property alias searchText: searchField.text
    readonly property alias list: list
    signal selected(string code)

    width: 250
    implicitHeight: column.implicitHeight
    color: palette.window

    function focusSearch() { searchField.forceActiveFocus() }

    SystemPalette { id: palette }

    Column {
        id: column
        width: parent.width
        spacing: 0

        Rectangle {
            width: parent.width
            height: searchRow.implicitHeight + 20
            color: palette.base

            Row {
                id: searchRow
                x: 10
                width: parent.width - 20
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8

                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    source: "icons/magnifier.svg"
                    sourceSize: Qt.size(14, 14)
                }
                TextField {
                    id: searchField
                    objectName: "searchField"
                    anchors.verticalCenter: parent.verticalCenter
                    width: searchRow.width - 14 - 16 - 2 * searchRow.spacing
                    placeholderText: "Search languages..."
                    focus: true
                    background: null
                    padding: 0
                    font.pixelSize: 13
                }
                Image {
                    id: clearButton
                    objectName: "clearButton"
                    anchors.verticalCenter: parent.verticalCenter
                    visible: searchField.text.length > 0
                    source: "icons/cross.svg"
                    sourceSize: Qt.size(14, 14)
                    MouseArea {
                        anchors.fill: parent
                        anchors.margins: -3
                        onClicked: searchField.text = ""
                    }
                }
            }
        }

        Rectangle {
            width: parent.width
            height: 1
            color: palette.mid
        }

        ListView {
            id: list
            objectName: "languageList"
            width: parent.width
            height: Math.min(300, contentHeight)
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: LanguageCatalog.matching(searchField.text)
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn; visible: list.contentHeight > list.height }
            delegate: LanguageRow {
                required property var modelData
                language: modelData
                isSelected: picker.selectedLanguage !== undefined && picker.selectedLanguage.code === modelData.code
                unavailableMark: LanguageAvailability.revision >= 0
                                 ? LanguageAvailability.mark(modelData.code, picker.prefersCloud) : ""
                unavailableReason: LanguageAvailability.revision >= 0
                                   ? LanguageAvailability.reason(modelData.code, picker.prefersCloud) : ""
                onSelected: picker.selected(modelData.code)
            }
        }
    }
}
