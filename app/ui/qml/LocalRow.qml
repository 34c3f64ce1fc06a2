import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// One recording kept on this computer: its frame, title, date, length, size and upload
// state, with what can be done to it. Delete asks first; Ctrl+C copies the link.
FocusScope {
    id: row
    property string itemID: ""
    property string title: ""
    property var createdAt
    property real durationSec: 0
    property real fileSizeBytes: 0
    property string itemState: ""
    property string shareURL: ""
    property string thumbnailSource: ""
    property bool isUploadPending: false
    property bool canDelete: true
    // The model's library, given by the list: a delegate's own `model` hides the root one.
    property var library
    signal deleteRequested()

    implicitHeight: 86
    activeFocusOnTab: true
    Accessible.role: Accessible.ListItem
    Accessible.name: title + ", " + format.stateBadge(itemState)
    Accessible.focusable: true
    Keys.onDeletePressed: if (canDelete) deleteRequested()
    // Ctrl+C (the Edit menu's Copy) on the focused row copies its link.
    function copy() {
        if (shareURL !== "")
            links.copy(shareURL);
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.card
        radius: Theme.radius
        border.color: row.activeFocus ? Theme.tomato : Theme.border
        border.width: row.activeFocus ? 2 : 1
    }
    TapHandler {
        onTapped: row.forceActiveFocus()
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 12
        Thumbnail {
            Layout.preferredWidth: 112
            Layout.preferredHeight: 63
            source: row.thumbnailSource
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Label {
                Layout.fillWidth: true
                text: row.title
                color: Theme.text
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            Label {
                Layout.fillWidth: true
                text: [format.shortDate(row.createdAt), format.duration(row.durationSec),
                       format.byteCount(row.fileSizeBytes)].filter(part => part !== "").join(" \u00b7 ")
                color: Theme.secondaryText
                elide: Text.ElideRight
            }
            // Elided only where the row has no room for it. A maximum width on the badge
            // itself would cap the whole column at the width it first had.
            Item {
                Layout.fillWidth: true
                implicitHeight: badge.implicitHeight
                StateBadge {
                    id: badge
                    objectName: "stateBadge"
                    width: Math.min(implicitWidth, parent.width)
                    itemState: row.itemState
                }
            }
        }
        ActionButton {
            visible: row.shareURL !== ""
            text: "Copy link"
            onClicked: links.copy(row.shareURL)
        }
        ActionButton {
            visible: row.shareURL !== ""
            text: "\u2197"
            Accessible.name: "Open the share page"
            ToolTip.text: "Open the share page"
            ToolTip.visible: hovered
            ToolTip.delay: 500
            onClicked: links.open(row.shareURL)
        }
        ActionButton {
            objectName: "retryUpload"
            visible: row.isUploadPending
            text: "Try again"
            onClicked: row.library.retryUpload(row.itemID)
        }
        ActionButton {
            id: more
            objectName: "rowMenuButton"
            text: "\u22ef"
            Accessible.name: "More"
            ToolTip.text: "More"
            ToolTip.visible: hovered
            ToolTip.delay: 500
            // Made on first use: a menu per row made with the row would cost more than
            // the rest of the row while a long list scrolls.
            onClicked: {
                if (!menuLoader.active)
                    menuLoader.active = true;
                menuLoader.item.open();
            }
            Loader {
                id: menuLoader
                active: false
                sourceComponent: Menu {
                    y: more.height
                    MenuItem {
                        text: "Show in Folder"
                        onTriggered: row.library.showInFolder(row.itemID)
                    }
                    MenuItem {
                        text: "Open in Video Player"
                        onTriggered: row.library.openLocalFile(row.itemID)
                    }
                    MenuSeparator {}
                    MenuItem {
                        objectName: "deleteMenuItem"
                        text: "Delete from this computer\u2026"
                        enabled: row.canDelete
                        onTriggered: row.deleteRequested()
                    }
                }
            }
        }
    }
}
