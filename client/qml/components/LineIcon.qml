import QtQuick

// Outline icons drawn on a 24-unit grid and scaled to the item's size.
Canvas {
    id: root

    property string name: "home"
    property color iconColor: "#2c221e"

    readonly property real strokeWidth: (name === "arrow-down" || name === "arrow-up" || name.indexOf("chevron-") === 0) ? 1.6 : 1.4
    readonly property var compactNames: ["bolt", "arrows", "list", "bell", "refresh", "user", "power", "gift",
        "arrow-down", "arrow-up", "chevron-down", "chevron-up", "chevron-right"]

    implicitWidth: compactNames.indexOf(name) >= 0 ? 14 : 16
    implicitHeight: implicitWidth
    antialiasing: true

    onNameChanged: requestPaint()
    onIconColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    function line(ctx, points) {
        ctx.moveTo(points[0], points[1])
        for (var i = 2; i + 1 < points.length; i += 2)
            ctx.lineTo(points[i], points[i + 1])
    }

    function circle(ctx, cx, cy, r) {
        ctx.moveTo(cx + r, cy)
        ctx.arc(cx, cy, r, 0, Math.PI * 2, false)
    }

    function roundedRect(ctx, x, y, w, h, r) {
        ctx.moveTo(x + r, y)
        ctx.lineTo(x + w - r, y)
        ctx.arcTo(x + w, y, x + w, y + r, r)
        ctx.lineTo(x + w, y + h - r)
        ctx.arcTo(x + w, y + h, x + w - r, y + h, r)
        ctx.lineTo(x + r, y + h)
        ctx.arcTo(x, y + h, x, y + h - r, r)
        ctx.lineTo(x, y + r)
        ctx.arcTo(x, y, x + r, y, r)
        ctx.closePath()
    }

    function drawIcon(ctx) {
        switch (name) {
        case "home":
            line(ctx, [3.5, 11.5, 12, 4, 20.5, 11.5])
            line(ctx, [6, 9.6, 6, 20, 18, 20, 18, 9.6])
            line(ctx, [10, 20, 10, 14.5, 14, 14.5, 14, 20])
            break
        case "globe":
            circle(ctx, 12, 12, 8.5)
            ctx.moveTo(12, 3.5)
            ctx.bezierCurveTo(7.6, 7.5, 7.6, 16.5, 12, 20.5)
            ctx.moveTo(12, 3.5)
            ctx.bezierCurveTo(16.4, 7.5, 16.4, 16.5, 12, 20.5)
            line(ctx, [3.5, 12, 20.5, 12])
            line(ctx, [5, 8, 19, 8])
            line(ctx, [5, 16, 19, 16])
            break
        case "gauge":
            ctx.moveTo(4.2, 17.5)
            ctx.arc(12, 14, 8.5, Math.PI * 0.86, Math.PI * 2.14, false)
            line(ctx, [12, 14, 16.2, 9.2])
            circle(ctx, 12, 14, 1.3)
            line(ctx, [8, 19.5, 16, 19.5])
            break
        case "chart":
            line(ctx, [4, 4, 4, 20, 20, 20])
            line(ctx, [7.5, 15.5, 11, 11.5, 14, 14, 19.5, 7.5])
            line(ctx, [16.5, 7.5, 19.5, 7.5, 19.5, 10.5])
            break
        case "card":
            roundedRect(ctx, 3, 6, 18, 12.5, 2.2)
            line(ctx, [3, 10, 21, 10])
            line(ctx, [6.5, 14.8, 10.5, 14.8])
            break
        case "gear":
            circle(ctx, 12, 12, 3)
            circle(ctx, 12, 12, 6.4)
            for (var k = 0; k < 8; ++k) {
                var a = k * Math.PI / 4
                line(ctx, [12 + Math.cos(a) * 6.4, 12 + Math.sin(a) * 6.4, 12 + Math.cos(a) * 8.8, 12 + Math.sin(a) * 8.8])
            }
            break
        case "user":
            circle(ctx, 12, 8.5, 3.8)
            ctx.moveTo(4.5, 20.5)
            ctx.bezierCurveTo(5.2, 16, 8.2, 14, 12, 14)
            ctx.bezierCurveTo(15.8, 14, 18.8, 16, 19.5, 20.5)
            break
        case "bolt":
            line(ctx, [13.5, 2.5, 5.5, 13.5, 11.5, 13.5, 10.5, 21.5, 18.5, 10, 12.5, 10])
            ctx.closePath()
            break
        case "arrows":
            line(ctx, [4, 8.5, 19.5, 8.5])
            line(ctx, [15.5, 4.5, 19.5, 8.5, 15.5, 12.5])
            line(ctx, [20, 15.5, 4.5, 15.5])
            line(ctx, [8.5, 11.5, 4.5, 15.5, 8.5, 19.5])
            break
        case "list":
            line(ctx, [9, 6.5, 20, 6.5])
            line(ctx, [9, 12, 20, 12])
            line(ctx, [9, 17.5, 20, 17.5])
            line(ctx, [4.2, 6.5, 5.6, 6.5])
            line(ctx, [4.2, 12, 5.6, 12])
            line(ctx, [4.2, 17.5, 5.6, 17.5])
            break
        case "bell":
            ctx.moveTo(6, 16.5)
            ctx.lineTo(6, 11)
            ctx.bezierCurveTo(6, 7.2, 8.6, 4.6, 12, 4.6)
            ctx.bezierCurveTo(15.4, 4.6, 18, 7.2, 18, 11)
            ctx.lineTo(18, 16.5)
            line(ctx, [4.5, 16.5, 19.5, 16.5])
            ctx.moveTo(10, 19)
            ctx.bezierCurveTo(10.4, 20.6, 13.6, 20.6, 14, 19)
            line(ctx, [12, 3, 12, 4.6])
            break
        case "refresh":
            ctx.moveTo(19.5, 12)
            ctx.arc(12, 12, 7.5, 0, Math.PI * 1.62, false)
            line(ctx, [13.4, 1.8, 14.8, 5.0, 11.6, 6.4])
            break
        case "power":
            ctx.moveTo(12 + Math.cos(-Math.PI / 2 + 0.7) * 7.5, 13 + Math.sin(-Math.PI / 2 + 0.7) * 7.5)
            ctx.arc(12, 13, 7.5, -Math.PI / 2 + 0.7, Math.PI * 1.5 - 0.7, false)
            line(ctx, [12, 3.5, 12, 12])
            break
        case "gift":
            roundedRect(ctx, 4.5, 11, 15, 9.5, 1.2)
            roundedRect(ctx, 3.5, 7.5, 17, 3.5, 1)
            line(ctx, [12, 7.5, 12, 20.5])
            ctx.moveTo(12, 7.5)
            ctx.bezierCurveTo(10.5, 3.5, 6, 4, 7.5, 6.6)
            ctx.bezierCurveTo(8.2, 7.6, 10.5, 7.5, 12, 7.5)
            ctx.moveTo(12, 7.5)
            ctx.bezierCurveTo(13.5, 3.5, 18, 4, 16.5, 6.6)
            ctx.bezierCurveTo(15.8, 7.6, 13.5, 7.5, 12, 7.5)
            break
        case "arrow-down":
            line(ctx, [12, 4, 12, 20])
            line(ctx, [6, 14, 12, 20, 18, 14])
            break
        case "arrow-up":
            line(ctx, [12, 20, 12, 4])
            line(ctx, [6, 10, 12, 4, 18, 10])
            break
        case "chevron-down":
            line(ctx, [6, 9, 12, 15, 18, 9])
            break
        case "chevron-up":
            line(ctx, [6, 15, 12, 9, 18, 15])
            break
        case "chevron-right":
            line(ctx, [9, 6, 15, 12, 9, 18])
            break
        default:
            break
        }
    }

    onPaint: {
        var ctx = getContext("2d")
        ctx.reset()
        ctx.clearRect(0, 0, width, height)
        var side = Math.min(width, height)
        if (side <= 0)
            return
        var scale = side / 24
        ctx.save()
        ctx.translate((width - side) / 2, (height - side) / 2)
        ctx.scale(scale, scale)
        ctx.strokeStyle = iconColor
        ctx.lineWidth = strokeWidth / scale
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        ctx.beginPath()
        drawIcon(ctx)
        ctx.stroke()
        ctx.restore()
    }
}
