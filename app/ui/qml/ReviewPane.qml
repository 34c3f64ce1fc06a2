import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The recording that just finished: its title, where its upload stands, and the way to
// send it now instead of waiting.
PaneLayout {
    id: pane
    readonly property var review: model.review
    readonly property var library: model.library
    readonly property var item: review.reviewItem
    readonly property bool hasItem: review.reviewItemID !== ""
    readonly property string itemState: item.state || ""
    readonly property string shareURL: item.shareURL || ""

    function statusText() {
        if (itemState === "uploaded" || itemState === "verified")
            return library.linkCopiedNotice !== "" ? library.linkCopiedNotice : "Saved to your library";
        if (itemState === "uploading") {
            const size = item.fileSizeBytes || 0;
            const fraction = size > 0 ? Math.min(1, (item.uploadedBytes || 0) / size) : 0;
            return "Uploading " + Math.round(fraction * 100) + "%";
        }
        if (itemState === "needsAttention")
            return item.lastError ? item.lastError : "Upload needs attention";
        return "Saved on this computer \u2014 uploading shortly";
    }

    objectName: "reviewPane"

    ColumnLayout {
        Layout.fillWidth: true
        Layout.topMargin: 80
        visible: !pane.hasItem
        spacing: 8
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "\u2713"
            color: Theme.success
            font.pixelSize: 36
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Nothing to review"
            color: Theme.text
            font.pixelSize: Theme.titleFontSize
            font.weight: Font.DemiBold
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Your last recording is safe. Record something new to see it here."
            color: Theme.secondaryText
        }
    }

    Label {
        visible: pane.hasItem
        text: "Your recording"
        color: Theme.text
        font.pixelSize: Theme.titleFontSize
        font.weight: Font.DemiBold
    }

    Card {
        Layout.fillWidth: true
        visible: pane.hasItem

        TextField {
            objectName: "reviewTitleField"
            Layout.fillWidth: true
            placeholderText: "Recording title"
            text: pane.review.reviewTitle
            font.pixelSize: 15
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
        Label {
            text: format.duration(pane.item.durationSec || 0) + " \u00b7 " + format.byteCount(pane.item.fileSizeBytes || 0)
            color: Theme.secondaryText
        }
        Label {
            Layout.fillWidth: true
            text: pane.statusText()
            wrapMode: Text.Wrap
            color: pane.itemState === "needsAttention" ? Theme.warning
                   : pane.itemState === "uploaded" || pane.itemState === "verified" ? Theme.success : Theme.text
        }
        Label {
            Layout.fillWidth: true
            visible: pane.review.trimError !== ""
            text: pane.review.trimError
            color: Theme.recordRed
            wrapMode: Text.Wrap
        }
        Flow {
            Layout.fillWidth: true
            spacing: 8
            ActionButton {
                visible: pane.shareURL !== ""
                kind: "primary"
                text: "Copy link"
                onClicked: actions.trigger("copy-last-link")
            }
            ActionButton {
                visible: pane.shareURL !== ""
                text: "Open share page"
                onClicked: Qt.openUrlExternally(pane.shareURL)
            }
            ActionButton {
                visible: pane.itemState === "ready" || pane.itemState === "recording" || pane.itemState === "finalizing"
                enabled: !pane.review.isTrimming
                text: pane.review.trimStart > 0 || pane.review.trimEnd < (pane.item.durationSec || 0)
                      ? "Trim & upload" : "Upload full recording"
                onClicked: pane.review.applyTrimAndUpload()
            }
            ActionButton {
                text: "Show in Folder"
                onClicked: pane.library.showInFolder(pane.review.reviewItemID)
            }
        }
    }
}
