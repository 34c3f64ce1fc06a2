import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The recordings in the user's web library, newest first, as a grid of cards.
ListPaneLayout {
    id: pane
    readonly property var library: model.library
    // AccountModel::SignInPhase::SignedIn
    readonly property bool signedIn: model.account.signInPhase === 2
    readonly property var items: library.libraryItemsModel
    readonly property bool loading: library.isLoadingLibrary
    readonly property bool failed: !loading && library.libraryError !== ""

    objectName: "libraryPane"
    // The list is asked for afresh by the model whenever this pane is selected.

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Label {
                objectName: "paneTitle"
                Layout.fillWidth: true
                text: "My recordings"
                color: Theme.text
                font.pixelSize: Theme.titleFontSize
                font.weight: Font.DemiBold
            }
            Label {
                objectName: "planLine"
                visible: pane.signedIn
                text: format.planLine(model.account.account.pro === true)
                color: Theme.secondaryText
            }
        }
        // At the top, level with the title, as on the other panes.
        ActionButton {
            objectName: "libraryRefresh"
            Layout.alignment: Qt.AlignTop
            enabled: pane.signedIn && !pane.loading
            text: "\u21bb Refresh"
            Accessible.name: "Refresh"
            onClicked: pane.library.loadLibrary()
        }
        ActionButton {
            Layout.alignment: Qt.AlignTop
            text: "Open on the web"
            onClicked: actions.trigger("open-web-library")
        }
    }

    EmptyState {
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: !pane.signedIn
        icon: "signout"
        title: "Not signed in"
        text: "Sign in to see the recordings in your library."
    }

    BusyIndicator {
        objectName: "libraryLoading"
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 40
        visible: pane.signedIn && pane.loading
        running: visible
        Accessible.name: "Loading your library"
    }

    ColumnLayout {
        objectName: "libraryError"
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.signedIn && pane.failed
        spacing: 8
        EmptyState {
            Layout.fillWidth: true
            icon: "warning"
            iconColor: Theme.warning
            title: "Couldn't load your library"
            text: pane.library.libraryError
        }
        ActionButton {
            Layout.alignment: Qt.AlignHCenter
            text: "Try again"
            onClicked: pane.library.loadLibrary()
        }
    }

    EmptyState {
        objectName: "libraryEmpty"
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.signedIn && !pane.loading && !pane.failed && pane.items.count === 0
        title: "Nothing here yet"
        text: format.libraryEmptyText()
    }

    // The cards' outer edges line up with the header's: the grid reaches out past the
    // column by the margin each card keeps inside its cell.
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: pane.signedIn && !pane.failed && pane.items.count > 0

        GridView {
            id: grid
            objectName: "libraryGrid"
            readonly property int cardMargin: 6
            anchors.fill: parent
            anchors.leftMargin: -cardMargin
            anchors.rightMargin: -cardMargin
            model: visible ? pane.items : null
            clip: true
            // As many as fit the column, at 220 points each at least.
            readonly property int columns: Math.max(1, Math.floor((width - 2 * cardMargin) / 220))
            cellWidth: Math.floor(width / columns)
            cellHeight: Math.round((cellWidth - 32) * 9 / 16) + 96
            cacheBuffer: cellHeight * 2
            boundsBehavior: Flickable.StopAtBounds
            keyNavigationEnabled: true
            ScrollBar.vertical: ScrollBar {}
            Accessible.role: Accessible.List
            Accessible.name: "My recordings"

            delegate: Item {
                id: cell
                required property var model
                width: grid.cellWidth
                height: grid.cellHeight
                LibraryCard {
                    objectName: "libraryCard-" + cell.model.id
                    anchors.fill: parent
                    anchors.margins: grid.cardMargin
                    anchors.bottomMargin: 10
                    title: cell.model.title || ""
                    durationSec: cell.model.durationSec || 0
                    created: cell.model.createdAt || ""
                    views: cell.model.views || 0
                    shareUrl: cell.model.shareUrl || ""
                    thumbnailSource: cell.model.thumbnailSource || ""
                }
            }
        }
    }
}
