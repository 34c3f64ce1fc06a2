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
            // Centred on its control, but never cut off by the screen's side (a pill
            // dragged to the edge).
            const screenLeft = tip.screen ? tip.screen.virtualX : -1e9
            const screenRight = tip.screen ? tip.screen.virtualX + tip.screen.width : 1e9
            const centred = origin.x + (tip.target.width - tip.width) / 2
            tip.x = Math.max(screenLeft + 4, Math.min(centred, screenRight - tip.width - 4))
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
