import QtQuick

Item {
    width: 190
    height: 160
}
