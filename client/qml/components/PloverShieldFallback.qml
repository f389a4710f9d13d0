import QtQuick

// A drawn shield shown while the vector animation is not ready: three
// translucent, slowly turning copies behind a gradient-filled shield.
// It turns through one cycle when made or when its state changes, then holds
// still, so the window can idle; `playing` false holds it still at once.
Item {
    id: root

    property bool connected: false
    property bool playing: true
    property real phase: 0
    // Ticks left of the current cycle (one cycle is 1 / 0.014 ticks of 33 ms, about 2.4 s).
    property int ticksLeft: 0
    readonly property bool running: timer.running

    function play() {
        ticksLeft = Math.ceil(1 / 0.014)
    }

    Component.onCompleted: play()

    implicitWidth: 220
    implicitHeight: 220

    // Eight vertices with their out- and in-tangents, around the centre.
    readonly property var outline: [
        { "v": [0, -64], "i": [-20, 4], "o": [20, 4] },
        { "v": [48, -50], "i": [-10, -6], "o": [2, 10] },
        { "v": [52, -10], "i": [0, -14], "o": [0, 18] },
        { "v": [38, 30], "i": [8, -14], "o": [-10, 14] },
        { "v": [0, 62], "i": [18, -10], "o": [-18, -10] },
        { "v": [-38, 30], "i": [10, 14], "o": [-8, -14] },
        { "v": [-52, -10], "i": [0, 18], "o": [0, -14] },
        { "v": [-48, -50], "i": [-2, 10], "o": [10, -6] }
    ]

    readonly property var echoes: [
        { "scale": 1.64, "opacity": 0.11, "blur": 24, "rate": 0.42, "offset": 0 },
        { "scale": 1.42, "opacity": 0.15, "blur": 14, "rate": -0.54, "offset": 0.6 },
        { "scale": 1.22, "opacity": 0.19, "blur": 8, "rate": 0.72, "offset": 1.2 }
    ]

    onPhaseChanged: canvas.requestPaint()
    onConnectedChanged: {
        canvas.requestPaint()
        play()
    }

    Timer {
        id: timer
        interval: 33
        repeat: true
        running: root.playing && root.visible && root.ticksLeft > 0
        onTriggered: {
            root.ticksLeft = root.ticksLeft - 1
            // The last tick lands back on the still pose.
            root.phase = root.ticksLeft > 0 ? (root.phase + 0.014) % 1 : 0
        }
    }

    Canvas {
        id: canvas
        anchors.fill: parent
        antialiasing: true
        renderStrategy: Canvas.Cooperative

        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        function traceShield(ctx, wobble) {
            var points = root.outline
            var turn = root.phase * Math.PI * 2
            function at(k) {
                var p = points[k].v
                var w = wobble * Math.sin(turn + k * 0.9)
                return [p[0] * (1 + w), p[1] * (1 - w)]
            }
            ctx.beginPath()
            var first = at(0)
            ctx.moveTo(first[0], first[1])
            for (var k = 0; k < points.length; ++k) {
                var next = (k + 1) % points.length
                var from = at(k)
                var to = at(next)
                ctx.bezierCurveTo(from[0] + points[k].o[0], from[1] + points[k].o[1],
                                  to[0] + points[next].i[0], to[1] + points[next].i[1],
                                  to[0], to[1])
            }
            ctx.closePath()
        }

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            ctx.clearRect(0, 0, width, height)
            var side = Math.min(width, height)
            if (side <= 0)
                return
            var base = root.connected ? [250, 148, 16] : [159, 174, 191]
            var deep = root.connected ? [244, 109, 20] : [124, 141, 160]
            var shadow = root.connected ? Qt.rgba(1, 0.55, 0.1, 0.8) : Qt.rgba(0.45, 0.5, 0.56, 0.8)
            var turn = root.phase * Math.PI * 2

            ctx.save()
            ctx.translate(width / 2, height / 2)
            ctx.scale(side / 220, side / 220)

            for (var e = 0; e < root.echoes.length; ++e) {
                var echo = root.echoes[e]
                ctx.save()
                ctx.rotate(echo.offset + echo.rate * Math.sin(turn))
                ctx.scale(echo.scale, echo.scale)
                ctx.globalAlpha = echo.opacity
                ctx.shadowBlur = echo.blur
                ctx.shadowColor = shadow
                ctx.fillStyle = Qt.rgba(base[0] / 255, base[1] / 255, base[2] / 255, 1)
                traceShield(ctx, 0.035)
                ctx.fill()
                ctx.restore()
            }

            var breathing = 0.95 + 0.025 * Math.sin(turn)
            ctx.save()
            ctx.scale(breathing, breathing)
            ctx.shadowBlur = 18
            ctx.shadowColor = shadow
            var gradient = ctx.createLinearGradient(0, -64, 0, 62)
            gradient.addColorStop(0, Qt.rgba(base[0] / 255, base[1] / 255, base[2] / 255, 1))
            gradient.addColorStop(1, Qt.rgba(deep[0] / 255, deep[1] / 255, deep[2] / 255, 1))
            ctx.fillStyle = gradient
            traceShield(ctx, 0)
            ctx.fill()
            ctx.restore()

            ctx.restore()
        }
    }
}
