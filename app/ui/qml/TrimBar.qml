import QtQuick
import Tolvane.Ui

// The kept range of a recording: two handles over a track as long as the movie. The
// rules (seconds under the pointer, the half-second minimum) are `format`'s, so the bar
// and the model can never disagree about where a handle may go.
Item {
    id: bar
    // The movie's length in seconds, as the manifest says.
    property real duration: 0
    property real trimStart: 0
    property real trimEnd: 0
    // The player's position in seconds, drawn as a thin line over the track.
    property real playhead: -1
    // While a handle is dragged: the second under it, for the player to show.
    signal scrubbed(real seconds)
    signal startMoved(real seconds)
    signal endMoved(real seconds)

    readonly property real span: format.trimDuration(duration)
    readonly property real handleWidth: 14
    readonly property real trackWidth: Math.max(width - handleWidth, 1)

    function xOf(seconds) { return handleWidth / 2 + seconds / span * trackWidth; }

    implicitHeight: 44
    implicitWidth: 300
    activeFocusOnTab: false

    Rectangle {
        id: track
        objectName: "trimTrack"
        x: bar.handleWidth / 2
        width: bar.trackWidth
        anchors.verticalCenter: parent.verticalCenter
        height: 30
        radius: 5
        color: Theme.sidebar
        border.color: Theme.border
    }
    // Everything outside the kept range is dimmed; the kept part is outlined.
    Rectangle {
        x: bar.xOf(bar.trimStart)
        width: Math.max(bar.xOf(bar.trimEnd) - x, 0)
        y: track.y
        height: track.height
        color: Qt.rgba(Theme.tomato.r, Theme.tomato.g, Theme.tomato.b, 0.18)
        border.color: Theme.tomato
        border.width: 2
        radius: 5
    }
    Rectangle {
        visible: bar.playhead >= 0
        x: bar.xOf(Math.min(Math.max(bar.playhead, 0), bar.span)) - 1
        y: track.y - 4
        width: 2
        height: track.height + 8
        color: Theme.text
    }

    component Handle: Rectangle {
        id: handle
        property bool isStart: true
        readonly property real seconds: isStart ? bar.trimStart : bar.trimEnd

        // Writes the clamped value, and only when it differs: the model saves each write.
        function moveTo(value) {
            const clamped = isStart ? format.clampTrimStart(value, bar.trimEnd)
                                    : format.clampTrimEnd(value, bar.trimStart, bar.span);
            if (clamped !== seconds) {
                if (isStart) bar.startMoved(clamped);
                else bar.endMoved(clamped);
            }
            bar.scrubbed(clamped);
        }

        x: bar.xOf(seconds) - width / 2
        anchors.verticalCenter: parent.verticalCenter
        width: bar.handleWidth
        height: 40
        radius: 4
        color: drag.pressed || activeFocus ? Qt.darker(Theme.tomato, 1.15) : Theme.tomato
        border.color: "white"
        border.width: activeFocus ? 2 : 0
        activeFocusOnTab: true
        Accessible.role: Accessible.Slider
        Accessible.name: (isStart ? "Trim start " : "Trim end ") + format.duration(seconds)
        Accessible.focusable: true

        Column {
            anchors.centerIn: parent
            spacing: 3
            Repeater {
                model: 3
                Rectangle { width: 4; height: 2; radius: 1; color: "white" }
            }
        }

        // The pointer's x over the track, in seconds; the handle follows the value, not
        // the pointer, so the clamping shows while dragging.
        MouseArea {
            id: drag
            anchors.fill: parent
            anchors.margins: -6
            preventStealing: true
            cursorShape: Qt.SizeHorCursor
            onPressed: handle.forceActiveFocus()
            onPositionChanged: mouse => {
                if (!pressed)
                    return;
                const x = mapToItem(track, mouse.x, mouse.y).x;
                handle.moveTo(format.secondsAt(x, track.width, bar.span));
            }
        }
        // A tenth of a second per arrow, a second with Shift.
        Keys.onLeftPressed: event => moveTo(seconds - (event.modifiers & Qt.ShiftModifier ? 1 : 0.1))
        Keys.onRightPressed: event => moveTo(seconds + (event.modifiers & Qt.ShiftModifier ? 1 : 0.1))
    }

    Handle {
        objectName: "trimStartHandle"
        isStart: true
    }
    Handle {
        objectName: "trimEndHandle"
        isStart: false
    }
}
