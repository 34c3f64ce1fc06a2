import QtQuick
import QtQuick.Controls.Basic

// The drawing tools: one button per tool, the palette, Undo, Clear all and Done. Dragging
// the bar (outside the buttons) moves it.
Rectangle {
    id: bar
    objectName: "annotationToolbar"

    readonly property var annotations: model.annotations
    readonly property var tools: [
        { name: "pen", label: "Pen" },
        { name: "highlighter", label: "Highlighter" },
        { name: "arrow", label: "Arrow" },
        { name: "line", label: "Line" },
        { name: "rectangle", label: "Rectangle" },
        { name: "ellipse", label: "Ellipse" },
        { name: "blur", label: "Blur" }
    ]
    readonly property var palette: [
        { name: "Tomato", red: 1.0, green: 0.384, blue: 0.314 },
        { name: "Yellow", red: 1.0, green: 0.84, blue: 0.2 },
        { name: "Green", red: 0.24, green: 0.78, blue: 0.45 },
        { name: "Blue", red: 0.24, green: 0.55, blue: 0.98 },
        { name: "White", red: 1.0, green: 1.0, blue: 1.0 }
    ]
    readonly property bool hasStrokes: annotations.strokeCount > 0

    function isActiveColor(c) {
        const a = annotations.activeColor
        return Math.abs(a.red - c.red) < 0.001 && Math.abs(a.green - c.green) < 0.001
            && Math.abs(a.blue - c.blue) < 0.001
    }

    implicitWidth: row.implicitWidth + 16
    implicitHeight: 44
    radius: 12
    color: Qt.rgba(0.11, 0.11, 0.12, 0.92)
    border.width: 1
    border.color: Qt.rgba(1, 1, 1, 0.12)

    MouseArea {
        anchors.fill: parent
        property point pressed
        onPressed: mouse => pressed = Qt.point(mouse.x, mouse.y)
        onPositionChanged: mouse => {
            const w = bar.Window.window
            w.x += mouse.x - pressed.x
            w.y += mouse.y - pressed.y
        }
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4

        Repeater {
            model: bar.tools
            OverlayButton {
                objectName: "tool_" + modelData.name
                iconName: modelData.name
                iconSize: 18
                tip: modelData.label
                active: bar.annotations.activeTool === modelData.name
                anchors.verticalCenter: parent.verticalCenter
                onClicked: bar.annotations.activeTool = modelData.name
            }
        }
        Rectangle {
            width: 1
            height: 20
            color: Qt.rgba(1, 1, 1, 0.3)
            anchors.verticalCenter: parent.verticalCenter
        }
        Repeater {
            model: bar.palette
            AbstractButton {
                id: swatch
                objectName: "swatch_" + modelData.name
                readonly property bool active: bar.isActiveColor(modelData)
                implicitWidth: 26
                implicitHeight: 26
                focusPolicy: Qt.NoFocus
                anchors.verticalCenter: parent.verticalCenter
                Accessible.role: Accessible.Button
                Accessible.name: modelData.name
                OverlayTip {
                    target: swatch
                    text: modelData.name
                    shown: swatch.hovered && !swatch.pressed
                }
                hoverEnabled: true
                background: Item {
                    // The active colour wears a white ring around its dot.
                    Rectangle {
                        anchors.fill: parent
                        radius: width / 2
                        color: "transparent"
                        border.width: 2
                        border.color: "white"
                        visible: swatch.active
                    }
                    Rectangle {
                        anchors.centerIn: parent
                        width: 18
                        height: 18
                        radius: 9
                        color: Qt.rgba(modelData.red, modelData.green, modelData.blue, 1)
                        border.width: 1
                        border.color: Qt.rgba(0, 0, 0, 0.35)
                    }
                }
                onClicked: bar.annotations.activeColor = { red: modelData.red, green: modelData.green, blue: modelData.blue }
            }
        }
        Rectangle {
            width: 1
            height: 20
            color: Qt.rgba(1, 1, 1, 0.3)
            anchors.verticalCenter: parent.verticalCenter
        }
        OverlayButton {
            objectName: "undoButton"
            iconName: "undo"
            tip: "Undo"
            enabled: bar.hasStrokes
            anchors.verticalCenter: parent.verticalCenter
            onClicked: bar.annotations.undoStroke()
        }
        OverlayButton {
            objectName: "clearButton"
            iconName: "trash"
            tip: "Clear all"
            enabled: bar.hasStrokes
            anchors.verticalCenter: parent.verticalCenter
            onClicked: bar.annotations.clearStrokes()
        }
        AbstractButton {
            objectName: "doneButton"
            implicitWidth: doneText.implicitWidth + 24
            implicitHeight: 28
            focusPolicy: Qt.NoFocus
            anchors.verticalCenter: parent.verticalCenter
            Accessible.role: Accessible.Button
            Accessible.name: "Done"
            background: Rectangle {
                radius: height / 2
                color: parent.down ? Qt.rgba(1, 1, 1, 0.85) : "white"
            }
            contentItem: Text {
                id: doneText
                text: "Done"
                color: "#1d1d1f"
                font.pixelSize: 13
                font.weight: Font.DemiBold
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            onClicked: if (bar.annotations.isDrawing) bar.annotations.isDrawing = false
        }
    }
}
