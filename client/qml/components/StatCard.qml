import QtQuick
import QtQuick.Controls

// A card for one figure. With diagnosticUploadEnabled, three quick clicks ask
// for the diagnostic log upload.
Rectangle {
    id: root

    property string title: ""
    property string value: ""
    property string caption: ""
    property bool diagnosticUploadEnabled: false

    signal diagnosticUploadRequested()

    property int tapCount: 0
    property double lastTapAt: 0

    function registerTap() {
        var now = Date.now()
        if (now - lastTapAt > 1200)
            tapCount = 0
        lastTapAt = now
        tapCount += 1
        if (tapCount >= 3) {
            tapCount = 0
            diagnosticUploadRequested()
        }
    }

    implicitWidth: 220
    implicitHeight: 112
    radius: 20
    color: "#242829"
    border.color: "#3b4142"
    border.width: 1

    Column {
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        anchors.topMargin: 16
        anchors.bottomMargin: 14
        spacing: 6

        Label {
            width: parent.width
            textFormat: Text.PlainText
            text: root.title
            color: "#b5bab9"
            font.pixelSize: 13
            elide: Text.ElideRight
        }

        Label {
            width: parent.width
            height: 32
            textFormat: Text.PlainText
            text: root.value
            color: "#f4f4f1"
            font.bold: true
            font.pixelSize: root.value.length > 18 ? 16 : (root.value.length > 12 ? 20 : 26)
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 12
            maximumLineCount: 1
            verticalAlignment: Text.AlignVCenter
        }

        Label {
            width: parent.width
            visible: root.caption.length > 0
            textFormat: Text.PlainText
            text: root.caption
            color: "#8c9291"
            font.pixelSize: 12
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
    }

    MouseArea {
        anchors.fill: parent
        enabled: root.diagnosticUploadEnabled
        onClicked: root.registerTap()
    }
}
