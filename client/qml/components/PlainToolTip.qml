import QtQuick
import QtQuick.Controls

// A tooltip that never reads its text as markup: what it shows may come from
// the server (a node name, a message), and rich text could pull in images or
// links from anywhere.
ToolTip {
    id: tip
    contentItem: Text {
        objectName: "plainToolTipText"
        text: tip.text
        textFormat: Text.PlainText
        font: tip.font
        wrapMode: Text.Wrap
        color: tip.palette.toolTipText
    }
}
