import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Navigation entry of the sidebar. The optional icon and badge sit beside the text.
Button {
    id: control

    property bool active: false
    property color activeColor: "#34393a"
    property string iconName: ""
    property int badgeCount: 0

    readonly property color contentColor: active ? "#f7685f" : "#b5bab9"

    hoverEnabled: true
    implicitHeight: 44
    leftPadding: 14
    rightPadding: 12
    topPadding: 0
    bottomPadding: 0
    font.pixelSize: 15
    font.weight: Font.DemiBold

    background: Rectangle {
        radius: 14
        color: control.active ? control.activeColor : "transparent"
        border.width: control.hovered ? 1 : 0
        border.color: control.active ? "#f7685f" : "#3b4142"
        opacity: control.down ? 0.85 : 1
    }

    contentItem: RowLayout {
        spacing: 12

        LineIcon {
            visible: control.iconName.length > 0
            name: control.iconName
            iconColor: control.contentColor
            Layout.preferredWidth: 18
            Layout.preferredHeight: 18
        }

        Label {
            Layout.fillWidth: true
            textFormat: Text.PlainText
            text: control.text
            font: control.font
            color: control.contentColor
            elide: Text.ElideRight
        }

        Rectangle {
            visible: control.badgeCount > 0
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            radius: 10
            color: "#f7685f"

            Label {
                anchors.centerIn: parent
                textFormat: Text.PlainText
                text: Math.min(control.badgeCount, 9)
                color: "#ffffff"
                font.pixelSize: 11
                font.weight: Font.Bold
            }
        }
    }
}
