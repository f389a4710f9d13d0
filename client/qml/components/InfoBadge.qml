import QtQuick
import QtQuick.Controls

// A small rounded tag in the soft coral tone, sized to its text.
Rectangle {
    id: root

    property string label: ""

    implicitHeight: 28
    implicitWidth: labelText.implicitWidth + 18
    radius: 12
    color: "#493735"
    border.color: "#64433f"
    border.width: 1

    Label {
        id: labelText
        anchors.centerIn: parent
        textFormat: Text.PlainText
        text: root.label
        color: "#f08a82"
        font.pixelSize: 12
        font.weight: Font.DemiBold
    }
}
