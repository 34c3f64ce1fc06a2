import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The tray popover: the quickest way to start a recording, pick what it records and copy
// the last link. A view over the application model (the context property `model`); every
// act goes through `actions`, the same router the menus use.
Rectangle {
    id: root

    // Read once here: inside pickers and delegates `model` means their own entries.
    readonly property var app: model
    readonly property var router: actions
    readonly property var recording: app.recording
    readonly property var account: app.account
    readonly property var library: app.library

    readonly property bool capturing: recording.phaseText === "recording" || recording.phaseText === "paused"
    // The account's sign-in phases, in their declared order.
    readonly property int signedOut: 0
    readonly property int waitingForBrowser: 1
    readonly property int signedIn: 2
    readonly property int signInPhase: account.signInPhase
    readonly property int pendingUploads: library.pendingUploadCount

    // Whether the last link was copied from here: the button shows a check until the link
    // changes.
    property bool linkCopied: false
    Connections {
        target: root.library
        function onLastShareURLChanged() { root.linkCopied = false }
    }

    // "m:ss", or "h:mm:ss" from an hour on, as everywhere else in Tolvane.
    function duration(seconds) {
        const total = isFinite(seconds) && seconds > 0 ? Math.round(seconds) : 0
        const h = Math.floor(total / 3600)
        const m = Math.floor(total / 60) % 60
        const s = (total % 60 < 10 ? "0" : "") + total % 60
        return h > 0 ? h + ":" + (m < 10 ? "0" : "") + m + ":" + s : m + ":" + s
    }

    function run(name) {
        router.trigger(name)
        dismiss()
    }
    // The popover closes once the user has chosen something.
    function dismiss() {
        if (Window.window) Window.window.hide()
    }

    implicitWidth: 328
    implicitHeight: column.implicitHeight + 2 * padding
    readonly property int padding: 14
    color: Theme.window
    border.color: Theme.border

    ColumnLayout {
        id: column
        x: root.padding
        y: root.padding
        width: root.width - 2 * root.padding
        spacing: 12

        // Header: the mark, the name and what is still uploading.
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Rectangle {
                implicitWidth: 24
                implicitHeight: 24
                radius: 7
                color: Theme.tomato
                MenuIcon {
                    anchors.centerIn: parent
                    name: "record"
                    color: "white"
                }
            }
            Text {
                text: "Tolvane"
                color: Theme.text
                font.pixelSize: 15
                font.weight: Font.Bold
            }
            Item { Layout.fillWidth: true }
            MenuIcon {
                visible: root.pendingUploads > 0
                name: "upload"
                size: 14
                color: Theme.secondaryText
            }
            Text {
                objectName: "pendingUploads"
                visible: root.pendingUploads > 0
                text: root.pendingUploads + " recording(s) still uploading"
                color: Theme.secondaryText
                font.pixelSize: Theme.smallFontSize
            }
        }

        // Signing in.
        PopoverBanner {
            Layout.fillWidth: true
            visible: root.signInPhase === root.signedOut
            text: "Sign in to save and share your recordings."
            buttonText: "Sign in with your browser"
            onButtonClicked: root.router.trigger("sign-in")
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: root.signInPhase === root.waitingForBrowser
            text: "Waiting for you in the browser\u2026"
            buttonText: "Cancel"
            onButtonClicked: root.router.trigger("cancel-sign-in")
        }

        // The recorder.
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: recorder.implicitHeight + 24
            radius: Theme.radius
            color: Theme.card
            border.color: Theme.border

            ColumnLayout {
                id: recorder
                x: 12
                y: 12
                width: parent.width - 24
                spacing: 10

                // Not allowed to record the screen.
                Text {
                    Layout.fillWidth: true
                    visible: !root.recording.screenRecordingGranted
                    text: "Tolvane needs permission to record your screen."
                    wrapMode: Text.Wrap
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
                Row {
                    visible: !root.recording.screenRecordingGranted
                    spacing: 6
                    MenuButton {
                        text: "Allow screen recording"
                        onClicked: root.recording.requestScreenRecording()
                    }
                    MenuButton {
                        text: "Recheck"
                        onClicked: root.recording.refreshPermissions()
                    }
                }

                // Ready: what to record, then start.
                ColumnLayout {
                    Layout.fillWidth: true
                    visible: root.recording.screenRecordingGranted && !root.capturing
                    spacing: 8

                    MenuPicker {
                        Layout.fillWidth: true
                        label: "Record"
                        entries: {
                            const list = []
                            for (const display of root.recording.displays)
                                list.push({ id: display.id, name: display.label })
                            const windows = root.recording.windows
                            for (let i = 0; i < windows.length; ++i) {
                                const entry = { id: windows[i].id, name: windows[i].label }
                                if (i === 0) entry.heading = "Windows"
                                list.push(entry)
                            }
                            return list
                        }
                        currentId: root.recording.selectedTargetID
                        onPicked: id => root.recording.selectedTargetID = id
                    }
                    Rectangle {
                        Layout.fillWidth: true
                        implicitHeight: 1
                        color: Theme.border
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10
                        MenuIcon {
                            name: "speaker"
                            color: Theme.secondaryText
                        }
                        Text {
                            Layout.fillWidth: true
                            text: "System audio"
                            color: Theme.text
                            font.pixelSize: Theme.fontSize
                        }
                        Switch {
                            id: systemAudio
                            implicitHeight: 22
                            checked: root.recording.includeSystemAudio
                            onToggled: root.recording.includeSystemAudio = checked
                            Accessible.name: "System audio"
                            indicator: Rectangle {
                                implicitWidth: 34
                                implicitHeight: 20
                                x: systemAudio.leftPadding
                                y: parent.height / 2 - height / 2
                                radius: 10
                                color: systemAudio.checked ? Theme.tomato : Theme.border
                                Rectangle {
                                    x: systemAudio.checked ? parent.width - width - 2 : 2
                                    y: 2
                                    width: 16
                                    height: 16
                                    radius: 8
                                    color: "white"
                                }
                            }
                        }
                    }
                    MenuPicker {
                        Layout.fillWidth: true
                        icon: "mic"
                        entries: [{ id: "", name: "No microphone" }].concat(
                                     root.recording.microphones.map(m => ({ id: m.id, name: m.name })))
                        currentId: root.recording.selectedMicrophoneID
                        onPicked: id => root.recording.selectedMicrophoneID = id
                    }
                    MenuPicker {
                        Layout.fillWidth: true
                        icon: "video"
                        entries: [{ id: "", name: "No camera bubble" }].concat(
                                     root.recording.cameras.map(c => ({ id: c.id, name: c.name })))
                        currentId: root.recording.selectedCameraID
                        onPicked: id => root.recording.selectedCameraID = id
                    }
                    MenuButton {
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        primary: true
                        glyph: "record"
                        text: "Start recording"
                        onClicked: root.run("start-recording")
                    }
                }

                // Recording: the time so far and the way out.
                ColumnLayout {
                    Layout.fillWidth: true
                    visible: root.recording.screenRecordingGranted && root.capturing
                    spacing: 10
                    RowLayout {
                        spacing: 8
                        Rectangle {
                            implicitWidth: 10
                            implicitHeight: 10
                            radius: 5
                            color: root.recording.phaseText === "paused" ? Theme.secondaryText : Theme.recordRed
                        }
                        Text {
                            text: root.recording.phaseText === "paused" ? "Paused" : "Recording"
                            color: Theme.text
                            font.pixelSize: Theme.fontSize
                            font.weight: Font.DemiBold
                        }
                        Text {
                            objectName: "elapsed"
                            text: root.duration(root.recording.elapsed)
                            color: Theme.secondaryText
                            font.pixelSize: Theme.fontSize
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Use the floating controls to pause or stop."
                        wrapMode: Text.Wrap
                        color: Theme.secondaryText
                        font.pixelSize: Theme.fontSize - 1
                    }
                    MenuButton {
                        Layout.fillWidth: true
                        primary: true
                        tint: Theme.recordRed
                        text: "Stop recording"
                        onClicked: root.run("stop-recording")
                    }
                }
            }
        }

        // What the model has to say.
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "warning"
            text: root.recording.recordingError
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "warning"
            text: root.recording.diskWarning
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "warning"
            text: root.account.signInError
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "info"
            text: root.library.recoveryNotice
            dismissible: true
            onDismissed: root.library.recoveryNotice = ""
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "warning"
            text: root.app.shortcutNotice
        }
        PopoverBanner {
            Layout.fillWidth: true
            visible: text !== ""
            tone: "info"
            text: root.library.linkCopiedNotice
        }

        // The last recording's link.
        RowLayout {
            Layout.fillWidth: true
            visible: root.library.lastShareURL !== ""
            spacing: 8
            MenuIcon {
                name: "check"
                color: Theme.success
            }
            Text {
                Layout.fillWidth: true
                text: "Last recording is ready"
                color: Theme.text
                font.pixelSize: Theme.fontSize
                elide: Text.ElideRight
            }
            MenuButton {
                text: "Copy link"
                glyph: root.linkCopied ? "check" : ""
                onClicked: {
                    root.router.trigger("copy-last-link")
                    root.linkCopied = true
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.border
        }

        // Elsewhere in the application.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: -6
            Layout.rightMargin: -6
            spacing: 0
            MenuRow {
                Layout.fillWidth: true
                title: "My recordings"
                icon: "library"
                onClicked: root.run("show-library")
            }
            MenuRow {
                Layout.fillWidth: true
                title: "On this computer"
                icon: "drive"
                onClicked: root.run("show-local")
            }
            MenuRow {
                Layout.fillWidth: true
                title: "Open Tolvane"
                icon: "window"
                onClicked: root.run("show-main-window")
            }
            MenuRow {
                Layout.fillWidth: true
                visible: root.signInPhase === root.signedIn
                title: "Sign out"
                detail: root.account.email
                icon: "signout"
                onClicked: root.run("sign-out")
            }
            MenuRow {
                Layout.fillWidth: true
                title: "Quit Tolvane"
                icon: "power"
                onClicked: root.run("quit")
            }
        }
    }
}
