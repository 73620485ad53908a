pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import Tellwind.Core

// The searchable list of all languages, the selected one ticked. The search
// field keeps the keyboard: typing filters, Up and Down move the highlight
// through the rows, Enter chooses (the first row when none is highlighted),
// Escape gives up.
Rectangle {
    id: picker

    property var selectedLanguage
    // Which languages the marks are for: the server's alone when the user prefers it.
    readonly property bool prefersCloud: SpeechRecognitionManager.prefersRemoteEngine
    property alias searchText: searchField.text
    readonly property alias list: list
    // The row Up and Down have reached; -1 until the first Down.
    property int highlighted: -1
    signal selected(string code)
    signal cancelled()

    width: Theme.scaled(250)
    implicitHeight: column.implicitHeight
    color: palette.window

    function focusSearch() { searchField.forceActiveFocus() }

    function move(step) {
        if (list.count === 0)
            return
        highlighted = Math.max(0, Math.min(list.count - 1, highlighted + step))
        list.positionViewAtIndex(highlighted, ListView.Contain)
    }

    function chooseHighlighted() {
        const index = highlighted >= 0 ? highlighted : 0
        if (index < list.count)
            picker.selected(list.model[index].code)
    }

    Keys.onEscapePressed: picker.cancelled()

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
                    sourceSize.width: 14
                    sourceSize.height: 14
                    Accessible.ignored: true
                }
                TextField {
                    id: searchField
                    objectName: "searchField"
                    anchors.verticalCenter: parent.verticalCenter
                    width: searchRow.width - 14 - 16 - 2 * searchRow.spacing
                    placeholderText: qsTr("Search by name or code…")
                    focus: true
                    background: null
                    padding: 0
                    font.pointSize: Theme.points(13)
                    onTextChanged: picker.highlighted = -1

                    Accessible.name: qsTr("Search languages")
                    // Spoken as Up and Down move, the focus staying here.
                    Accessible.description: picker.highlighted >= 0 && picker.highlighted < list.count
                        ? LanguageCatalog.nameOf(list.model[picker.highlighted].code) : ""
                    Keys.onDownPressed: picker.move(1)
                    Keys.onUpPressed: picker.move(-1)
                    Keys.onReturnPressed: picker.chooseHighlighted()
                    Keys.onEnterPressed: picker.chooseHighlighted()
                }
                Image {
                    id: clearButton
                    objectName: "clearButton"
                    anchors.verticalCenter: parent.verticalCenter
                    visible: searchField.text.length > 0
                    source: "icons/cross.svg"
                    sourceSize.width: 14
                    sourceSize.height: 14
                    activeFocusOnTab: true

                    function clear() {
                        searchField.text = ""
                        searchField.forceActiveFocus()
                    }

                    Accessible.role: Accessible.Button
                    Accessible.name: qsTr("Clear search")
                    Accessible.onPressAction: clear()
                    Keys.onSpacePressed: clear()
                    Keys.onReturnPressed: clear()
                    Keys.onEnterPressed: clear()

                    FocusRing { radius: 9 }
                    MouseArea {
                        anchors.fill: parent
                        anchors.margins: -3
                        onClicked: clearButton.clear()
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
            height: Math.min(Theme.scaled(300), contentHeight)
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: LanguageCatalog.matching(searchField.text)
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Languages")
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn; visible: list.contentHeight > list.height }
            delegate: LanguageRow {
                required property var modelData
                required property int index
                language: modelData
                isSelected: picker.selectedLanguage !== undefined && picker.selectedLanguage.code === modelData.code
                unavailableMark: LanguageAvailability.revision >= 0
                                 ? LanguageAvailability.mark(modelData.code, picker.prefersCloud) : ""
                unavailableReason: LanguageAvailability.revision >= 0
                                   ? LanguageAvailability.reason(modelData.code, picker.prefersCloud) : ""
                isHighlighted: index === picker.highlighted
                onSelected: picker.selected(modelData.code)
            }
        }
        // Said where the rows would be, so an empty list never looks broken.
        Label {
            id: noMatch
            objectName: "noMatch"
            visible: list.count === 0
            width: parent.width
            height: implicitHeight + 24
            verticalAlignment: Text.AlignVCenter
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("No language matches")
            color: Theme.secondaryText
            font.pointSize: Theme.points(13)
        }
    }
}
