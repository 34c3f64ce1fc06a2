import QtQuick
import QtQuick.Controls.Basic

// A button of the floating controls: a white glyph, an optional label, a tooltip. The
// accessible name is the label, else the tooltip.
AbstractButton {
    id: button

    property string iconName: ""
    property string label: ""
    property string tip: label
    // Marks the active tool.
    property bool active: false
    property int iconSize: 16

    implicitWidth: Math.max(32, content.implicitWidth + 16)
    implicitHeight: 32
    focusPolicy: Qt.NoFocus
    hoverEnabled: true
    opacity: enabled ? 1 : 0.4

    Accessible.role: Accessible.Button
    Accessible.name: label !== "" ? label : tip

    // Pause then Resume in quick succession is two presses, not a double click.
    onDoubleClicked: clicked()

    OverlayTip {
        target: button
        text: button.tip
        shown: button.hovered && !button.pressed
    }

    background: Rectangle {
        radius: 8
        color: button.active ? Qt.rgba(1, 1, 1, 0.28)
             : button.down ? Qt.rgba(1, 1, 1, 0.22)
             : button.hovered ? Qt.rgba(1, 1, 1, 0.12) : "transparent"
        border.width: button.active ? 1 : 0
        border.color: Qt.rgba(1, 1, 1, 0.6)
    }

    contentItem: Item {
        implicitWidth: content.implicitWidth
        implicitHeight: content.implicitHeight
        Row {
            id: content
            anchors.centerIn: parent
            spacing: 6
            OverlayIcon {
                name: button.iconName
                size: button.iconSize
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                visible: button.label !== ""
                text: button.label
                color: "white"
                font.pixelSize: 13
                font.weight: Font.Medium
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
}
