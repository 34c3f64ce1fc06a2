import QtQuick
import QtQuick.Layouts
import Tolvane.Ui

// The frame of a pane whose body is one long list: the header stays put and the list
// below it scrolls by itself, so only the rows in sight are ever made.
Item {
    id: frame
    default property alias content: column.data
    property int maxContentWidth: Theme.paneMaxWidth
    readonly property int margin: Theme.paneMargin

    // Whether a visible section (the list) takes the height left below the header.
    function hasFillingSection() {
        for (let i = 0; i < column.children.length; ++i) {
            const section = column.children[i];
            if (section.visible && section.Layout.fillHeight)
                return true;
        }
        return false;
    }

    ColumnLayout {
        id: column
        width: Math.min(frame.width - 2 * frame.margin, frame.maxContentWidth)
        x: Math.max(frame.margin, (frame.width - width) / 2)
        y: frame.margin
        // With no list to take it (an empty, loading or failed pane), spare height would be
        // shared out among the sections and push the header down; the column then keeps
        // to its content, as a scrolling pane's does.
        height: hasFillingSection() ? frame.height - frame.margin : implicitHeight
        spacing: Theme.paneSpacing
    }
}
