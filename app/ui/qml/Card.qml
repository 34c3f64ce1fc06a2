import QtQuick
import QtQuick.Layouts
import Tolvane.Ui

// A white panel with a hairline border holding one section of a pane; its children are
// laid out in a column.
Rectangle {
    id: card
    default property alias content: column.data
    property alias spacing: column.spacing
    property int padding: 16
    // The column itself, for a pane that sizes one section by what the others take.
    readonly property alias layout: column

    color: Theme.card
    radius: Theme.radius
    border.color: Theme.border
    implicitWidth: column.implicitWidth + 2 * padding
    implicitHeight: column.implicitHeight + 2 * padding

    ColumnLayout {
        id: column
        anchors {
            left: parent.left
            right: parent.right
            top: parent.top
            margins: card.padding
        }
        spacing: 10
    }
}
