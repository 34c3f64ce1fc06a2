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

    readonly property bool lit: mouse.containsMouse || activeFocus

    implicitHeight: 30
    radius: 6
    color: lit ? Theme.selection : "transparent"
    // Reachable from the keyboard as well: Tab to it, Return or Space to run it.
    activeFocusOnTab: true
    Keys.onReturnPressed: row.clicked()
    Keys.onEnterPressed: row.clicked()
    Keys.onSpacePressed: row.clicked()
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
            color: row.lit ? Theme.text : Theme.secondaryText
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
