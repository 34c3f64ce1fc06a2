import QtQuick

// The popover's small monochrome glyphs, drawn here so they look the same whatever icon
// theme the desktop has (or none, as on a bare X server).
Canvas {
    id: icon

    // record, upload, info, warning, check, speaker, mic, video, library, drive,
    // window, power, signout, close
    property string name: ""
    property color color: "black"
    property int size: 16

    implicitWidth: size
    implicitHeight: size

    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onSizeChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        const s = size / 16   // drawn on a 16-unit grid
        ctx.scale(s, s)
        ctx.strokeStyle = color
        ctx.fillStyle = color
        ctx.lineWidth = 1.5
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        const knockout = function () { ctx.globalCompositeOperation = "destination-out" }
        switch (name) {
        case "record":
            ctx.beginPath(); ctx.arc(8, 8, 6.5, 0, 2 * Math.PI); ctx.stroke()
            ctx.beginPath(); ctx.arc(8, 8, 3.5, 0, 2 * Math.PI); ctx.fill()
            break
        case "upload":
            ctx.beginPath(); ctx.arc(8, 8, 6.5, 0, 2 * Math.PI); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(8, 11.5); ctx.lineTo(8, 4.8); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(5.2, 7.4); ctx.lineTo(8, 4.6); ctx.lineTo(10.8, 7.4); ctx.stroke()
            break
        case "info":
            ctx.beginPath(); ctx.arc(8, 8, 7, 0, 2 * Math.PI); ctx.fill()
            knockout()
            ctx.beginPath(); ctx.arc(8, 4.9, 1.1, 0, 2 * Math.PI); ctx.fill()
            ctx.fillRect(7.1, 7, 1.8, 5)
            break
        case "warning":
            ctx.beginPath(); ctx.moveTo(8, 1.2); ctx.lineTo(15.2, 14.2); ctx.lineTo(0.8, 14.2); ctx.closePath()
            ctx.fill()
            knockout()
            ctx.fillRect(7.15, 5.4, 1.7, 4.8)
            ctx.beginPath(); ctx.arc(8, 12, 1, 0, 2 * Math.PI); ctx.fill()
            break
        case "check":
            ctx.beginPath(); ctx.arc(8, 8, 7, 0, 2 * Math.PI); ctx.fill()
            knockout()
            ctx.lineWidth = 1.8
            ctx.beginPath(); ctx.moveTo(4.6, 8.2); ctx.lineTo(7, 10.6); ctx.lineTo(11.4, 5.6); ctx.stroke()
            break
        case "speaker":
            ctx.beginPath(); ctx.moveTo(1.5, 6); ctx.lineTo(4, 6); ctx.lineTo(7.5, 2.8); ctx.lineTo(7.5, 13.2)
            ctx.lineTo(4, 10); ctx.lineTo(1.5, 10); ctx.closePath(); ctx.fill()
            ctx.beginPath(); ctx.arc(8, 8, 3.2, -Math.PI / 3.5, Math.PI / 3.5); ctx.stroke()
            ctx.beginPath(); ctx.arc(8, 8, 6, -Math.PI / 3.2, Math.PI / 3.2); ctx.stroke()
            break
        case "mic":
            ctx.beginPath(); ctx.moveTo(5.8, 4); ctx.arc(8, 4, 2.2, Math.PI, 0); ctx.lineTo(10.2, 8)
            ctx.arc(8, 8, 2.2, 0, Math.PI); ctx.closePath(); ctx.fill()
            ctx.beginPath(); ctx.arc(8, 8, 4.3, 0, Math.PI); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(8, 12.3); ctx.lineTo(8, 14.6); ctx.stroke()
            break
        case "video":
            ctx.beginPath(); ctx.moveTo(2.5, 4); ctx.lineTo(9.5, 4); ctx.quadraticCurveTo(11, 4, 11, 5.5)
            ctx.lineTo(11, 10.5); ctx.quadraticCurveTo(11, 12, 9.5, 12); ctx.lineTo(2.5, 12)
            ctx.quadraticCurveTo(1, 12, 1, 10.5); ctx.lineTo(1, 5.5); ctx.quadraticCurveTo(1, 4, 2.5, 4); ctx.fill()
            ctx.beginPath(); ctx.moveTo(11.8, 8); ctx.lineTo(15.2, 5); ctx.lineTo(15.2, 11); ctx.closePath(); ctx.fill()
            break
        case "library":
            ctx.strokeRect(1.5, 4.5, 11, 9)
            ctx.beginPath(); ctx.moveTo(4, 2.2); ctx.lineTo(14.5, 2.2); ctx.lineTo(14.5, 10.5); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(5.6, 6.6); ctx.lineTo(9.6, 9); ctx.lineTo(5.6, 11.4); ctx.closePath(); ctx.fill()
            break
        case "drive":
            ctx.strokeRect(1.5, 5, 13, 7)
            ctx.beginPath(); ctx.moveTo(1.8, 5); ctx.lineTo(4, 2.5); ctx.lineTo(12, 2.5); ctx.lineTo(14.2, 5); ctx.stroke()
            ctx.beginPath(); ctx.arc(11.8, 8.5, 1, 0, 2 * Math.PI); ctx.fill()
            break
        case "window":
            ctx.strokeRect(1.5, 2.5, 13, 11)
            ctx.fillRect(1.5, 2.5, 13, 3)
            break
        case "power":
            ctx.beginPath(); ctx.arc(8, 8.8, 5.6, -Math.PI / 2 + 0.75, 1.5 * Math.PI - 0.75); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(8, 1.6); ctx.lineTo(8, 7.6); ctx.stroke()
            break
        case "signout":
            ctx.beginPath(); ctx.moveTo(9.5, 4); ctx.lineTo(9.5, 2); ctx.lineTo(2, 2); ctx.lineTo(2, 14); ctx.lineTo(9.5, 14)
            ctx.lineTo(9.5, 12); ctx.stroke()
            ctx.beginPath(); ctx.moveTo(6, 8); ctx.lineTo(14.5, 8); ctx.moveTo(12, 5.5); ctx.lineTo(14.5, 8); ctx.lineTo(12, 10.5)
            ctx.stroke()
            break
        case "close":
            ctx.beginPath(); ctx.moveTo(4.5, 4.5); ctx.lineTo(11.5, 11.5); ctx.moveTo(11.5, 4.5); ctx.lineTo(4.5, 11.5)
            ctx.stroke()
            break
        }
    }
}
