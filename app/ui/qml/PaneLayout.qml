import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The frame of every pane: a vertical scroll over a column of readable width, centred in
// whatever room the window gives.
ScrollView {
    id: scroll
    default property alias content: column.data
    property int maxContentWidth: Theme.paneMaxWidth
    readonly property int margin: Theme.paneMargin

    clip: true
    contentWidth: availableWidth
    contentHeight: column.implicitHeight + 2 * margin
    ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

    ColumnLayout {
        id: column
        width: Math.min(scroll.availableWidth - 2 * scroll.margin, scroll.maxContentWidth)
        x: Math.max(scroll.margin, (scroll.availableWidth - width) / 2)
        y: scroll.margin
        spacing: Theme.paneSpacing
    }
}
