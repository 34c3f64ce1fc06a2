import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// Where a recording is set up and started: what went wrong, who is signed in, what
// Tolvane may use, what to record, the record button, the last link, a newer version and
// where the files are kept.
PaneLayout {
    id: pane
    readonly property var recording: model.recording
    readonly property var account: model.account
    readonly property var library: model.library
    readonly property string phase: recording.phaseText
    readonly property bool live: phase === "recording" || phase === "paused"
    // AccountModel::SignInPhase: SignedOut 0, WaitingForBrowser 1, SignedIn 2.
    readonly property int signInPhase: account.signInPhase
    readonly property bool hasUpdate: model.availableUpdate.version !== undefined
    // Confirmation only: the link was copied from this pane.
    property bool linkCopied: false

    objectName: "recordPane"

    Connections {
        target: pane.library
        function onLastShareURLChanged() { pane.linkCopied = false; }
    }

    Banner {
        objectName: "recordingErrorBanner"
        Layout.fillWidth: true
        visible: pane.recording.recordingError !== ""
        tone: "error"
        text: pane.recording.recordingError
    }
    Banner {
        objectName: "recoveryBanner"
        Layout.fillWidth: true
        visible: pane.library.recoveryNotice !== ""
        tone: "info"
        text: pane.library.recoveryNotice
        dismissible: true
        onDismissed: pane.library.recoveryNotice = ""
    }
    Banner {
        objectName: "shortcutBanner"
        Layout.fillWidth: true
        visible: model.shortcutNotice !== ""
        tone: "warning"
        text: model.shortcutNotice
    }
    // Without a compositing manager our floating panels cannot be kept out of a display
    // recording; the overlay side says so once, and the user sees it before recording.
    Banner {
        objectName: "compositingBanner"
        readonly property string notice: typeof overlays !== "undefined" ? overlays.compositingNotice : ""
        Layout.fillWidth: true
        visible: notice !== ""
        tone: "info"
        text: notice
    }
    Banner {
        Layout.fillWidth: true
        visible: pane.recording.diskWarning !== ""
        tone: "warning"
        text: pane.recording.diskWarning
    }

    Card {
        objectName: "signInCard"
        Layout.fillWidth: true
        visible: pane.signInPhase !== 2

        Label {
            text: "Sign in to Tolvane"
            color: Theme.text
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Label {
            Layout.fillWidth: true
            text: pane.signInPhase === 1
                  ? "Finish signing in on the page that just opened\u2026"
                  : "Your recordings upload to your library on the web, and the share link is on your clipboard the moment each one lands."
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
        Label {
            Layout.fillWidth: true
            visible: pane.account.signInError !== ""
            text: pane.account.signInError
            color: Theme.recordRed
            wrapMode: Text.Wrap
        }
        RowLayout {
            spacing: 10
            ActionButton {
                visible: pane.signInPhase === 0
                kind: "primary"
                text: "Sign in with your browser"
                onClicked: pane.account.signIn()
            }
            BusyIndicator {
                visible: pane.signInPhase === 1
                running: visible
                implicitWidth: 24
                implicitHeight: 24
            }
            ActionButton {
                visible: pane.signInPhase === 1
                text: "Cancel"
                onClicked: pane.account.cancelSignIn()
            }
        }
    }

    PermissionChecklist {
        Layout.fillWidth: true
    }

    SourceCard {
        Layout.fillWidth: true
    }

    // The record button, or the running recording's clock and its controls.
    Card {
        objectName: "recordCard"
        Layout.fillWidth: true

        ColumnLayout {
            Layout.fillWidth: true
            visible: !pane.live
            spacing: 8
            ActionButton {
                objectName: "startRecordingButton"
                Layout.fillWidth: true
                kind: "primary"
                enabled: pane.phase === "idle"
                text: pane.phase === "finishing" ? "Finishing\u2026"
                      : pane.phase.startsWith("countdown") ? "Starting in " + pane.recording.countdownSeconds + "\u2026"
                      : "Start recording"
                font.pixelSize: 15
                topPadding: 11
                bottomPadding: 11
                onClicked: actions.trigger("start-recording")
            }
            Label {
                Layout.alignment: Qt.AlignHCenter
                text: "Ctrl+Alt+R works from anywhere"
                color: Theme.secondaryText
                font.pixelSize: Theme.smallFontSize
            }
        }

        RowLayout {
            Layout.fillWidth: true
            visible: pane.live
            spacing: 12
            Rectangle {
                implicitWidth: 12
                implicitHeight: 12
                radius: 6
                color: pane.phase === "paused" ? Theme.secondaryText : Theme.recordRed
            }
            ColumnLayout {
                spacing: 0
                Label {
                    objectName: "elapsedLabel"
                    text: format.duration(pane.recording.elapsed)
                    color: Theme.text
                    font.pixelSize: 26
                    font.weight: Font.DemiBold
                }
                Label {
                    text: pane.phase === "paused" ? "Paused" : "Recording"
                    color: Theme.secondaryText
                    font.pixelSize: Theme.smallFontSize
                }
            }
            Item {
                Layout.fillWidth: true
            }
            ActionButton {
                text: pane.phase === "paused" ? "Resume" : "Pause"
                onClicked: actions.trigger("toggle-pause")
            }
            ActionButton {
                objectName: "stopRecordingButton"
                kind: "stop"
                text: "Stop recording"
                onClicked: actions.trigger("stop-recording")
            }
        }
    }

    Card {
        objectName: "latestRecordingCard"
        Layout.fillWidth: true
        visible: pane.library.lastShareURL !== ""

        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Label {
                    text: "Your last recording is ready"
                    color: Theme.text
                    font.weight: Font.DemiBold
                }
                Label {
                    Layout.fillWidth: true
                    text: pane.library.lastShareURL
                    color: Theme.secondaryText
                    elide: Text.ElideMiddle
                }
            }
            ActionButton {
                objectName: "copyLinkButton"
                kind: pane.linkCopied ? "secondary" : "primary"
                text: pane.linkCopied ? "\u2713 Copied" : "Copy link"
                onClicked: {
                    actions.trigger("copy-last-link");
                    pane.linkCopied = true;
                }
            }
        }
    }

    Banner {
        objectName: "updateBanner"
        Layout.fillWidth: true
        visible: pane.hasUpdate
        tone: "info"
        title: "Tolvane " + (model.availableUpdate.version || "") + " is available"
        text: "You're on " + model.currentVersion + " \u2014 it installs itself, no re-download."
        actionText: "\u2193 Update now"
        onActionTriggered: actions.trigger("check-for-updates")
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: 4
        spacing: 12
        Label {
            Layout.fillWidth: true
            text: "Every recording is also saved on this computer and kept until you delete it \u2014 even after it uploads."
            color: Theme.secondaryText
            font.pixelSize: Theme.smallFontSize
            wrapMode: Text.Wrap
        }
        ActionButton {
            kind: "link"
            text: "Open Recordings Folder"
            onClicked: actions.trigger("open-vault-folder")
        }
    }
}
