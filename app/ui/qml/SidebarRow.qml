import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// One pane in the sidebar: its glyph, its name and an optional badge at the trailing edge.
// Clicking selects the pane through the model.
Rectangle {
    id: row
    property string pane
    property string title
    property string icon
    property string badge: ""
    readonly property bool isSelected: model.mainPane === pane

    objectName: "sidebarRow-" + pane
    implicitHeight: 34
    radius: 7
    color: isSelected ? Theme.selection : hover.hovered ? Qt.rgba(0, 0, 0, 0.05) : "transparent"
    // Reachable with Tab and chosen with Space or Enter, like the panes' buttons.
    activeFocusOnTab: true
    border.width: activeFocus ? 2 : 0
    border.color: Theme.tomato
    Keys.onSpacePressed: model.selectPane(row.pane)
    Keys.onReturnPressed: model.selectPane(row.pane)
    Keys.onEnterPressed: model.selectPane(row.pane)

    Accessible.role: Accessible.PageTab
    Accessible.name: title
    Accessible.selected: isSelected
    Accessible.onPressAction: model.selectPane(row.pane)

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 8
        spacing: 10

        Label {
            Layout.preferredWidth: 18
            horizontalAlignment: Text.AlignHCenter
            text: row.icon
            color: row.isSelected ? Theme.tomato : Theme.secondaryText
        }
        Label {
            Layout.fillWidth: true
            text: row.title
            elide: Text.ElideRight
            color: Theme.text
            font.weight: row.isSelected ? Font.DemiBold : Font.Normal
        }
        Rectangle {
            visible: row.badge !== ""
            implicitHeight: 18
            implicitWidth: Math.max(18, badgeLabel.implicitWidth + 10)
            radius: height / 2
            color: Theme.tomato
            Label {
                id: badgeLabel
                anchors.centerIn: parent
                text: row.badge
                color: "white"
                font.pixelSize: Theme.smallFontSize
                font.bold: true
            }
        }
    }

    HoverHandler {
        id: hover
    }
    TapHandler {
        onTapped: model.selectPane(row.pane)
    }
}
