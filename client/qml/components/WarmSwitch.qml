import QtQuick
import QtQuick.Controls

// A switch in the coral tone with a sliding knob.
Switch {
    id: control

    hoverEnabled: true
    spacing: 10
    padding: 0

    indicator: Rectangle {
        implicitWidth: 42
        implicitHeight: 24
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 12
        color: control.checked ? "#f7685f" : "#34393a"
        border.width: 1
        border.color: control.checked ? "#f7685f" : "#4a5051"
        opacity: control.enabled ? 1 : 0.5

        Behavior on color {
            ColorAnimation { duration: 140 }
        }

        Rectangle {
            width: 18
            height: 18
            radius: 9
            y: 3
            x: control.checked ? parent.width - width - 3 : 3
            color: "#f4f4f1"

            Behavior on x {
                NumberAnimation { duration: 140; easing.type: Easing.OutCubic }
            }
        }
    }

    contentItem: Label {
        leftPadding: control.text.length > 0 ? control.indicator.width + control.spacing : control.indicator.width
        verticalAlignment: Text.AlignVCenter
        text: control.text
        color: "#f4f4f1"
        font.pixelSize: 14
    }
}
