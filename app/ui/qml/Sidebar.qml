import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The window's left column: the mark and the name, one row per pane, and who is signed
// in at the foot.
Rectangle {
    id: sidebar
    // AccountModel::SignInPhase::SignedIn
    readonly property bool signedIn: model.account.signInPhase === 2
    readonly property int pendingUploads: model.library.pendingUploadCount

    objectName: "sidebar"
    implicitWidth: 236
    color: Theme.sidebar

    Rectangle {
        anchors.right: parent.right
        width: 1
        height: parent.height
        color: Theme.border
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        anchors.topMargin: 18
        spacing: 2

        RowLayout {
            Layout.leftMargin: 8
            Layout.bottomMargin: 16
            spacing: 10
            LogoMark {
                size: 26
            }
            Label {
                text: "Tolvane"
                color: Theme.text
                font.pixelSize: 17
                font.weight: Font.Bold
            }
        }

        SidebarRow {
            Layout.fillWidth: true
            pane: "record"
            title: "Record"
            icon: "\u25cf"
        }
        SidebarRow {
            Layout.fillWidth: true
            pane: "review"
            title: "Review"
            icon: "\u25b6"
        }
        SidebarRow {
            Layout.fillWidth: true
            pane: "library"
            title: "My recordings"
            icon: "\u2601"
        }
        SidebarRow {
            Layout.fillWidth: true
            pane: "local"
            title: "On this computer"
            icon: "\u25a4"
            badge: sidebar.pendingUploads > 0 ? String(sidebar.pendingUploads) : ""
        }

        Item {
            Layout.fillHeight: true
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.bottomMargin: 10
            height: 1
            color: Theme.border
        }
        // Each time the window is shown the account is asked for afresh: the plan may
        // have changed on the web meanwhile.
        Connections {
            target: sidebar.Window.window
            function onVisibleChanged() {
                if (sidebar.Window.window.visible)
                    model.account.refresh();
            }
        }
        ColumnLayout {
            objectName: "accountFooter"
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            spacing: 2
            Label {
                Layout.fillWidth: true
                text: sidebar.signedIn ? (model.account.email !== "" ? model.account.email : "Signed in")
                                       : "Not signed in"
                elide: Text.ElideMiddle
                color: Theme.text
                font.weight: Font.DemiBold
            }
            Label {
                Layout.fillWidth: true
                visible: sidebar.signedIn
                text: model.account.account.pro ? "Pro \u2014 unlimited recordings" : "Free plan"
                color: Theme.secondaryText
                font.pixelSize: Theme.smallFontSize
            }
        }
    }
}
