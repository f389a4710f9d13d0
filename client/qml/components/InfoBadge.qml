import QtQuick
import QtQuick.Controls

// A small rounded tag, sized to its text: coral by default, or in the tone of a state
// ("success", "warning", "muted") so that different states never share a colour.
Rectangle {
    id: root

    property string label: ""
    property string tone: ""

    implicitHeight: 28
    implicitWidth: labelText.implicitWidth + 18
    radius: 12
    color: tone === "success" ? "#21372a" : (tone === "warning" ? "#3d3220" : (tone === "muted" ? "#2e3233" : "#493735"))
    border.color: tone === "success" ? "#2f5a3e" : (tone === "warning" ? "#6a5328" : (tone === "muted" ? "#454b4c" : "#64433f"))
    border.width: 1

    Label {
        id: labelText
        anchors.centerIn: parent
        textFormat: Text.PlainText
        text: root.label
        color: root.tone === "success" ? "#62d38a" : (root.tone === "warning" ? "#ffc46b" : (root.tone === "muted" ? "#b5bab9" : "#f08a82"))
        font.pixelSize: 12
        font.weight: Font.DemiBold
    }
}
