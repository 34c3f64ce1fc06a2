import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The recordings in the user's web library, newest first.
PaneLayout {
    id: pane
    readonly property var library: model.library
    // AccountModel::SignInPhase::SignedIn
    readonly property bool signedIn: model.account.signInPhase === 2
    readonly property var items: library.libraryItems

    objectName: "libraryPane"

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Label {
                Layout.fillWidth: true
                text: "My recordings"
                color: Theme.text
                font.pixelSize: Theme.titleFontSize
                font.weight: Font.DemiBold
            }
            Label {
                visible: pane.signedIn
                text: model.account.account.pro ? "Pro \u2014 unlimited recordings" : "Free plan"
                color: Theme.secondaryText
            }
        }
        ActionButton {
            enabled: pane.signedIn && !pane.library.isLoadingLibrary
            text: "\u21bb Refresh"
            onClicked: pane.library.loadLibrary()
        }
        ActionButton {
            text: "Open on the web"
            onClicked: actions.trigger("open-web-library")
        }
    }

    Label {
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: !pane.signedIn
        horizontalAlignment: Text.AlignHCenter
        text: "Sign in to see the recordings in your library."
        color: Theme.secondaryText
        wrapMode: Text.Wrap
    }

    BusyIndicator {
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 40
        visible: pane.signedIn && pane.library.isLoadingLibrary
        running: visible
    }

    ColumnLayout {
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.signedIn && !pane.library.isLoadingLibrary && pane.library.libraryError !== ""
        spacing: 8
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Couldn't load your library"
            color: Theme.text
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: pane.library.libraryError
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
        ActionButton {
            Layout.alignment: Qt.AlignHCenter
            text: "Try again"
            onClicked: pane.library.loadLibrary()
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        Layout.topMargin: 40
        visible: pane.signedIn && !pane.library.isLoadingLibrary && pane.library.libraryError === ""
                 && pane.items.length === 0
        spacing: 6
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Nothing here yet"
            color: Theme.text
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: "Record something and it'll appear here and on the Tolvane website."
            color: Theme.secondaryText
        }
    }

    Repeater {
        model: pane.signedIn ? pane.items : []
        delegate: Card {
            required property var modelData
            Layout.fillWidth: true
            padding: 14
            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Label {
                        Layout.fillWidth: true
                        text: modelData.title
                        color: Theme.text
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Label {
                        text: format.duration(modelData.durationSec) + " \u00b7 " + modelData.views
                              + (modelData.views === 1 ? " view" : " views")
                        color: Theme.secondaryText
                    }
                }
                ActionButton {
                    visible: modelData.shareUrl !== ""
                    text: "Open"
                    onClicked: Qt.openUrlExternally(modelData.shareUrl)
                }
            }
        }
    }
}
