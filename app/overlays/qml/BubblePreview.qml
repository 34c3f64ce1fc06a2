import QtQuick
import Tolvane.OverlayItems

// The live camera where the bubble will be in the video. Dragging it moves the panel;
// the controller turns the panel's place into the bubble's layout.
Item {
    id: bubble
    objectName: "bubblePreview"

    Accessible.role: Accessible.Graphic
    Accessible.name: "Camera preview"

    CameraSurface {
        objectName: "cameraSurface"
        anchors.fill: parent
        store: cameraFrames
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.OpenHandCursor
        property point pressed
        onPressed: mouse => pressed = Qt.point(mouse.x, mouse.y)
        onPositionChanged: mouse => {
            const w = bubble.Window.window
            w.x += mouse.x - pressed.x
            w.y += mouse.y - pressed.y
        }
    }
}
