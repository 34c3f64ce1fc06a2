import QtQuick
import QtQuick.Controls
import Tolvane.Ui

// Every button of the panes, in four kinds: "primary" (the brand colour), "stop" (the
// recording red), "secondary" (a white button with a hairline) and "link" (text only).
Button {
    id: control
    property string kind: "secondary"
    readonly property bool filled: kind === "primary" || kind === "stop"
    readonly property color fill: kind === "primary" ? Theme.tomato : kind === "stop" ? Theme.recordRed : Theme.card

    font.pixelSize: Theme.fontSize
    font.weight: filled ? Font.DemiBold : Font.Normal
    topPadding: 7
    bottomPadding: 7
    leftPadding: kind === "link" ? 4 : 14
    rightPadding: kind === "link" ? 4 : 14
    hoverEnabled: true

    contentItem: Label {
        text: control.text
        font: control.font
        color: control.filled ? "white" : control.kind === "link" ? Theme.tomato : Theme.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitHeight: 32
        implicitWidth: 64
        radius: 7
        visible: control.kind !== "link"
        opacity: control.enabled ? 1 : 0.45
        color: control.down ? Qt.darker(control.fill, 1.12)
                            : control.hovered ? Qt.darker(control.fill, 1.05) : control.fill
        border.width: control.filled ? 0 : 1
        border.color: control.visualFocus ? Theme.tomato : Theme.border
    }
}
