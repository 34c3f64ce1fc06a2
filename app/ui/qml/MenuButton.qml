import QtQuick
import QtQuick.Controls
import Tolvane.Ui

// The popover's buttons: a filled brand button for the one main act, quiet outlined ones
// for the rest.
Button {
    id: button

    property bool primary: false
    property string glyph: ""
    property color tint: Theme.tomato

    implicitHeight: primary ? 34 : 26
    leftPadding: primary ? 14 : 10
    rightPadding: primary ? 14 : 10
    font.pixelSize: primary ? Theme.fontSize : Theme.smallFontSize + 1
    font.weight: primary ? Font.DemiBold : Font.Medium

    // Centred, so a full-width button reads as one.
    contentItem: Item {
        implicitWidth: content.implicitWidth
        implicitHeight: content.implicitHeight
        Row {
            id: content
            anchors.centerIn: parent
            spacing: 6
            MenuIcon {
                visible: button.glyph !== ""
                anchors.verticalCenter: parent.verticalCenter
                name: button.glyph
                size: 14
                color: button.primary ? "white" : Theme.text
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: button.text
                font: button.font
                color: button.primary ? "white" : (button.enabled ? Theme.text : Theme.secondaryText)
            }
        }
    }

    background: Rectangle {
        radius: button.primary ? 8 : 6
        color: {
            if (button.primary) {
                const base = button.enabled ? button.tint : Qt.lighter(button.tint, 1.35)
                return button.down ? Qt.darker(base, 1.12) : (button.hovered ? Qt.darker(base, 1.05) : base)
            }
            return button.down ? Theme.sidebar : (button.hovered ? Theme.window : Theme.card)
        }
        border.width: button.primary ? 0 : 1
        border.color: Theme.border
    }
}
