import QtQuick
import Tolvane.OverlayItems

// The drawing layer over the whole screen. It is almost transparent rather than fully,
// so that it still takes every click over the screen; the surface draws and collects the
// strokes.
Rectangle {
    objectName: "annotationCanvas"
    color: Qt.rgba(1, 1, 1, 0.001)

    Accessible.role: Accessible.Canvas
    Accessible.name: "Drawing canvas"

    AnnotationSurface {
        objectName: "annotationSurface"
        anchors.fill: parent
        annotations: model.annotations
    }
}
