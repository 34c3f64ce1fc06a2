import QtQuick
import QtQuick.Layouts
import Tolvane.Ui

// A notice in the popover, in one of two tones: "info" or "warning", with an optional
// button under the text and, when `dismissible`, a close cross.
Rectangle {
    id: banner

    property string tone: "info"
    property string text
    property bool dismissible: false
    property string buttonText
    signal buttonClicked()
    signal dismissed()

    readonly property color toneColor: tone === "warning" ? Theme.warning : Theme.info

    implicitHeight: content.implicitHeight + 20
    radius: 8
    color: Qt.rgba(toneColor.r, toneColor.g, toneColor.b, 0.10)
    border.color: Qt.rgba(toneColor.r, toneColor.g, toneColor.b, 0.35)
    Accessible.role: Accessible.AlertMessage
    Accessible.name: text

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 10
        spacing: 8

        MenuIcon {
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 1
            name: banner.tone === "warning" ? "warning" : "info"
            color: banner.toneColor
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            Text {
                Layout.fillWidth: true
                text: banner.text
                wrapMode: Text.Wrap
                color: Theme.text
                font.pixelSize: Theme.fontSize - 1
                lineHeight: 1.1
            }
            MenuButton {
                visible: banner.buttonText !== ""
                text: banner.buttonText
                onClicked: banner.buttonClicked()
            }
        }
        MenuIcon {
            visible: banner.dismissible
            Layout.alignment: Qt.AlignTop
            name: "close"
            size: 14
            color: Theme.secondaryText
            MouseArea {
                anchors.fill: parent
                anchors.margins: -4
                cursorShape: Qt.PointingHandCursor
                onClicked: banner.dismissed()
            }
        }
    }
}
