import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: window
    width: 1240
    height: 780
    visible: true
    title: t("岚舟")

    function t(key) {
        if (typeof appController === "undefined" || !appController)
            return key
        var language = appController.language
        return appController.trText(key)
    }
}
