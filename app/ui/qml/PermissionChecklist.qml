import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// What Tolvane may use, shown until everything the chosen sources need is allowed: each
// row says "Allowed", offers "Allow" while the answer is unknown, or "Open Settings" once
// access was refused.
Card {
    id: checklist
    readonly property var recording: model.recording
    // PermissionStatus: notDetermined 0, restricted 1, denied 2, authorised 3.
    readonly property int authorised: 3
    readonly property int notDetermined: 0
    readonly property bool everythingGranted: recording.screenRecordingGranted
                                             && recording.microphoneStatus === authorised
                                             && (recording.cameraStatus === authorised
                                                 || recording.selectedCameraID === "")

    component PermissionRow: RowLayout {
        id: permissionRow
        property string title
        property string detail
        property bool granted
        property bool undecided
        signal allow()
        signal openSettings()

        Layout.fillWidth: true
        spacing: 12
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            Label {
                text: permissionRow.title
                color: Theme.text
                font.weight: Font.DemiBold
            }
            Label {
                Layout.fillWidth: true
                text: permissionRow.detail
                color: Theme.secondaryText
                wrapMode: Text.Wrap
            }
        }
        Label {
            visible: permissionRow.granted
            text: "\u2713 Allowed"
            color: Theme.success
            font.weight: Font.DemiBold
        }
        ActionButton {
            visible: !permissionRow.granted && permissionRow.undecided
            kind: "primary"
            text: "Allow"
            onClicked: permissionRow.allow()
        }
        ActionButton {
            visible: !permissionRow.granted && !permissionRow.undecided
            text: "Open Settings"
            onClicked: permissionRow.openSettings()
        }
    }

    objectName: "permissionChecklist"
    visible: !everythingGranted
    spacing: 14

    Label {
        text: "Let Tolvane record"
        color: Theme.text
        font.pixelSize: 15
        font.weight: Font.DemiBold
    }
    Label {
        Layout.fillWidth: true
        text: "Tolvane asks before it captures your screen or hears you. You can change these any time in your system's privacy settings."
        color: Theme.secondaryText
        wrapMode: Text.Wrap
    }
    PermissionRow {
        title: "Screen recording"
        detail: "Required \u2014 this is the recording itself."
        granted: checklist.recording.screenRecordingGranted
        undecided: true
        onAllow: checklist.recording.requestScreenRecording()
    }
    PermissionRow {
        title: "Microphone"
        detail: "So people can hear you. Optional."
        granted: checklist.recording.microphoneStatus === checklist.authorised
        undecided: checklist.recording.microphoneStatus === checklist.notDetermined
        onAllow: checklist.recording.requestMicrophone()
        onOpenSettings: checklist.recording.requestMicrophone()
    }
    PermissionRow {
        title: "Camera"
        detail: "For the webcam bubble. Optional."
        granted: checklist.recording.cameraStatus === checklist.authorised
        undecided: checklist.recording.cameraStatus === checklist.notDetermined
        onAllow: checklist.recording.requestCamera()
        onOpenSettings: checklist.recording.requestCamera()
    }
    Label {
        Layout.fillWidth: true
        visible: !checklist.recording.screenRecordingGranted
        text: "Tolvane records the screen of the desktop it runs on. If screen recording stays unavailable, check that you are signed in to an X11 session, then choose Allow again."
        color: Theme.secondaryText
        font.pixelSize: Theme.smallFontSize
        wrapMode: Text.Wrap
    }
}
