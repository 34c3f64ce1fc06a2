import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// One recording of the web library: its frame, title, length, age and views, and its
// link. Enter opens the share page, Ctrl+C copies the link.
FocusScope {
    id: card
    property string title: ""
    property real durationSec: 0
    property string created: ""
    property int views: 0
    property string shareUrl: ""
    property string thumbnailSource: ""

    readonly property string age: format.relativeDate(created)

    activeFocusOnTab: true
    Accessible.role: Accessible.ListItem
    Accessible.name: title + ", " + format.duration(durationSec) + ", " + format.viewCount(views)
    Accessible.focusable: true
    Keys.onReturnPressed: links.open(shareUrl)
    Keys.onEnterPressed: links.open(shareUrl)
    // Ctrl+C (the Edit menu's Copy) on the focused card copies its link.
    function copy() {
        if (shareUrl !== "")
            links.copy(shareUrl);
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.card
        radius: Theme.radius
        border.color: card.activeFocus ? Theme.tomato : Theme.border
        border.width: card.activeFocus ? 2 : 1
    }
    TapHandler {
        onTapped: card.forceActiveFocus()
        onDoubleTapped: links.open(card.shareUrl)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 6
        Thumbnail {
            Layout.fillWidth: true
            Layout.preferredHeight: Math.round(width * 9 / 16)
            source: card.thumbnailSource
            Label {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 6
                leftPadding: 5
                rightPadding: 5
                text: format.duration(card.durationSec)
                color: "white"
                font.pixelSize: Theme.smallFontSize
                background: Rectangle { color: Qt.rgba(0, 0, 0, 0.6); radius: 3 }
            }
        }
        Label {
            Layout.fillWidth: true
            text: card.title
            color: Theme.text
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Label {
                Layout.fillWidth: true
                text: [card.age, format.viewCount(card.views)].filter(part => part !== "").join(" \u00b7 ")
                color: Theme.secondaryText
                font.pixelSize: Theme.smallFontSize
                elide: Text.ElideRight
            }
            ActionButton {
                objectName: "libraryCopy"
                visible: card.shareUrl !== ""
                text: "Copy"
                topPadding: 4
                bottomPadding: 4
                onClicked: links.copy(card.shareUrl)
            }
        }
    }
}
