import QtQuick
import Tolvane.Ui

// A recording's frame, decoded off the GUI thread at the size it is drawn; the play glyph
// stands in while there is none (not made yet, or no movie to make it from).
Rectangle {
    id: thumb
    property string source: ""

    color: "#2b2b2e"
    radius: 6
    clip: true

    Image {
        id: image
        objectName: "thumbnailImage"
        anchors.fill: parent
        source: thumb.source
        asynchronous: true
        cache: true
        fillMode: Image.PreserveAspectCrop
        sourceSize.width: Math.round(thumb.width * Screen.devicePixelRatio)
        sourceSize.height: Math.round(thumb.height * Screen.devicePixelRatio)
    }
    MenuIcon {
        anchors.centerIn: parent
        visible: image.status !== Image.Ready
        name: "library"
        color: "#9a9aa0"
        size: Math.min(28, thumb.height / 2)
    }
}
