import QtQuick
import QtQuick.Controls
import Tolvane.Ui

// A drop-down list in the panes' look: white, with a hairline that turns the brand colour
// when the keyboard is on it.
ComboBox {
    id: control
    font.pixelSize: Theme.fontSize
    Accessible.name: displayText

    // The choice as plain text: the style's read-only text field would reach screen
    // readers as an unnamed entry.
    contentItem: Label {
        leftPadding: 10
        rightPadding: control.indicator ? control.indicator.width + 4 : 10
        text: control.displayText
        font: control.font
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: 140
        implicitHeight: 34
        radius: 7
        color: control.down ? Theme.window : Theme.card
        opacity: control.enabled ? 1 : 0.55
        border.width: control.visualFocus ? 2 : 1
        border.color: control.visualFocus ? Theme.tomato : Theme.border
    }
}
