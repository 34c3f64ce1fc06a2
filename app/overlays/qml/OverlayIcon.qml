import QtQuick

// The floating controls' white glyphs, drawn here so they look the same whatever icon
// theme the desktop has (or none, as on a bare X server). Drawn on a 16-unit grid.
Canvas {
    id: icon

    // pause, play, drawing, stop, pen, highlighter, arrow, line, rectangle, ellipse, blur,
    // undo, trash
    property string name: ""
    property color color: "white"
    property int size: 16

    implicitWidth: size
    implicitHeight: size

    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onSizeChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.scale(size / 16, size / 16)
        ctx.strokeStyle = color
        ctx.fillStyle = color
        ctx.lineWidth = 1.5
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        const line = function (points) {
            ctx.beginPath()
            ctx.moveTo(points[0], points[1])
            for (let i = 2; i < points.length; i += 2) ctx.lineTo(points[i], points[i + 1])
            ctx.stroke()
        }
        switch (name) {
        case "pause":
            ctx.fillRect(3.5, 2.5, 3, 11)
            ctx.fillRect(9.5, 2.5, 3, 11)
            break
        case "play":
            ctx.beginPath(); ctx.moveTo(4, 2.5); ctx.lineTo(13.5, 8); ctx.lineTo(4, 13.5); ctx.closePath(); ctx.fill()
            break
        case "stop":
            ctx.fillRect(3, 3, 10, 10)
            break
        case "drawing":
            ctx.beginPath(); ctx.arc(8, 8, 7, 0, 2 * Math.PI); ctx.stroke()
            line([5, 11, 5.6, 8.8, 10.2, 4.2, 11.8, 5.8, 7.2, 10.4, 5, 11])
            break
        case "pen":
            line([3, 13, 3.8, 10.2, 11, 3, 13, 5, 5.8, 12.2, 3, 13])
            break
        case "highlighter":
            line([2.5, 13.5, 6, 13.5])
            line([5, 10.5, 11.5, 4, 14, 6.5, 7.5, 13, 5, 10.5])
            line([5, 10.5, 4, 12.5, 5.5, 12])
            break
        case "arrow":
            line([3, 13, 13, 3])
            line([7.5, 3, 13, 3, 13, 8.5])
            break
        case "line":
            line([3, 13, 13, 3])
            break
        case "rectangle":
            ctx.strokeRect(2.5, 4, 11, 8)
            break
        case "ellipse":
            ctx.beginPath(); ctx.arc(8, 8, 5.5, 0, 2 * Math.PI); ctx.stroke()
            break
        case "blur":
            // A box of soft dots: what a blurred area looks like.
            ctx.setLineDash([1.5, 1.5])
            ctx.strokeRect(2.5, 2.5, 11, 11)
            ctx.setLineDash([])
            for (let y = 5.5; y < 12; y += 2.5)
                for (let x = 5.5; x < 12; x += 2.5) {
                    ctx.beginPath(); ctx.arc(x, y, 0.8, 0, 2 * Math.PI); ctx.fill()
                }
            break
        case "undo":
            ctx.beginPath(); ctx.arc(9, 9, 4.5, Math.PI, 2.2 * Math.PI, false); ctx.stroke()
            line([2.5, 6.5, 4.5, 9.2, 7.2, 7.2])
            break
        case "trash":
            line([2.5, 4.5, 13.5, 4.5])
            line([6, 4.5, 6.5, 2.5, 9.5, 2.5, 10, 4.5])
            line([4, 4.5, 5, 13.5, 11, 13.5, 12, 4.5])
            break
        }
    }
}
