import QtQuick
import Quillet.Render
import "PloverLottieData.js" as PloverData

// Shows the connect animations, a subset of Bodymovin: shape layers with groups
// of paths and solid fills, animated transforms and paths. The frames are painted
// in C++ (BodymovinItem) only when the whole frame changes and kept in a cache.
// It rests on its in-point frame; play() runs `loops` loops and returns there, so a
// window that shows it idles between plays. `playing` false holds it still.
Item {
    id: root

    property url animationSource: "qrc:/assets/plover_connect.json"
    property bool playing: true
    // The document as the data library has it; the drawing reads the same asset file.
    readonly property var animationData: PloverData.animationForSource(animationSource)
    property real frame: 0
    property int loops: 1
    // Loops left of the current play; the view draws nothing new while it is 0.
    property int loopsLeft: 0
    readonly property bool running: timer.running

    readonly property bool loaded: renderer.loaded
    readonly property real frameRate: renderer.frameRate
    readonly property real inPoint: renderer.inPoint
    readonly property real outPoint: renderer.outPoint

    implicitWidth: 220
    implicitHeight: 220

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

    // Held still (or hidden), it shows its still frame.
    onPlayingChanged: if (!playing) stop()
    onVisibleChanged: if (!visible) stop()
    // At rest only the still frame's pixels stay.
    onLoopsLeftChanged: if (loopsLeft === 0) renderer.releaseFrames()

    Timer {
        id: timer
        interval: 40
        repeat: true
        running: root.playing && root.visible && root.loaded && root.loopsLeft > 0
        onTriggered: root.advance()
    }

    BodymovinItem {
        id: renderer
        anchors.fill: parent
        // A source that names neither asset shows the connect animation.
        source: root.animationData === PloverData.disconnectAnimation ? "qrc:/assets/plover_disconnect.json"
                                                                      : "qrc:/assets/plover_connect.json"
        frame: root.frame
        onSourceChanged: root.frame = renderer.inPoint
    }
}
