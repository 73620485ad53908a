import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The scrolling, padded column every settings tab is laid out in.
ScrollView {
    id: form

    default property alias sections: column.data
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.6)

    contentWidth: availableWidth
    padding: 16

    ColumnLayout {
        id: column
        width: form.availableWidth
        spacing: 14
    }
}
