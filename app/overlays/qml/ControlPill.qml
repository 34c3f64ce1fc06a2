import QtQuick
import QtQuick.Controls.Basic
import Tolvane.Ui

// The recording's controls: status dot, elapsed time, pause or resume, drawing on or
// off, stop. Dragging the capsule (outside the buttons) moves the panel.
Rectangle {
    id: pill
    objectName: "controlPill"

    readonly property var recording: model.recording
    readonly property bool paused: recording.phaseText === "paused"
    readonly property bool drawing: model.annotations.isDrawing

    implicitWidth: row.implicitWidth + 24
    implicitHeight: 44
    radius: height / 2
    color: Qt.rgba(0.11, 0.11, 0.12, 0.92)
    border.width: 1
    border.color: Qt.rgba(1, 1, 1, 0.12)

    MouseArea {
        // Moves the window by the pointer's travel since the press.
        anchors.fill: parent
        property point pressed
        onPressed: mouse => pressed = Qt.point(mouse.x, mouse.y)
        onPositionChanged: mouse => {
            const w = pill.Window.window
            w.x += mouse.x - pressed.x
            w.y += mouse.y - pressed.y
        }
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 8

        Rectangle {
            objectName: "statusDot"
            width: 8
            height: 8
            radius: 4
            color: pill.paused ? Theme.warning : Theme.recordRed
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "elapsed"
            text: format.duration(pill.recording.elapsed)
            width: Math.max(44, implicitWidth)
            color: "white"
            font.pixelSize: 13
            font.weight: Font.DemiBold
            anchors.verticalCenter: parent.verticalCenter
            Accessible.name: "Elapsed time " + text
        }
        Rectangle {
            width: 1
            height: 16
            color: Qt.rgba(1, 1, 1, 0.3)
            anchors.verticalCenter: parent.verticalCenter
        }
        OverlayButton {
            objectName: "pauseButton"
            iconName: pill.paused ? "play" : "pause"
            label: pill.paused ? "Resume" : "Pause"
            anchors.verticalCenter: parent.verticalCenter
            onClicked: pill.paused ? pill.recording.resumeRecording() : pill.recording.pauseRecording()
        }
        OverlayButton {
            objectName: "drawingButton"
            iconName: "drawing"
            iconSize: 18
            tip: pill.drawing ? "Stop drawing (Ctrl+Alt+D)" : "Draw on screen (Ctrl+Alt+D)"
            active: pill.drawing
            anchors.verticalCenter: parent.verticalCenter
            onClicked: model.annotations.isDrawing = !model.annotations.isDrawing
        }
        OverlayButton {
            objectName: "stopButton"
            iconName: "stop"
            label: "Stop"
            anchors.verticalCenter: parent.verticalCenter
            onClicked: pill.recording.stopRecording()
        }
    }
}
