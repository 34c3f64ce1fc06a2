import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// A labelled choice in the popover: a glyph and a drop-down of `entries`, each
// {id, name} with an optional `heading` shown above it in the list (the "Windows" that
// starts the windows after the displays).
RowLayout {
    id: picker

    property string icon
    property string label
    property var entries: []
    property string currentId
    signal picked(string id)

    spacing: 10

    function indexOf(id) {
        for (let i = 0; i < entries.length; ++i) {
            if (entries[i].id === id) return i
        }
        return entries.length > 0 ? 0 : -1
    }

    MenuIcon {
        visible: picker.icon !== ""
        name: picker.icon
        color: Theme.secondaryText
    }
    Text {
        visible: picker.label !== ""
        text: picker.label
        color: Theme.secondaryText
        font.pixelSize: Theme.fontSize
    }
    ComboBox {
        id: box
        Layout.fillWidth: true
        implicitHeight: 28
        font.pixelSize: Theme.fontSize
        model: picker.entries
        textRole: "name"
        currentIndex: picker.indexOf(picker.currentId)
        Accessible.name: picker.label !== "" ? picker.label : displayText
        onActivated: index => picker.picked(picker.entries[index].id)

        background: Rectangle {
            radius: 6
            color: box.hovered ? Theme.window : Theme.card
            border.color: box.visualFocus ? Theme.tomato : Theme.border
        }
        delegate: ItemDelegate {
            id: entry
            required property var modelData
            required property int index
            width: box.popup.width
            padding: 0
            highlighted: box.highlightedIndex === entry.index
            contentItem: Column {
                Text {
                    visible: entry.modelData.heading !== undefined
                    text: entry.modelData.heading || ""
                    leftPadding: 10
                    topPadding: 6
                    bottomPadding: 2
                    color: Theme.secondaryText
                    font.pixelSize: Theme.smallFontSize
                    font.weight: Font.DemiBold
                }
                Text {
                    text: entry.modelData.name
                    leftPadding: 10
                    topPadding: 5
                    bottomPadding: 5
                    width: box.popup.width
                    elide: Text.ElideRight
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                }
            }
            background: Rectangle {
                color: entry.highlighted ? Theme.selection : "transparent"
            }
        }
    }
}
