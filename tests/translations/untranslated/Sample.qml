import QtQuick

// A text no catalogue translates: the check must fail on it.
Text {
    text: qsTr("A text nobody has translated")
}
