import QtQuick
import Tolvane.Ui

// Tolvane's mark: a record button drawn in the brand colour, crisp at any size.
Item {
    id: mark
    property real size: 28
    implicitWidth: size
    implicitHeight: size

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: Theme.tomato
    }
    Rectangle {
        anchors.centerIn: parent
        width: mark.size * 0.6
        height: width
        radius: width / 2
        color: "transparent"
        border.color: "white"
        border.width: Math.max(1.5, mark.size * 0.07)
    }
    Rectangle {
        anchors.centerIn: parent
        width: mark.size * 0.3
        height: width
        radius: width / 2
        color: "white"
    }
}
