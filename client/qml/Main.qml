import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import "components"

ApplicationWindow {
    id: window

    width: 1240
    height: 780
    minimumWidth: 1040
    minimumHeight: 680
    visible: true
    title: t("岚舟")
    color: "#111314"
    flags: Qt.Window | Qt.FramelessWindowHint

    readonly property bool isMac: Qt.platform.os === "osx" || Qt.platform.os === "macos"
    readonly property bool isWindows: Qt.platform.os === "windows"

    // Segoe UI has no CJK glyphs on Linux, so use a family that does.
    font.family: isMac ? ".AppleSystemUIFont" : (isWindows ? "Segoe UI" : "Noto Sans CJK SC")
    font.pixelSize: 14

    // --- theme
    readonly property color accentColor: "#f7685f"
    readonly property color accentSoftColor: "#493735"
    readonly property color canvasColor: "#171a1b"
    readonly property color sidebarColor: "#191c1d"
    readonly property color surfaceColor: "#242829"
    readonly property color elevatedColor: "#2b3031"
    readonly property color dividerColor: "#3b4142"
    readonly property color primaryTextColor: "#f4f4f1"
    readonly property color secondaryTextColor: "#b5bab9"
    readonly property color tertiaryTextColor: "#a8adab"
    readonly property color successColor: "#62d38a"

    palette.window: canvasColor
    palette.windowText: primaryTextColor
    palette.base: elevatedColor
    palette.alternateBase: surfaceColor
    palette.text: primaryTextColor
    palette.button: elevatedColor
    palette.buttonText: primaryTextColor
    palette.placeholderText: tertiaryTextColor
    palette.highlight: accentColor
    palette.highlightedText: "#ffffff"
    palette.mid: dividerColor

    // --- view state
    property string statsTab: "traffic"
    property string profileTab: "home"
    property string settingsTab: "account"
    property string accountTab: "overview"
    property string netTab: "routing"
    property string authMode: "login"
    property string authLoginMethod: "password"
    property string authRegisterStage: "form"
    property string authForgotStage: "verify"
    property string authEmail: ""
    property string authPassword: ""
    property string authPasswordConfirm: ""
    property string authCode: ""
    property string authInviteCode: ""
    property bool authAgreementAccepted: true
    property int authCodeCooldownRemaining: 0
    property int authCodeCooldownSeconds: 60
    property string planBillingCycle: "yearly"
    property int selectedPlanIndex: 1
    property string serverSearchQuery: ""
    property string serverSortMode: "latency"
    property var expandedCountries: ({})
    property var pageScrollOffsets: ({})
    property bool closeDialogVisible: false
    property bool closeConfirmed: false
    property string dismissedTrialPromptDate: ""
    property var supportComposerAttachments: []

    // The page whose component the content loader currently shows.
    property string shownPage: ""

    readonly property bool hasController: typeof appController !== "undefined" && appController !== null
    readonly property string topPage: {
        if (!hasController)
            return "connect"
        var page = appController.currentPage
        return page === "dashboard" ? "connect" : page
    }
    readonly property string currentKind: pageKind(topPage)
    readonly property bool showSidebar: currentKind !== "auth"

    readonly property var primaryNavigation: [
        { "label": "主页", "page": "connect", "icon": "home" },
        { "label": "节点", "page": "servers", "icon": "globe" },
        { "label": "充值", "page": "plans", "icon": "card" },
        { "label": "在线客服", "page": "supportChat", "icon": "user" }
    ]
    readonly property var toolNavigation: []
    readonly property var profileNavigation: [
        { "label": "消息中心", "page": "messages", "icon": "bell" },
        { "label": "邀请有礼", "page": "invite", "icon": "gift" },
        { "label": "账单记录", "page": "billing", "icon": "chart" },
        { "label": "设备管理", "page": "devices", "icon": "list" },
        { "label": "设置", "page": "settings", "icon": "gear" }
    ]
    readonly property var pageTitles: ({
        "connect": "主页",
        "servers": "节点",
        "speedtest": "网速测试",
        "plans": "充值",
        "stats": "流量统计",
        "settings": "设置",
        "billing": "账单记录",
        "devices": "设备管理",
        "supportChat": "在线客服",
        "messages": "消息中心",
        "invite": "邀请有礼"
    })
    readonly property var settingsTabs: [
        { "key": "account", "label": "账户与登录" },
        { "key": "routing", "label": "加速模式" },
        { "key": "language", "label": "语言" },
        { "key": "about", "label": "关于" }
    ]

    readonly property string accountName: {
        if (!hasController || !appController.loggedIn)
            return t("访客用户")
        var email = appController.authEmail || ""
        var at = email.indexOf("@")
        var name = at >= 0 ? email.substring(0, at) : email
        return name.length > 0 ? name : t("访客用户")
    }
    readonly property string accountSubtitle: {
        if (!hasController || !appController.loggedIn)
            return t("未登录")
        var plan = appController.currentPlanName || ""
        return plan.length > 0 ? t(plan) : t("未购买套餐")
    }
    readonly property int unreadMessageCount: {
        if (!hasController)
            return 0
        var experience = appController.experience
        var section = experience ? experience["messages"] : undefined
        if (!section)
            return 0
        var items = section["items"]
        if (items && items.length > 0) {
            var unread = 0
            for (var i = 0; i < items.length; ++i) {
                var item = items[i]
                if (item && item["read"] !== true && String(item["read"]) !== "true")
                    unread += 1
            }
            return unread
        }
        var counted = Number(section["unread_count"] !== undefined ? section["unread_count"] : section["unreadCount"])
        return isFinite(counted) && counted > 0 ? Math.floor(counted) : 0
    }

    function t(key) {
        if (typeof appController === "undefined" || !appController)
            return key
        var language = appController.language
        return appController.trText(key)
    }

    function pageKind(page) {
        switch (page) {
        case "connect":
        case "dashboard":
            return "connect"
        case "servers":
        case "speedtest":
        case "plans":
        case "stats":
        case "billing":
        case "devices":
        case "supportChat":
        case "messages":
        case "invite":
            return page
        case "profile":
        case "settings":
            return "settings"
        default:
            return "auth"
        }
    }

    function componentFor(kind) {
        switch (kind) {
        case "connect": return connectPageComponent
        case "servers": return serversPageComponent
        case "speedtest": return speedTestPageComponent
        case "plans": return plansPageComponent
        case "stats": return statsPageComponent
        case "settings": return settingsPageComponent
        case "billing": return billingPageComponent
        case "devices": return devicesPageComponent
        case "supportChat": return supportPageComponent
        case "messages": return messagesPageComponent
        case "invite": return invitePageComponent
        default: return authPageComponent
        }
    }

    function navigateTo(page) {
        profileMenu.close()
        if (page === "profile" || page === "settings") {
            settingsTab = "account"
            accountTab = "overview"
        }
        if (!hasController)
            return
        if (page === "supportChat")
            appController.refreshSupportChat()
        appController.navigate(page)
    }

    function toggleMaximize() {
        if (window.visibility === Window.Maximized)
            window.showNormal()
        else
            window.showMaximized()
    }

    // Remembers where the old page was scrolled before the loader swaps it out.
    function showPage(page) {
        var item = pageLoader.item
        if (shownPage.length > 0 && item && item.contentY !== undefined) {
            var offsets = pageScrollOffsets
            offsets[pageKind(shownPage)] = item.contentY
            pageScrollOffsets = offsets
        }
        shownPage = page
    }

    function restoreScroll() {
        var item = pageLoader.item
        if (!item || item.contentY === undefined)
            return
        var saved = pageScrollOffsets[pageKind(shownPage)]
        if (saved === undefined)
            return
        item.contentY = Math.max(0, Math.min(saved, item.contentHeight - item.height))
    }

    function confirmClose() {
        closeDialogVisible = false
        window.hide()
    }

    onTopPageChanged: {
        profileMenu.close()
        showPage(topPage)
    }

    onClosing: function(close) {
        if (!closeConfirmed) {
            close.accepted = false
            closeDialogVisible = true
            return
        }
        closeConfirmed = false
    }

    Component.onCompleted: {
        showPage(topPage)
        if (hasController && appController.toastMessage.length > 0)
            toastTimer.restart()
    }

    Shortcut {
        sequence: window.isMac ? "Meta+W" : "Ctrl+W"
        onActivated: window.closeDialogVisible = true
    }

    Shortcut {
        sequence: "Escape"
        enabled: window.closeDialogVisible
        onActivated: window.closeDialogVisible = false
    }

    // --- building blocks

    component PageHeading: Label {
        color: window.primaryTextColor
        font.pixelSize: 28
        font.weight: Font.Bold
    }

    component SectionLabel: Label {
        color: window.tertiaryTextColor
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.letterSpacing: 1
        leftPadding: 6
    }

    // A page is a vertical flickable; the loader reads and restores its contentY.
    component PageFlickable: Flickable {
        id: pageFlickable
        default property alias pageContent: pageColumn.data
        clip: true
        contentWidth: width
        contentHeight: Math.max(height, pageColumn.implicitHeight + 72)
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        ColumnLayout {
            id: pageColumn
            x: 40
            y: 32
            width: pageFlickable.width - 80
            spacing: 24
        }
    }

    component PlaceholderPage: PageFlickable {
        property string pageKey: ""

        PageHeading {
            text: window.t(window.pageTitles[pageKey] || "")
        }
    }

    component ActionButton: Button {
        id: actionButton
        property bool primary: false
        hoverEnabled: true
        implicitHeight: 42
        leftPadding: 22
        rightPadding: 22
        font.pixelSize: 14
        font.weight: Font.DemiBold

        background: Rectangle {
            radius: 13
            color: actionButton.primary
                   ? (actionButton.down ? "#e0554c" : (actionButton.hovered ? "#ff7a70" : window.accentColor))
                   : (actionButton.down ? "#3a4041" : (actionButton.hovered ? "#343a3b" : window.elevatedColor))
            border.width: actionButton.primary ? 0 : 1
            border.color: window.dividerColor
        }

        contentItem: Label {
            text: actionButton.text
            font: actionButton.font
            color: actionButton.primary ? "#ffffff" : window.primaryTextColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    // A dimmed full-window layer with a centred card; actions go in the button row.
    component ModalLayer: Rectangle {
        id: modal
        property string heading: ""
        property string message: ""
        property string detail: ""
        default property alias actions: actionRow.data

        anchors.fill: parent
        color: Qt.rgba(0.03, 0.04, 0.04, 0.62)
        opacity: visible ? 1 : 0

        Behavior on opacity {
            NumberAnimation { duration: 160 }
        }

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            acceptedButtons: Qt.AllButtons
            onWheel: function(wheel) { wheel.accepted = true }
        }

        Rectangle {
            anchors.centerIn: parent
            width: 460
            height: modalColumn.implicitHeight + 56
            radius: 24
            color: window.surfaceColor
            border.color: window.dividerColor
            border.width: 1

            ColumnLayout {
                id: modalColumn
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: 28
                spacing: 12

                Label {
                    Layout.fillWidth: true
                    text: modal.heading
                    color: window.primaryTextColor
                    font.pixelSize: 20
                    font.weight: Font.Bold
                    wrapMode: Text.Wrap
                }

                Label {
                    Layout.fillWidth: true
                    visible: text.length > 0
                    text: modal.message
                    color: window.primaryTextColor
                    font.pixelSize: 14
                    lineHeight: 1.25
                    wrapMode: Text.Wrap
                }

                Label {
                    Layout.fillWidth: true
                    visible: text.length > 0
                    text: modal.detail
                    color: window.secondaryTextColor
                    font.pixelSize: 13
                    lineHeight: 1.3
                    wrapMode: Text.Wrap
                }

                RowLayout {
                    id: actionRow
                    Layout.alignment: Qt.AlignRight
                    Layout.topMargin: 14
                    spacing: 10
                }
            }
        }
    }

    component WindowButton: Rectangle {
        id: windowButton
        property string kind: "minimize"
        signal activated()

        width: 46
        height: 46
        color: buttonArea.pressed ? (kind === "close" ? "#c63d42" : "#303637")
                                  : (buttonArea.containsMouse ? (kind === "close" ? "#e5484d" : "#2b3031") : "transparent")

        Rectangle {
            visible: windowButton.kind === "minimize"
            anchors.centerIn: parent
            width: 11
            height: 1.2
            color: window.secondaryTextColor
        }

        Rectangle {
            visible: windowButton.kind === "maximize"
            anchors.centerIn: parent
            width: 10
            height: 10
            radius: 1.5
            color: "transparent"
            border.width: 1.2
            border.color: window.secondaryTextColor
        }

        Repeater {
            model: windowButton.kind === "close" ? 2 : 0
            Rectangle {
                anchors.centerIn: parent
                width: 13
                height: 1.2
                rotation: index === 0 ? 45 : -45
                antialiasing: true
                color: buttonArea.containsMouse ? "#ffffff" : window.secondaryTextColor
            }
        }

        MouseArea {
            id: buttonArea
            anchors.fill: parent
            hoverEnabled: true
            onClicked: windowButton.activated()
        }
    }

    component TrafficLight: Rectangle {
        id: light
        signal activated()
        width: 12
        height: 12
        radius: 6
        border.width: 1
        border.color: Qt.darker(color, 1.25)

        MouseArea {
            anchors.fill: parent
            anchors.margins: -3
            onClicked: light.activated()
        }
    }

    // The connect button: the vector animation shows what a press will do.
    component PowerButton: Item {
        id: power
        readonly property string phase: window.hasController ? appController.vpnPhase : "disconnected"
        readonly property bool busy: phase === "connecting" || phase === "verifying"
        readonly property bool transitioning: busy || phase === "disconnecting"
        readonly property bool stable: phase === "connected"
        readonly property bool active: stable || transitioning
        readonly property url animationSource: stable ? "qrc:/assets/plover_disconnect.json"
                                                      : "qrc:/assets/plover_connect.json"

        implicitWidth: 340
        implicitHeight: 340

        // Restart the loops so a phase change takes the new tempo at once.
        onTransitioningChanged: {
            pulseAnimation.restart()
            if (!transitioning)
                orbit.rotation = 0
        }

        Rectangle {
            id: idleGlow
            anchors.centerIn: parent
            width: 290
            height: 290
            radius: width / 2
            color: window.accentColor
            opacity: 0
            visible: !power.active

            SequentialAnimation on opacity {
                loops: Animation.Infinite
                running: power.visible && !power.active
                NumberAnimation { from: 0.02; to: 0.07; duration: 1600; easing.type: Easing.InOutSine }
                NumberAnimation { from: 0.07; to: 0.02; duration: 1600; easing.type: Easing.InOutSine }
            }
        }

        Rectangle {
            id: pulseRing
            anchors.centerIn: parent
            width: 330
            height: 330
            radius: width / 2
            color: "transparent"
            border.width: 1
            border.color: power.stable ? window.successColor : window.accentColor
            opacity: 0.08

            SequentialAnimation {
                id: pulseAnimation
                loops: Animation.Infinite
                running: power.visible
                NumberAnimation { target: pulseRing; property: "opacity"; from: 0.08; to: 0.32; duration: power.transitioning ? 460 : 1300; easing.type: Easing.InOutSine }
                NumberAnimation { target: pulseRing; property: "opacity"; from: 0.32; to: 0.08; duration: power.transitioning ? 460 : 1300; easing.type: Easing.InOutSine }
            }
        }

        Rectangle {
            id: orbit
            anchors.centerIn: parent
            width: 300
            height: 300
            radius: width / 2
            color: "transparent"
            border.width: 2
            border.color: power.stable ? "#2d4a37" : (power.active ? window.accentSoftColor : "#262b2c")

            Rectangle {
                width: 10
                height: 10
                radius: 5
                x: parent.width / 2 - width / 2
                y: -height / 2 + 1
                color: power.stable ? window.successColor : window.accentColor
                visible: power.active
            }

            RotationAnimation on rotation {
                loops: Animation.Infinite
                running: power.visible && power.transitioning
                from: 0
                to: 360
                duration: 780
            }
        }

        Rectangle {
            id: disc
            anchors.centerIn: parent
            width: 264
            height: 264
            radius: width / 2
            color: window.surfaceColor
            border.width: 1
            border.color: discArea.containsMouse ? "#4a5051" : window.dividerColor

            Loader {
                id: animationLoader
                anchors.centerIn: parent
                width: 220
                height: 220
                source: "qrc:/qml/components/LottieBodymovinView.qml"
            }

            Binding {
                target: animationLoader.item
                property: "animationSource"
                value: power.animationSource
                when: animationLoader.status === Loader.Ready
            }

            Loader {
                anchors.centerIn: parent
                width: 220
                height: 220
                active: animationLoader.status !== Loader.Ready
                source: "qrc:/qml/components/PloverShieldFallback.qml"
                onLoaded: item.connected = Qt.binding(function() { return power.stable })
            }

            MouseArea {
                id: discArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    clickPulse.restart()
                    if (window.hasController)
                        appController.requestDashboardConnectionToggle()
                }
            }

            SequentialAnimation {
                id: clickPulse
                NumberAnimation { target: disc; property: "scale"; to: 0.94; duration: 180; easing.type: Easing.OutQuad }
                NumberAnimation { target: disc; property: "scale"; to: 1.0; duration: 340; easing.type: Easing.OutBack }
            }
        }
    }

    component MenuEntry: Rectangle {
        id: entry
        property string label: ""
        property string iconName: ""
        property bool current: false
        property int badgeCount: 0
        signal activated()

        implicitHeight: 42
        radius: 12
        color: entryArea.containsMouse ? window.elevatedColor : (current ? "#2c3132" : "transparent")

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            spacing: 12

            LineIcon {
                name: entry.iconName
                iconColor: entry.current ? window.accentColor : window.secondaryTextColor
                Layout.preferredWidth: 17
                Layout.preferredHeight: 17
            }

            Label {
                Layout.fillWidth: true
                text: entry.label
                color: entry.current ? window.accentColor : window.primaryTextColor
                font.pixelSize: 14
                elide: Text.ElideRight
            }

            Rectangle {
                visible: entry.badgeCount > 0
                Layout.preferredWidth: 20
                Layout.preferredHeight: 20
                radius: 10
                color: window.accentColor

                Label {
                    anchors.centerIn: parent
                    text: Math.min(entry.badgeCount, 9)
                    color: "#ffffff"
                    font.pixelSize: 11
                    font.weight: Font.Bold
                }
            }
        }

        MouseArea {
            id: entryArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: entry.activated()
        }
    }

    // --- title bar

    Rectangle {
        id: titleBar
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 46
        color: window.sidebarColor
        z: 5

        MouseArea {
            anchors.fill: parent
            anchors.rightMargin: window.isMac ? 0 : 138
            acceptedButtons: Qt.LeftButton
            onPressed: window.startSystemMove()
            onDoubleClicked: window.toggleMaximize()
        }

        Row {
            visible: window.isMac
            anchors.left: parent.left
            anchors.leftMargin: 18
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8

            TrafficLight {
                color: "#ff5f57"
                onActivated: window.close()
            }
            TrafficLight {
                color: "#febc2e"
                onActivated: window.showMinimized()
            }
            TrafficLight {
                color: "#28c840"
                onActivated: window.toggleMaximize()
            }
        }

        Row {
            visible: !window.isMac
            anchors.right: parent.right
            anchors.top: parent.top

            WindowButton {
                kind: "minimize"
                onActivated: window.showMinimized()
            }
            WindowButton {
                kind: "maximize"
                onActivated: window.toggleMaximize()
            }
            WindowButton {
                kind: "close"
                onActivated: window.close()
            }
        }
    }

    // --- body: sidebar and content

    Rectangle {
        id: body
        color: window.sidebarColor
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: titleBar.bottom
        anchors.bottom: parent.bottom

        Rectangle {
            id: sidebar
            visible: window.showSidebar
            width: 248
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            color: window.sidebarColor

            ColumnLayout {
                anchors.fill: parent
                anchors.leftMargin: 18
                anchors.rightMargin: 18
                anchors.topMargin: 6
                anchors.bottomMargin: 20
                spacing: 6

                RowLayout {
                    Layout.fillWidth: true
                    Layout.leftMargin: 6
                    spacing: 12

                    Image {
                        source: "qrc:/assets/logo.png"
                        Layout.preferredWidth: 42
                        Layout.preferredHeight: 42
                        sourceSize.width: 84
                        sourceSize.height: 84
                        smooth: true
                        mipmap: true
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2

                        Label {
                            Layout.fillWidth: true
                            text: window.t("岚舟")
                            color: window.primaryTextColor
                            font.pixelSize: 20
                            font.weight: Font.Bold
                            elide: Text.ElideRight
                        }

                        Label {
                            Layout.fillWidth: true
                            text: window.t("一键启程 · 畅连世界")
                            color: window.secondaryTextColor
                            font.pixelSize: 12
                            wrapMode: Text.Wrap
                            maximumLineCount: 2
                            elide: Text.ElideRight
                        }
                    }
                }

                Item { Layout.preferredHeight: 26 }

                SectionLabel {
                    text: window.t("导航")
                    Layout.bottomMargin: 4
                }

                Repeater {
                    model: window.primaryNavigation

                    SidebarButton {
                        Layout.fillWidth: true
                        text: window.t(modelData.label)
                        iconName: modelData.icon
                        active: window.currentKind === modelData.page
                        onClicked: window.navigateTo(modelData.page)
                    }
                }

                SectionLabel {
                    visible: window.toolNavigation.length > 0
                    text: window.t("工具")
                    Layout.topMargin: 18
                    Layout.bottomMargin: 4
                }

                Repeater {
                    model: window.toolNavigation

                    SidebarButton {
                        Layout.fillWidth: true
                        text: window.t(modelData.label)
                        iconName: modelData.icon
                        active: window.currentKind === modelData.page
                        onClicked: window.navigateTo(modelData.page)
                    }
                }

                Item { Layout.fillHeight: true }

                Rectangle {
                    id: accountEntry
                    Layout.fillWidth: true
                    Layout.preferredHeight: 66
                    radius: 18
                    readonly property bool onProfilePage: {
                        for (var i = 0; i < window.profileNavigation.length; ++i) {
                            if (window.pageKind(window.profileNavigation[i].page) === window.currentKind)
                                return true
                        }
                        return false
                    }
                    color: accountArea.containsMouse || profileMenu.visible ? window.elevatedColor : window.surfaceColor
                    border.width: 1
                    border.color: onProfilePage || profileMenu.visible ? "#7a4a45" : window.dividerColor

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 12
                        anchors.rightMargin: 14
                        spacing: 12

                        Rectangle {
                            Layout.preferredWidth: 40
                            Layout.preferredHeight: 40
                            radius: 20
                            color: window.accentSoftColor
                            border.color: "#64433f"
                            border.width: 1

                            Label {
                                anchors.centerIn: parent
                                text: window.accountName.length > 0 ? window.accountName.charAt(0).toUpperCase() : ""
                                color: "#f08a82"
                                font.pixelSize: 16
                                font.weight: Font.Bold
                            }

                            Rectangle {
                                visible: window.unreadMessageCount > 0
                                anchors.right: parent.right
                                anchors.top: parent.top
                                anchors.rightMargin: -4
                                anchors.topMargin: -4
                                width: 18
                                height: 18
                                radius: 9
                                color: window.accentColor
                                border.color: window.surfaceColor
                                border.width: 2

                                Label {
                                    anchors.centerIn: parent
                                    text: Math.min(window.unreadMessageCount, 9)
                                    color: "#ffffff"
                                    font.pixelSize: 10
                                    font.weight: Font.Bold
                                }
                            }
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            Label {
                                Layout.fillWidth: true
                                text: window.accountName
                                color: window.primaryTextColor
                                font.pixelSize: 14
                                font.weight: Font.DemiBold
                                elide: Text.ElideRight
                            }

                            Label {
                                Layout.fillWidth: true
                                text: window.accountSubtitle
                                color: window.secondaryTextColor
                                font.pixelSize: 12
                                elide: Text.ElideRight
                            }
                        }

                        LineIcon {
                            name: profileMenu.visible ? "chevron-down" : "chevron-up"
                            iconColor: window.secondaryTextColor
                        }
                    }

                    MouseArea {
                        id: accountArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: {
                            if (profileMenu.visible)
                                profileMenu.close()
                            else
                                profileMenu.open()
                        }
                    }

                    Popup {
                        id: profileMenu
                        x: 0
                        y: -height - 10
                        width: accountEntry.width
                        padding: 8
                        focus: true
                        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent

                        enter: Transition {
                            NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 140 }
                        }
                        exit: Transition {
                            NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 110 }
                        }

                        background: Rectangle {
                            radius: 18
                            color: window.surfaceColor
                            border.color: window.dividerColor
                            border.width: 1
                        }

                        contentItem: ColumnLayout {
                            spacing: 2

                            Repeater {
                                model: window.profileNavigation

                                MenuEntry {
                                    Layout.fillWidth: true
                                    label: window.t(modelData.label)
                                    iconName: modelData.icon
                                    current: window.currentKind === window.pageKind(modelData.page)
                                    badgeCount: modelData.page === "messages" ? window.unreadMessageCount : 0
                                    onActivated: window.navigateTo(modelData.page)
                                }
                            }
                        }
                    }
                }
            }
        }

        Rectangle {
            id: contentPanel
            anchors.left: window.showSidebar ? sidebar.right : parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            color: window.canvasColor
            radius: window.showSidebar ? 22 : 0
            border.width: window.showSidebar ? 1 : 0
            border.color: "#23282a"

            // Only the top-left corner is rounded; the hairline stays on the top and left edges.
            Rectangle {
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.bottom: parent.bottom
                anchors.topMargin: parent.border.width
                width: parent.width - parent.radius
                color: parent.color
            }
            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.leftMargin: parent.border.width
                height: parent.height - parent.radius
                color: parent.color
            }

            Loader {
                id: pageLoader
                anchors.fill: parent
                sourceComponent: window.shownPage.length > 0 ? window.componentFor(window.pageKind(window.shownPage)) : null
                onLoaded: Qt.callLater(window.restoreScroll)
            }
        }
    }

    // --- pages

    Component {
        id: connectPageComponent

        PageFlickable {
            id: connectPage

            PageHeading {
                text: window.t("主页")
            }

            Item {
                Layout.fillWidth: true
                Layout.preferredHeight: Math.max(420, connectPage.height - 140)

                Column {
                    anchors.centerIn: parent
                    spacing: 18

                    PowerButton {
                        anchors.horizontalCenter: parent.horizontalCenter
                    }

                    Label {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: window.hasController ? appController.statusText : ""
                        color: window.secondaryTextColor
                        font.pixelSize: 14
                    }
                }
            }
        }
    }

    Component {
        id: serversPageComponent
        PlaceholderPage { pageKey: "servers" }
    }

    Component {
        id: speedTestPageComponent
        PlaceholderPage { pageKey: "speedtest" }
    }

    Component {
        id: plansPageComponent
        PlaceholderPage { pageKey: "plans" }
    }

    Component {
        id: statsPageComponent
        PlaceholderPage { pageKey: "stats" }
    }

    Component {
        id: billingPageComponent
        PlaceholderPage { pageKey: "billing" }
    }

    Component {
        id: devicesPageComponent
        PlaceholderPage { pageKey: "devices" }
    }

    Component {
        id: supportPageComponent
        PlaceholderPage { pageKey: "supportChat" }
    }

    Component {
        id: messagesPageComponent
        PlaceholderPage { pageKey: "messages" }
    }

    Component {
        id: invitePageComponent
        PlaceholderPage { pageKey: "invite" }
    }

    Component {
        id: settingsPageComponent

        PageFlickable {
            id: settingsPage

            PageHeading {
                text: window.t("设置")
            }

            Rectangle {
                Layout.preferredWidth: tabRow.implicitWidth + 12
                Layout.preferredHeight: 50
                radius: 16
                color: window.surfaceColor
                border.color: window.dividerColor
                border.width: 1

                Row {
                    id: tabRow
                    anchors.centerIn: parent
                    spacing: 4

                    Repeater {
                        model: window.settingsTabs

                        Rectangle {
                            id: tab
                            readonly property bool selected: window.settingsTab === modelData.key
                            width: tabLabel.implicitWidth + 36
                            height: 38
                            radius: 12
                            color: selected ? window.accentSoftColor : (tabArea.containsMouse ? window.elevatedColor : "transparent")
                            border.width: selected ? 1 : 0
                            border.color: "#64433f"

                            Label {
                                id: tabLabel
                                anchors.centerIn: parent
                                text: window.t(modelData.label)
                                color: tab.selected ? "#f08a82" : window.secondaryTextColor
                                font.pixelSize: 14
                                font.weight: Font.DemiBold
                            }

                            MouseArea {
                                id: tabArea
                                anchors.fill: parent
                                hoverEnabled: true
                                cursorShape: Qt.PointingHandCursor
                                onClicked: window.settingsTab = modelData.key
                            }
                        }
                    }
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: settingsCardColumn.implicitHeight + 56
                radius: 22
                color: window.surfaceColor
                border.color: window.dividerColor
                border.width: 1

                ColumnLayout {
                    id: settingsCardColumn
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.margins: 28
                    spacing: 18

                    Label {
                        text: {
                            for (var i = 0; i < window.settingsTabs.length; ++i) {
                                if (window.settingsTabs[i].key === window.settingsTab)
                                    return window.t(window.settingsTabs[i].label)
                            }
                            return ""
                        }
                        color: window.primaryTextColor
                        font.pixelSize: 18
                        font.weight: Font.Bold
                    }

                    GridLayout {
                        visible: window.settingsTab === "language"
                        Layout.fillWidth: true
                        columns: 2
                        columnSpacing: 12
                        rowSpacing: 12

                        Repeater {
                            model: {
                                if (!window.hasController)
                                    return []
                                var language = appController.language
                                return appController.languageOptions()
                            }

                            Rectangle {
                                id: languageRow
                                readonly property string languageId: modelData.id || ""
                                readonly property bool current: window.hasController && languageId === (appController.language || "")
                                Layout.fillWidth: true
                                Layout.preferredHeight: 66
                                radius: 16
                                color: current ? "#2f2928" : (languageArea.containsMouse ? window.elevatedColor : "#202425")
                                border.width: 1
                                border.color: current ? window.accentColor : (languageArea.containsMouse ? "#4a5051" : window.dividerColor)

                                RowLayout {
                                    anchors.fill: parent
                                    anchors.leftMargin: 18
                                    anchors.rightMargin: 16
                                    spacing: 14

                                    Rectangle {
                                        Layout.preferredWidth: 20
                                        Layout.preferredHeight: 20
                                        radius: 10
                                        color: "transparent"
                                        border.width: 2
                                        border.color: languageRow.current ? window.accentColor : "#5a6061"

                                        Rectangle {
                                            anchors.centerIn: parent
                                            width: 10
                                            height: 10
                                            radius: 5
                                            color: window.accentColor
                                            visible: languageRow.current
                                        }
                                    }

                                    ColumnLayout {
                                        Layout.fillWidth: true
                                        spacing: 3

                                        Label {
                                            Layout.fillWidth: true
                                            text: modelData.nativeName
                                            color: window.primaryTextColor
                                            font.pixelSize: 15
                                            font.weight: Font.DemiBold
                                            elide: Text.ElideRight
                                        }

                                        Label {
                                            Layout.fillWidth: true
                                            text: modelData.detail
                                            color: window.secondaryTextColor
                                            font.pixelSize: 12
                                            elide: Text.ElideRight
                                        }
                                    }

                                    InfoBadge {
                                        visible: languageRow.current
                                        label: window.t("当前使用")
                                    }
                                }

                                MouseArea {
                                    id: languageArea
                                    anchors.fill: parent
                                    hoverEnabled: true
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: {
                                        if (window.hasController)
                                            appController.setLanguage(languageRow.languageId)
                                    }
                                }
                            }
                        }
                    }

                    Label {
                        visible: window.settingsTab === "language"
                        Layout.fillWidth: true
                        text: window.t("第一次打开默认跟随系统，未支持的语言会使用 English。")
                        color: window.tertiaryTextColor
                        font.pixelSize: 13
                        wrapMode: Text.Wrap
                    }
                }
            }
        }
    }

    Component {
        id: authPageComponent

        PageFlickable {
            id: authPage

            Item {
                Layout.fillWidth: true
                Layout.preferredHeight: Math.max(520, authPage.height - 64)

                Rectangle {
                    width: 520
                    height: 520
                    radius: 260
                    x: parent.width / 2 - 420
                    y: parent.height / 2 - 330
                    color: window.accentColor
                    opacity: 0.05
                }

                Rectangle {
                    width: 360
                    height: 360
                    radius: 180
                    x: parent.width / 2 + 80
                    y: parent.height / 2 - 40
                    color: "#fa8a3c"
                    opacity: 0.045
                }

                Rectangle {
                    anchors.centerIn: parent
                    width: 460
                    height: brandColumn.implicitHeight + 96
                    radius: 30
                    color: window.surfaceColor
                    border.color: window.dividerColor
                    border.width: 1

                    ColumnLayout {
                        id: brandColumn
                        anchors.centerIn: parent
                        width: parent.width - 80
                        spacing: 14

                        Image {
                            Layout.alignment: Qt.AlignHCenter
                            source: "qrc:/assets/logo.png"
                            Layout.preferredWidth: 88
                            Layout.preferredHeight: 88
                            sourceSize.width: 176
                            sourceSize.height: 176
                            smooth: true
                            mipmap: true
                        }

                        Label {
                            Layout.alignment: Qt.AlignHCenter
                            Layout.topMargin: 6
                            text: window.t("岚舟")
                            color: window.primaryTextColor
                            font.pixelSize: 36
                            font.weight: Font.Bold
                        }

                        Label {
                            Layout.alignment: Qt.AlignHCenter
                            text: window.t("一键启程 · 畅连世界")
                            color: "#f08a82"
                            font.pixelSize: 15
                            font.weight: Font.DemiBold
                        }

                        Rectangle {
                            Layout.alignment: Qt.AlignHCenter
                            Layout.topMargin: 6
                            Layout.preferredWidth: 48
                            Layout.preferredHeight: 3
                            radius: 1.5
                            color: window.accentSoftColor
                        }

                        Label {
                            Layout.fillWidth: true
                            Layout.topMargin: 4
                            horizontalAlignment: Text.AlignHCenter
                            text: window.t("登录后同步你的岚舟节点")
                            color: window.secondaryTextColor
                            font.pixelSize: 14
                            wrapMode: Text.Wrap
                        }
                    }
                }
            }
        }
    }

    // --- global toast

    Timer {
        id: toastTimer
        interval: 2600
        onTriggered: {
            if (window.hasController)
                appController.clearToastMessage()
        }
    }

    Connections {
        target: window.hasController ? appController : null

        function onToastMessageChanged() {
            if (appController.toastMessage.length > 0) {
                toast.shownText = appController.toastMessage
                toastTimer.restart()
            } else {
                toastTimer.stop()
            }
        }
    }

    Rectangle {
        id: toast
        property string shownText: window.hasController ? appController.toastMessage : ""
        readonly property bool showing: window.hasController && appController.toastMessage.length > 0

        z: 50
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: showing ? 40 : 28
        width: Math.min(toastLabel.implicitWidth + 48, 560)
        height: toastLabel.implicitHeight + 24
        radius: 18
        color: "#2e3334"
        border.color: "#4a5051"
        border.width: 1
        opacity: showing ? 1 : 0
        visible: opacity > 0

        Behavior on opacity {
            NumberAnimation { duration: 180 }
        }
        Behavior on anchors.bottomMargin {
            NumberAnimation { duration: 180; easing.type: Easing.OutCubic }
        }

        Label {
            id: toastLabel
            anchors.centerIn: parent
            width: Math.min(implicitWidth, 512)
            text: toast.shownText
            color: window.primaryTextColor
            font.pixelSize: 14
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
        }
    }

    // --- dialogs

    ModalLayer {
        id: closeDialog
        z: 100
        visible: window.closeDialogVisible
        heading: window.t("是否关闭岚舟界面？")
        message: window.t("岚舟会继续在后台运行，可从托盘菜单重新打开；只有托盘菜单的退出会真正关闭程序。")

        ActionButton {
            text: window.t("继续使用")
            onClicked: window.closeDialogVisible = false
        }
        ActionButton {
            primary: true
            text: window.t("关闭界面")
            onClicked: window.confirmClose()
        }
    }

    ModalLayer {
        id: sessionKickDialog
        z: 110
        visible: window.hasController && appController.sessionKickDialogVisible
        heading: window.t("账号状态变更")
        message: {
            var text = window.hasController ? (appController.sessionKickDialogMessage || "") : ""
            return text.trim().length > 0 ? window.t(text) : window.t("您已被踢下线。")
        }
        detail: window.t("请重新登录后继续使用岚舟 VPN。")

        ActionButton {
            primary: true
            text: window.t("重新登录")
            onClicked: {
                if (window.hasController)
                    appController.dismissSessionKickDialog()
            }
        }
    }
}
