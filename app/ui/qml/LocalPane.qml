import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// Every recording kept on this computer, newest first, with where its upload stands.
PaneLayout {
    id: pane
    readonly property var library: model.library
    readonly property var items: library.localItems

    function stateLabel(state) {
        switch (state) {
        case "recording": return "Recording";
        case "finalizing": return "Finishing";
        case "ready": return "Waiting to upload";
        case "uploading": return "Uploading";
        case "uploaded": return "Uploaded \u2014 confirming";
        case "verified": return "Safe in your library";
        case "needsAttention": return "Needs your attention \u2014 the file is safe here";
        }
        return state;
    }
    function stateColor(state) {
        if (state === "verified") return Theme.success;
        if (state === "needsAttention") return Theme.warning;
        if (state === "recording") return Theme.recordRed;
        return Theme.info;
    }

    objectName: "localPane"
    // Each time the pane is shown the vault is read afresh.
    Component.onCompleted: library.refreshLocalItems()

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Label {
                text: "On this computer"
                color: Theme.text
                font.pixelSize: Theme.titleFontSize
                font.weight: Font.DemiBold
            }
            Label {
                Layout.fillWidth: true
                text: "Every recording is kept here until you delete it \u2014 even after it uploads."
                color: Theme.secondaryText
                wrapMode: Text.Wrap
            }
            Label {
                text: pane.items.length + (pane.items.length === 1 ? " recording" : " recordings")
                color: Theme.secondaryText
                font.pixelSize: Theme.smallFontSize
            }
        }
        ActionButton {
            Layout.alignment: Qt.AlignTop
            text: "Open folder"
            onClicked: actions.trigger("open-vault-folder")
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.items.length === 0
        spacing: 6
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "No recordings yet"
            color: Theme.text
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Recordings you make will be listed here, with a copy kept on this computer."
            color: Theme.secondaryText
        }
    }

    Repeater {
        model: pane.items
        delegate: Card {
            required property var modelData
            readonly property bool uploadPending: modelData.state === "ready" || modelData.state === "uploading"
                                                  || modelData.state === "needsAttention"
            objectName: "localRow-" + modelData.id
            Layout.fillWidth: true
            padding: 14
            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3
                    Label {
                        Layout.fillWidth: true
                        text: modelData.title
                        color: Theme.text
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Label {
                        text: Qt.formatDateTime(modelData.createdAt, "d MMM yyyy, HH:mm") + " \u00b7 "
                              + format.duration(modelData.durationSec) + " \u00b7 "
                              + format.byteCount(modelData.fileSizeBytes)
                        color: Theme.secondaryText
                    }
                    Label {
                        text: pane.stateLabel(modelData.state)
                        color: pane.stateColor(modelData.state)
                        font.pixelSize: Theme.smallFontSize
                        font.weight: Font.DemiBold
                    }
                }
                ActionButton {
                    visible: uploadPending
                    text: "Try again"
                    onClicked: pane.library.retryUpload(modelData.id)
                }
                ActionButton {
                    text: "Show in Folder"
                    onClicked: pane.library.showInFolder(modelData.id)
                }
            }
        }
    }
}
