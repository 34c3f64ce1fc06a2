import QtQuick
import QtQuick.Layouts
import Tolvane.Ui

// The frame of a pane whose body is one long list: the header stays put and the list
// below it scrolls by itself, so only the rows in sight are ever made.
Item {
    id: frame
    default property alias content: column.data
    property int maxContentWidth: 760
    readonly property int margin: 28

    ColumnLayout {
        id: column
        width: Math.min(frame.width - 2 * frame.margin, frame.maxContentWidth)
        x: Math.max(frame.margin, (frame.width - width) / 2)
        y: frame.margin
        height: frame.height - frame.margin
        spacing: 14
    }
}
