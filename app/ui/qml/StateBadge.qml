import QtQuick
import QtQuick.Controls
import Tolvane.Ui

// Where a local recording's upload stands, as a small coloured capsule.
Label {
    id: badge
    property string itemState: ""

    readonly property color tint: itemState === "verified" ? Theme.success
                                  : itemState === "needsAttention" ? Theme.warning
                                  : itemState === "recording" ? Theme.recordRed
                                  : itemState === "uploaded" ? Theme.success : Theme.info

    text: format.stateBadge(itemState)
    color: Qt.darker(tint, 1.25)
    font.pixelSize: Theme.smallFontSize
    font.weight: Font.DemiBold
    leftPadding: 8
    rightPadding: 8
    topPadding: 2
    bottomPadding: 2
    elide: Text.ElideRight
    background: Rectangle {
        radius: height / 2
        color: Qt.rgba(badge.tint.r, badge.tint.g, badge.tint.b, 0.13)
        border.color: Qt.rgba(badge.tint.r, badge.tint.g, badge.tint.b, 0.35)
    }
}
