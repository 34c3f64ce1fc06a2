import QtQuick
import QtQuick.Layouts
import Tolvane.Ui

// One of the popover's rows: a glyph, the title and an optional detail, highlighted
// under the pointer.
Rectangle {
    id: row

    property string title
    property string icon
    property string detail
    signal clicked()

    implicitHeight: 30
    radius: 6
    color: mouse.containsMouse ? Theme.selection : "transparent"
    Accessible.role: Accessible.MenuItem
    Accessible.name: title
    Accessible.onPressAction: row.clicked()

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        spacing: 10
        MenuIcon {
            name: row.icon
            color: mouse.containsMouse ? Theme.text : Theme.secondaryText
        }
        Text {
            Layout.fillWidth: true
            text: row.title
            color: Theme.text
            font.pixelSize: Theme.fontSize
            elide: Text.ElideRight
        }
        Text {
            visible: row.detail !== ""
            text: row.detail
            color: Theme.secondaryText
            font.pixelSize: Theme.smallFontSize
        }
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: row.clicked()
    }
}
