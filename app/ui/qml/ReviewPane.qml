import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtMultimedia
import Tolvane.Ui
import Tolvane.UiItems

// The recording that just finished: its title, the movie with the range to keep, where
// its upload stands, and the way to send it now instead of waiting.
PaneLayout {
    id: pane
    readonly property var review: model.review
    readonly property var library: model.library
    readonly property var item: review.reviewItem
    readonly property bool hasItem: review.reviewItemID !== ""
    readonly property string itemState: item.state || ""
    readonly property string shareURL: item.shareURL || ""
    readonly property string filePath: item.filePath || ""
    readonly property real duration: format.trimDuration(item.durationSec || 0)
    // As the review judges it when it uploads: after a trim, the new movie's own length
    // may be a frame off the range that made it, which is still the whole of it.
    readonly property bool trimmed: !format.keepsWhole(review.trimStart, review.trimEnd, duration)
    readonly property var status: format.reviewStatus(item, library.linkCopiedNotice)
    readonly property color statusColor: status.tone === "success" ? Theme.success
                                         : status.tone === "warning" ? Theme.warning
                                         : status.tone === "progress" ? Theme.info : Theme.secondaryText

    // The player reads the file afresh whenever it changes: another item, or the same
    // item after a trim rewrote it (its size changes with it).
    readonly property string movieKey: filePath + "|" + (item.fileSizeBytes || 0)
    onMovieKeyChanged: reload()
    function reload() {
        player.stop();
        player.source = "";
        if (pane.filePath !== "")
            player.source = "file://" + pane.filePath;
    }
    // Shows the frame at `seconds` without starting playback.
    function seek(seconds) {
        player.setPosition(Math.round(seconds * 1000));
    }

    // The height the player may take for the rest of the card to fit the window: at the
    // window's first size a 16:9 player as wide as the card would push "Trim & upload"
    // below the fold. What the others take doesn't depend on the player's height.
    readonly property real playerRoom: {
        const column = reviewCard.layout;
        let rest = reviewTitle.implicitHeight + Theme.paneSpacing + 2 * reviewCard.padding;
        let shown = 0;
        for (let i = 0; i < column.children.length; ++i) {
            const child = column.children[i];
            if (!child.visible)
                continue;
            shown += 1;
            if (child !== playerFrame)
                rest += child.implicitHeight;
        }
        rest += Math.max(0, shown - 1) * column.spacing;
        return pane.availableHeight - 2 * pane.margin - rest;
    }

    objectName: "reviewPane"
    Component.onCompleted: reload()

    ColumnLayout {
        objectName: "nothingToReview"
        Layout.fillWidth: true
        Layout.topMargin: 80
        visible: !pane.hasItem
        spacing: 8
        MenuIcon {
            Layout.alignment: Qt.AlignHCenter
            name: "check"
            color: Theme.success
            size: 40
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Nothing to review"
            color: Theme.text
            font.pixelSize: Theme.titleFontSize
            font.weight: Font.DemiBold
        }
        // Filling the width (a layout of fixed-width rows would be no wider than they
        // are, and sit at the pane's left) and wrapping in a narrow window.
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Your last recording is safe. Record something new to see it here."
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
    }

    Label {
        id: reviewTitle
        objectName: "paneTitle"
        visible: pane.hasItem
        text: "Your recording"
        color: Theme.text
        font.pixelSize: Theme.titleFontSize
        font.weight: Font.DemiBold
    }

    Card {
        id: reviewCard
        Layout.fillWidth: true
        visible: pane.hasItem

        TextField {
            objectName: "reviewTitleField"
            Layout.fillWidth: true
            placeholderText: "Recording title"
            text: pane.review.reviewTitle
            font.pixelSize: 15
            Accessible.name: "Recording title"
            background: Rectangle {
                implicitHeight: 38
                radius: 7
                color: Theme.card
                border.width: parent.activeFocus ? 2 : 1
                border.color: parent.activeFocus ? Theme.tomato : Theme.border
            }
            onTextEdited: pane.review.reviewTitle = text
            onEditingFinished: pane.review.commitReviewTitle()
        }

        // The movie, letterboxed on black at the recording's own aspect.
        Rectangle {
            id: playerFrame
            objectName: "player"
            Layout.fillWidth: true
            // 16:9 where the window is tall enough; shorter (letterboxed) where it is not,
            // but never so small that the picture can't be judged.
            Layout.preferredHeight: Math.max(160, Math.min(Math.round(width * 9 / 16), pane.playerRoom))
            color: "black"
            radius: 6
            // Frames the player has handed to the screen since the movie was loaded.
            readonly property alias framesShown: frameCounter.count
            readonly property alias mediaPlayer: player

            MediaPlayer {
                id: player
                audioOutput: AudioOutput {}
                videoOutput: video
                onSourceChanged: frameCounter.reset()
                // Play loops the kept range: past its end the playhead goes back to its start.
                onPositionChanged: () => {
                    if (player.playbackState === MediaPlayer.PlayingState && player.position >= pane.review.trimEnd * 1000)
                        player.setPosition(Math.round(pane.review.trimStart * 1000));
                }
                onMediaStatusChanged: {
                    // A loaded movie shows its first kept frame rather than black: a
                    // stopped player draws nothing, a paused one shows where it stands.
                    if (mediaStatus === MediaPlayer.LoadedMedia) {
                        pause();
                        pane.seek(pane.review.trimStart);
                    }
                }
            }
            // Drawn at the pane's size: a 1440p frame is shrunk off the GUI thread
            // before it reaches the window.
            ScaledVideo {
                id: video
                anchors.fill: parent
            }
            // Counted in C++: a QML handler on the sink would hold every frame it is
            // handed until the JavaScript garbage collector runs.
            VideoFrameCounter {
                id: frameCounter
                sink: video.videoSink
            }
            Label {
                anchors.centerIn: parent
                visible: player.error !== MediaPlayer.NoError
                text: "This movie can't be played here. It's safe on this computer."
                color: "white"
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            ActionButton {
                objectName: "playButton"
                readonly property bool playing: player.playbackState === MediaPlayer.PlayingState
                text: playing ? "Pause" : "Play"
                Accessible.name: text
                enabled: pane.filePath !== ""
                onClicked: {
                    if (playing) {
                        player.pause();
                        return;
                    }
                    const at = player.position / 1000;
                    if (at < pane.review.trimStart || at >= pane.review.trimEnd - 0.05)
                        pane.seek(pane.review.trimStart);
                    player.play();
                }
            }
            Label {
                objectName: "playerPosition"
                text: format.duration(player.position / 1000) + " / " + format.duration(pane.item.durationSec || 0)
                color: Theme.secondaryText
            }
            Item { Layout.fillWidth: true }
            Label {
                text: pane.trimmed ? "Keeping " + format.duration(pane.review.trimStart) + " \u2013 "
                                     + format.duration(pane.review.trimEnd) : ""
                color: Theme.secondaryText
            }
        }

        TrimBar {
            objectName: "trimBar"
            Layout.fillWidth: true
            enabled: !pane.review.isTrimming
            duration: pane.item.durationSec || 0
            trimStart: pane.review.trimStart
            trimEnd: pane.review.trimEnd
            playhead: player.position / 1000
            onStartMoved: seconds => pane.review.trimStart = seconds
            onEndMoved: seconds => pane.review.trimEnd = seconds
            onScrubbed: seconds => {
                if (player.playbackState === MediaPlayer.PlayingState)
                    player.pause();
                pane.seek(seconds);
            }
        }

        Label {
            text: format.duration(pane.item.durationSec || 0) + " \u00b7 " + format.byteCount(pane.item.fileSizeBytes || 0)
            color: Theme.secondaryText
        }
        RowLayout {
            objectName: "reviewStatus"
            Layout.fillWidth: true
            spacing: 8
            Accessible.role: Accessible.StaticText
            Accessible.name: pane.status.text || ""
            MenuIcon {
                Layout.alignment: Qt.AlignTop
                name: pane.status.tone === "success" ? "check" : pane.status.tone === "warning" ? "warning"
                      : pane.status.tone === "progress" ? "upload" : "drive"
                color: pane.statusColor
            }
            Label {
                objectName: "reviewStatusText"
                Layout.fillWidth: true
                text: pane.status.text || ""
                wrapMode: Text.Wrap
                color: pane.status.tone === "neutral" ? Theme.text : pane.statusColor
            }
        }
        Flow {
            Layout.fillWidth: true
            spacing: 8
            ActionButton {
                objectName: "reviewCopyLink"
                visible: pane.shareURL !== ""
                kind: "primary"
                text: "Copy link"
                onClicked: links.copy(pane.shareURL)
            }
            ActionButton {
                objectName: "reviewOpenSharePage"
                visible: pane.shareURL !== ""
                text: "Open share page"
                onClicked: links.open(pane.shareURL)
            }
            ActionButton {
                objectName: "trimAndUpload"
                visible: pane.review.canTrim
                enabled: !pane.review.isTrimming
                kind: pane.shareURL === "" ? "primary" : "secondary"
                text: pane.review.isTrimming ? "Trimming\u2026" : pane.trimmed ? "Trim & upload" : "Upload full recording"
                onClicked: pane.review.applyTrimAndUpload()
            }
            BusyIndicator {
                visible: pane.review.isTrimming
                running: visible
                implicitWidth: 28
                implicitHeight: 28
            }
            ActionButton {
                objectName: "reviewShowInFolder"
                text: "Show in Folder"
                onClicked: pane.library.showInFolder(pane.review.reviewItemID)
            }
        }
        Label {
            objectName: "trimError"
            Layout.fillWidth: true
            visible: pane.review.trimError !== ""
            text: pane.review.trimError
            color: Theme.recordRed
            wrapMode: Text.Wrap
        }
    }
}
