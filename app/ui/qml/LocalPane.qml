import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// Every recording kept on this computer, newest first, with where its upload stands and
// the way to let one go.
ListPaneLayout {
    id: pane
    readonly property var library: model.library
    readonly property var items: library.localItemsModel

    // Asks before a recording leaves this computer; what it says depends on whether the
    // web library already has it.
    function confirmDelete(id, state) {
        deleteDialog.itemID = id;
        deleteDialog.itemState = state;
        deleteDialog.open();
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
                objectName: "paneTitle"
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
                objectName: "localCount"
                text: format.recordingCount(pane.items.count)
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

    Banner {
        objectName: "localErrorBanner"
        Layout.fillWidth: true
        visible: pane.library.localError !== ""
        tone: "error"
        text: pane.library.localError
    }

    EmptyState {
        objectName: "localEmpty"
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.items.count === 0
        icon: "drive"
        title: "No recordings yet"
        text: "Recordings you make will be listed here, with a copy kept on this computer."
    }

    ListView {
        id: list
        objectName: "localList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: pane.items.count > 0
        model: pane.items
        clip: true
        spacing: 8
        cacheBuffer: 400
        // Rows scrolled out are handed the next recording instead of being made anew.
        reuseItems: true
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: true
        ScrollBar.vertical: ScrollBar {}
        Accessible.role: Accessible.List
        Accessible.name: "Recordings on this computer"

        delegate: LocalRow {
            id: delegateRow
            required property var model
            objectName: "localRow-" + model.id
            width: ListView.view.width
            library: pane.library
            itemID: model.id
            title: model.title || ""
            createdAt: model.createdAt
            durationSec: model.durationSec || 0
            fileSizeBytes: model.fileSizeBytes || 0
            itemState: model.state || ""
            shareURL: model.shareURL || ""
            thumbnailSource: model.thumbnailSource || ""
            isUploadPending: model.isUploadPending === true
            canDelete: model.canDelete !== false
            onDeleteRequested: pane.confirmDelete(delegateRow.itemID, delegateRow.itemState)
        }
    }

    Dialog {
        id: deleteDialog
        objectName: "deleteDialog"
        property string itemID: ""
        property string itemState: ""

        // Over the whole window, in its middle, whatever part of it the pane takes.
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(440, parent.width - 40)
        padding: 20
        topPadding: 12
        bottomPadding: 4
        modal: true
        focus: true
        title: format.deleteTitle()

        // A card like the panes' own; the style's frame would take the brand colour the
        // window gives its focus rings.
        background: Rectangle {
            color: Theme.card
            radius: Theme.radius
            border.color: Theme.border
        }
        header: Label {
            text: deleteDialog.title
            color: Theme.text
            font.pixelSize: 15
            font.weight: Font.DemiBold
            elide: Text.ElideRight
            leftPadding: 20
            rightPadding: 20
            topPadding: 20
        }

        // The wrapped message sits in a layout: as the dialog's content item itself, its
        // height (which follows its width) fed the dialog's height within one binding.
        contentItem: ColumnLayout {
            Label {
                objectName: "deleteMessage"
                Layout.fillWidth: true
                text: format.deleteMessage(deleteDialog.itemState)
                wrapMode: Text.Wrap
                color: Theme.text
            }
        }

        // Spaced as every row of buttons in the panes, on the card's own white.
        footer: DialogButtonBox {
            alignment: Qt.AlignRight
            spacing: 10
            padding: 20
            background: null
            ActionButton {
                id: keepButton
                objectName: "keepIt"
                text: "Keep it"
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
            ActionButton {
                objectName: "moveToTrash"
                kind: "stop"
                text: "Move to Trash"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    pane.library.deleteLocal(deleteDialog.itemID);
                    deleteDialog.close();
                }
            }
        }
        // "Keep it" is where the focus starts: Enter on an accidental Delete keeps the file.
        onOpened: keepButton.forceActiveFocus()
    }
}
