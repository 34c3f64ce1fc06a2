import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// What a pane shows instead of its list: a glyph, a bold line and a sentence.
ColumnLayout {
    id: empty
    property string icon: "library"
    property color iconColor: Theme.secondaryText
    property string title: ""
    property string text: ""

    spacing: 8
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ". " + text

    MenuIcon {
        Layout.alignment: Qt.AlignHCenter
        name: empty.icon
        color: empty.iconColor
        size: 36
    }
    Label {
        Layout.alignment: Qt.AlignHCenter
        text: empty.title
        color: Theme.text
        font.pixelSize: 15
        font.weight: Font.DemiBold
    }
    Label {
        Layout.fillWidth: true
        visible: empty.text !== ""
        horizontalAlignment: Text.AlignHCenter
        text: empty.text
        color: Theme.secondaryText
        wrapMode: Text.Wrap
    }
}
