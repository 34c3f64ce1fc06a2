import QtQuick

// The seconds before a recording starts, in a dark circle in the middle of the screen.
// A new number grows in from 0.92 as the old one grows out to 1.06, both fading.
Item {
    id: overlay
    objectName: "countdownOverlay"

    property int number: 0
    // Which of the two faces shows the current number; the other plays the exit.
    property int current: 0
    property bool shown: false

    onNumberChanged: {
        if (!shown) {
            // The first number is simply there.
            shown = true
            faceA.text = number
            return
        }
        const entering = current === 0 ? faceB : faceA
        const leaving = current === 0 ? faceA : faceB
        current = 1 - current
        entering.text = number
        entering.enter()
        leaving.leave()
    }

    Rectangle {
        width: 168
        height: 168
        radius: 84
        anchors.centerIn: parent
        color: Qt.rgba(0, 0, 0, 0.78)

        component Face: Text {
            id: face
            anchors.centerIn: parent
            color: "white"
            font.pixelSize: 84
            font.bold: true
            Accessible.name: "Recording starts in " + text
            function enter() { leaveAnimation.stop(); scale = 0.92; opacity = 0; enterAnimation.restart() }
            function leave() { enterAnimation.stop(); leaveAnimation.restart() }
            ParallelAnimation {
                id: enterAnimation
                NumberAnimation { target: face; property: "scale"; to: 1; duration: 180; easing.type: Easing.OutCubic }
                NumberAnimation { target: face; property: "opacity"; to: 1; duration: 180; easing.type: Easing.OutCubic }
            }
            ParallelAnimation {
                id: leaveAnimation
                NumberAnimation { target: face; property: "scale"; to: 1.06; duration: 180; easing.type: Easing.OutCubic }
                NumberAnimation { target: face; property: "opacity"; to: 0; duration: 180; easing.type: Easing.OutCubic }
            }
        }

        Face {
            id: faceA
            objectName: "countdownFace"
        }
        Face {
            id: faceB
            objectName: "countdownFace"
            opacity: 0
        }
    }
}
