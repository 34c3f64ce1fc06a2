import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// "About Tolvane": the mark, the name, the version and the credits. Closing only hides it.
ApplicationWindow {
    id: about
    objectName: "aboutWindow"
    title: "About Tolvane"
    flags: Qt.Dialog
    width: 360
    height: 330
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: Theme.window
    font.pixelSize: Theme.fontSize
    palette.dark: Theme.tomato

    onClosing: close => {
        close.accepted = false;
        about.hide();
    }

    Shortcut {
        sequence: StandardKey.Cancel
        onActivated: about.hide()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 28
        spacing: 8

        LogoMark {
            Layout.alignment: Qt.AlignHCenter
            size: 64
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 6
            text: "Tolvane"
            color: Theme.text
            font.pixelSize: Theme.titleFontSize
            font.weight: Font.Bold
        }
        Label {
            objectName: "aboutVersion"
            Layout.alignment: Qt.AlignHCenter
            text: "Version " + model.currentVersion
            color: Theme.secondaryText
        }
        Label {
            objectName: "aboutCredits"
            Layout.fillWidth: true
            Layout.topMargin: 8
            horizontalAlignment: Text.AlignHCenter
            text: "Record your screen. Share a link. Done.\n\nRecordings are kept on this computer until you delete them."
            color: Theme.text
            wrapMode: Text.Wrap
        }
        Item {
            Layout.fillHeight: true
        }
        ActionButton {
            Layout.alignment: Qt.AlignHCenter
            kind: "primary"
            text: "OK"
            onClicked: about.hide()
        }
    }
}
