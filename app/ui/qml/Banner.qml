import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// A notice across the pane in one of three tones ("info", "warning", "error"), with an
// optional bold first line, an optional button and an optional close box.
Rectangle {
    id: banner
    property string tone: "info"
    property string title: ""
    property string text: ""
    property string actionText: ""
    property bool dismissible: false
    signal actionTriggered()
    signal dismissed()

    readonly property color toneColor: tone === "warning" ? Theme.warning
                                       : tone === "error" ? Theme.recordRed : Theme.info
    color: Qt.rgba(toneColor.r, toneColor.g, toneColor.b, 0.09)
    border.color: Qt.rgba(toneColor.r, toneColor.g, toneColor.b, 0.35)
    radius: 8
    implicitHeight: row.implicitHeight + 24

    Accessible.role: Accessible.AlertMessage
    Accessible.name: title !== "" ? title + " " + text : text

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        Label {
            Layout.alignment: Qt.AlignTop
            Layout.preferredWidth: 18
            horizontalAlignment: Text.AlignHCenter
            text: banner.tone === "info" ? "\u2139" : "\u26a0"
            color: banner.toneColor
            font.pixelSize: 16
            font.bold: true
        }
        ColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop
            spacing: 2
            Label {
                Layout.fillWidth: true
                visible: banner.title !== ""
                text: banner.title
                font.weight: Font.DemiBold
                color: Theme.text
                wrapMode: Text.Wrap
            }
            Label {
                Layout.fillWidth: true
                visible: banner.text !== ""
                text: banner.text
                color: Theme.text
                wrapMode: Text.Wrap
            }
        }
        ActionButton {
            Layout.alignment: Qt.AlignVCenter
            visible: banner.actionText !== ""
            text: banner.actionText
            onClicked: banner.actionTriggered()
        }
        Label {
            objectName: "dismissBanner"
            Layout.alignment: Qt.AlignTop
            visible: banner.dismissible
            text: "\u2715"
            color: dismissHover.hovered ? Theme.text : Theme.secondaryText
            Accessible.role: Accessible.Button
            Accessible.name: "Dismiss"
            Accessible.onPressAction: banner.dismissed()
            HoverHandler {
                id: dismissHover
            }
            TapHandler {
                onTapped: banner.dismissed()
            }
        }
    }
}
