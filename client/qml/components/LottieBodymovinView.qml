import QtQuick
import "PloverLottieData.js" as PloverData

// Draws the subset of Bodymovin that the connect animations use: shape layers
// with groups of paths and solid fills, animated transforms and paths.
// It rests on its in-point frame; play() runs `loops` loops and returns there, so a
// window that shows it idles between plays. `playing` false holds it still.
Item {
    id: root

    property url animationSource: "qrc:/assets/plover_connect.json"
    property bool playing: true
    property var animationData: null
    property real frame: 0
    property int loops: 1
    // Loops left of the current play; the view draws nothing new while it is 0.
    property int loopsLeft: 0
    readonly property bool running: timer.running

    // Whole frames only: a tick that lands on the frame already drawn draws nothing.
    readonly property int shownFrame: Math.floor(frame)

    readonly property bool loaded: animationData !== null && animationData !== undefined
    readonly property real frameRate: numberOr(loaded ? animationData.fr : undefined, 25)
    readonly property real inPoint: numberOr(loaded ? animationData.ip : undefined, 0)
    readonly property real outPoint: numberOr(loaded ? animationData.op : undefined, 151)

    implicitWidth: 220
    implicitHeight: 220

    function numberOr(value, fallback) {
        return (typeof value === "number" && isFinite(value)) ? value : fallback
    }

    function loadAnimation() {
        animationData = PloverData.animationForSource(animationSource)
        frame = inPoint
        canvas.requestPaint()
    }

    function play() {
        if (!loaded)
            return
        if (loopsLeft === 0)
            frame = inPoint
        loopsLeft = Math.max(1, loops)
    }

    function stop() {
        loopsLeft = 0
        frame = inPoint
    }

    function advance() {
        if (!loaded || loopsLeft <= 0)
            return
        var next = frame + frameRate * 40 / 1000
        if (next >= outPoint) {
            loopsLeft = loopsLeft - 1
            next = loopsLeft > 0 ? inPoint + ((next - outPoint) % Math.max(1, outPoint - inPoint)) : inPoint
        }
        frame = next
    }

    // --- keyframe evaluation

    function handleValue(handle, axis, fallback) {
        if (!handle)
            return fallback
        var value = handle[axis]
        if (Array.isArray(value))
            value = value.length > 0 ? value[0] : undefined
        return numberOr(value, fallback)
    }

    function bezierCoordinate(t, p1, p2) {
        var u = 1 - t
        return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t
    }

    function bezierSlope(t, p1, p2) {
        var u = 1 - t
        return 3 * u * u * p1 + 6 * u * t * (p2 - p1) + 3 * t * t * (1 - p2)
    }

    // The easing curve runs from (0,0) to (1,1) through the two handles; solve
    // x(t) = progress first by Newton steps, then tighten by bisection.
    function easedProgress(progress, x1, y1, x2, y2) {
        if (progress <= 0 || progress >= 1)
            return progress
        var t = progress
        for (var n = 0; n < 5; ++n) {
            var slope = bezierSlope(t, x1, x2)
            if (Math.abs(slope) < 0.0001)
                break
            t -= (bezierCoordinate(t, x1, x2) - progress) / slope
        }
        t = Math.min(1, Math.max(0, t))
        var low = 0
        var high = 1
        for (var step = 0; step < 6; ++step) {
            var x = bezierCoordinate(t, x1, x2)
            if (Math.abs(x - progress) < 0.0005)
                break
            if (x < progress)
                low = t
            else
                high = t
            t = (low + high) / 2
        }
        return bezierCoordinate(t, y1, y2)
    }

    function isShapeValue(value) {
        return value !== null && typeof value === "object" && !Array.isArray(value) && Array.isArray(value.v)
    }

    function unwrapValue(value) {
        // Keyframe values of paths come wrapped in a one-element array.
        if (Array.isArray(value) && value.length === 1 && isShapeValue(value[0]))
            return value[0]
        return value
    }

    function mixPoints(a, b, p) {
        var out = []
        for (var i = 0; i < a.length; ++i)
            out.push(interpolate(a[i], b[i], p))
        return out
    }

    function interpolate(a, b, p) {
        if (typeof a === "number" && typeof b === "number")
            return a + (b - a) * p
        if (Array.isArray(a) && Array.isArray(b)) {
            var out = []
            for (var i = 0; i < a.length; ++i)
                out.push(i < b.length ? interpolate(a[i], b[i], p) : a[i])
            return out
        }
        if (isShapeValue(a) && isShapeValue(b) && a.v.length === b.v.length) {
            return {
                "v": mixPoints(a.v, b.v, p),
                "i": mixPoints(a.i || [], b.i || [], p),
                "o": mixPoints(a.o || [], b.o || [], p),
                "c": a.c
            }
        }
        return a
    }

    function isKeyframeList(list) {
        return Array.isArray(list) && list.length > 0 && list[0] !== null && typeof list[0] === "object"
                && typeof list[0].t === "number"
    }

    function valueAt(property, atFrame) {
        if (property === undefined || property === null)
            return undefined
        if (typeof property !== "object" || Array.isArray(property))
            return property
        var keys = property.k
        if (!isKeyframeList(keys))
            return keys
        if (atFrame <= keys[0].t || keys.length === 1)
            return unwrapValue(keys[0].s)
        for (var i = 0; i + 1 < keys.length; ++i) {
            var current = keys[i]
            var next = keys[i + 1]
            if (atFrame >= next.t)
                continue
            var start = unwrapValue(current.s)
            var end = unwrapValue(current.e !== undefined ? current.e : next.s)
            if (end === undefined || current.h === 1)
                return start
            var linear = (atFrame - current.t) / Math.max(1, next.t - current.t)
            linear = Math.min(1, Math.max(0, linear))
            var inHandle = next.i !== undefined ? next.i : current.i
            var eased = easedProgress(linear,
                                      handleValue(current.o, "x", 0.167), handleValue(current.o, "y", 0.167),
                                      handleValue(inHandle, "x", 0.833), handleValue(inHandle, "y", 0.833))
            return interpolate(start, end, eased)
        }
        var last = keys[keys.length - 1]
        if (last.s !== undefined)
            return unwrapValue(last.s)
        var previous = keys.length > 1 ? keys[keys.length - 2] : last
        return unwrapValue(previous.e !== undefined ? previous.e : previous.s)
    }

    function component(value, index, fallback) {
        if (typeof value === "number")
            return index === 0 ? value : fallback
        if (Array.isArray(value) && index < value.length)
            return numberOr(value[index], fallback)
        return fallback
    }

    // --- painting

    function applyTransform(ctx, transform, atFrame) {
        if (!transform)
            return 1
        var position = valueAt(transform.p, atFrame)
        var anchor = valueAt(transform.a, atFrame)
        var scale = valueAt(transform.s, atFrame)
        var rotation = valueAt(transform.r !== undefined ? transform.r : transform.rz, atFrame)
        var opacity = valueAt(transform.o, atFrame)
        ctx.translate(component(position, 0, 0), component(position, 1, 0))
        var degrees = component(rotation, 0, 0)
        if (degrees !== 0)
            ctx.rotate(degrees * Math.PI / 180)
        ctx.scale(component(scale, 0, 100) / 100, component(scale, 1, 100) / 100)
        ctx.translate(-component(anchor, 0, 0), -component(anchor, 1, 0))
        return component(opacity, 0, 100) / 100
    }

    function tracePath(ctx, shape) {
        if (!isShapeValue(shape) || shape.v.length === 0)
            return false
        var v = shape.v
        var ins = shape.i || []
        var outs = shape.o || []
        function tangent(list, k, axis) {
            return (list[k] && typeof list[k][axis] === "number") ? list[k][axis] : 0
        }
        function segment(from, to) {
            ctx.bezierCurveTo(v[from][0] + tangent(outs, from, 0), v[from][1] + tangent(outs, from, 1),
                              v[to][0] + tangent(ins, to, 0), v[to][1] + tangent(ins, to, 1),
                              v[to][0], v[to][1])
        }
        ctx.beginPath()
        ctx.moveTo(v[0][0], v[0][1])
        for (var k = 0; k + 1 < v.length; ++k)
            segment(k, k + 1)
        if (shape.c) {
            segment(v.length - 1, 0)
            ctx.closePath()
        }
        return true
    }

    function drawGroup(ctx, group, inheritedOpacity, atFrame) {
        var items = Array.isArray(group.it) ? group.it : []
        var transform = null
        for (var n = 0; n < items.length; ++n) {
            if (items[n] && items[n].ty === "tr") {
                transform = items[n]
                break
            }
        }
        ctx.save()
        var opacity = inheritedOpacity * applyTransform(ctx, transform, atFrame)
        var hasPath = false
        for (var i = 0; i < items.length; ++i) {
            var item = items[i]
            if (!item || item.hd === true)
                continue
            if (item.ty === "sh") {
                hasPath = tracePath(ctx, valueAt(item.ks, atFrame))
            } else if (item.ty === "fl" && hasPath) {
                var colour = valueAt(item.c, atFrame)
                var fillOpacity = component(valueAt(item.o, atFrame), 0, 100) / 100
                ctx.globalAlpha = Math.max(0, Math.min(1, opacity * fillOpacity))
                ctx.fillStyle = Qt.rgba(component(colour, 0, 0.98), component(colour, 1, 0.58),
                                        component(colour, 2, 0.04), component(colour, 3, 1))
                ctx.fill()
            } else if (item.ty === "gr") {
                drawGroup(ctx, item, opacity, atFrame)
            }
        }
        ctx.restore()
    }

    function drawLayer(ctx, layer, atFrame) {
        if (!layer || layer.ty !== 4 || layer.hd === true)
            return
        ctx.save()
        var opacity = applyTransform(ctx, layer.ks, atFrame)
        var shapes = Array.isArray(layer.shapes) ? layer.shapes : []
        // Like the layer list, the first shape is the top-most one.
        for (var i = shapes.length - 1; i >= 0; --i) {
            var shape = shapes[i]
            if (shape && shape.ty === "gr" && shape.hd !== true)
                drawGroup(ctx, shape, opacity, atFrame)
        }
        ctx.restore()
    }

    onAnimationSourceChanged: loadAnimation()
    Component.onCompleted: loadAnimation()
    onShownFrameChanged: canvas.requestPaint()
    // Held still (or hidden), it shows its still frame.
    onPlayingChanged: if (!playing) stop()
    onVisibleChanged: if (!visible) stop()

    Timer {
        id: timer
        interval: 40
        repeat: true
        running: root.playing && root.visible && root.loaded && root.loopsLeft > 0
        onTriggered: root.advance()
    }

    Canvas {
        id: canvas
        anchors.fill: parent
        antialiasing: true
        renderStrategy: Canvas.Cooperative

        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var key = root.shownFrame
            ctx.clearRect(0, 0, width, height)
            var doc = root.animationData
            if (!doc)
                return
            var docWidth = root.numberOr(doc.w, 220)
            var docHeight = root.numberOr(doc.h, 220)
            if (docWidth <= 0 || docHeight <= 0)
                return
            var scale = Math.min(width / docWidth, height / docHeight)
            ctx.save()
            ctx.translate((width - docWidth * scale) / 2, (height - docHeight * scale) / 2)
            ctx.scale(scale, scale)
            var layers = Array.isArray(doc.layers) ? doc.layers : []
            for (var i = layers.length - 1; i >= 0; --i)
                root.drawLayer(ctx, layers[i], key)
            ctx.restore()
        }
    }
}
