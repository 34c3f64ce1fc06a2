import QtQuick
import QtQuick.Window

// A tooltip in a window of its own, below (or above) the control it explains. An
// in-window tooltip would have to sit on top of the controls in a panel only 44 px high
// and catch the next click; this one lets every click through.
Window {
    id: tip

    property Item target: null
    property string text: ""
    property bool shown: false

    flags: Qt.ToolTip | Qt.FramelessWindowHint | Qt.WindowDoesNotAcceptFocus | Qt.WindowTransparentForInput
    color: "#2c2c2e"
    width: label.implicitWidth + 16
    height: label.implicitHeight + 8
    visible: shown && opened && target !== null && text !== ""

    property bool opened: false

    onShownChanged: {
        if (!shown) { opened = false; delay.stop(); return }
        delay.restart()
    }

    Timer {
        id: delay
        interval: 500
        onTriggered: {
            const origin = tip.target.mapToGlobal(0, 0)
            tip.x = origin.x + (tip.target.width - tip.width) / 2
            const screenBottom = tip.screen ? tip.screen.virtualY + tip.screen.height : 1e9
            const below = origin.y + tip.target.height + 10
            tip.y = below + tip.height <= screenBottom ? below : origin.y - tip.height - 10
            tip.opened = true
        }
    }

    Text {
        id: label
        anchors.centerIn: parent
        text: tip.text
        color: "white"
        font.pixelSize: 12
    }
}
