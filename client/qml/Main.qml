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
    visible: !(hasController && appController.startInTray)
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

    // Server address for the sign-in calls, editable behind a toggle on the auth page.
    property string apiBaseUrl: ""
    property bool authServerFieldVisible: false
    // The address the last verification code went to; a code counts as sent only for it.
    property string authCodeEmail: ""
    // E-mail and code of the last registration code the server accepted.
    property string authVerifiedKey: ""
    // Form message of the auth page, kept as source text so it follows the language.
    property string authNoticeKey: ""
    property string authNoticeArg: ""
    property bool authNoticeIsError: true
    property string policyDialogKind: ""
    property bool deleteAccountDialogVisible: false
    property bool signOutDialogVisible: false
    property var deviceRevokeTarget: null
    property string serverCountryKey: ""
    property string copiedKey: ""

    // What the pages list; plain bindings to the controller.
    property var experienceData: hasController ? appController.experience : ({})

    readonly property string clientVersion: Qt.application.version.length > 0 ? Qt.application.version : "0.9.0"
    readonly property bool controllerBusy: hasController && (appController.busy || appController.networkLoading)
    readonly property bool authCodeSent: authCodeEmail.length > 0 && authCodeEmail === authEmail.trim()
    readonly property string routingMode: {
        if (!hasController)
            return "smart"
        var preferences = appController.preferences || {}
        var network = preferences["network"] || {}
        return String(network["routing_mode"] || "").trim().toLowerCase() === "global" ? "global" : "smart"
    }

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
    // Motion runs only where someone can see it: never while the window is hidden, minimized,
    // unexposed or on another virtual desktop.
    readonly property bool hasWindowMotion: typeof windowMotion !== "undefined" && windowMotion !== null
    readonly property bool motionAllowed: window.visible && window.visibility !== Window.Hidden
                                          && window.visibility !== Window.Minimized
                                          && (!hasWindowMotion || windowMotion.exposed)
    // The system asks for reduced motion: states change at once, plays and pulses stay still.
    readonly property bool reducedMotion: hasWindowMotion && windowMotion.reducedMotion
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
        { "label": "网速测试", "page": "speedtest", "icon": "gauge" },
        { "label": "流量统计", "page": "stats", "icon": "chart" },
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
        { "key": "general", "label": "常规" },
        { "key": "routing", "label": "加速模式" },
        { "key": "language", "label": "语言" },
        { "key": "about", "label": "关于" }
    ]
    readonly property var accountTabs: [
        { "key": "overview", "label": "账户概览" },
        { "key": "password", "label": "修改密码" }
    ]
    readonly property var loginMethods: [
        { "key": "password", "label": "密码登录" },
        { "key": "code", "label": "验证码登录" }
    ]
    readonly property var routingChoices: [
        { "key": "smart", "label": "仅国外链接", "detail": "国内链接直连，国外链接加速" },
        { "key": "global", "label": "所有链接", "detail": "所有链接统一经过当前节点" }
    ]
    readonly property var serverSortModes: [
        { "key": "latency", "label": "按延迟" },
        { "key": "name", "label": "按名称" }
    ]
    readonly property var policyDocuments: ({
        "terms": {
            "title": "用户协议",
            "paragraphs": [
                "欢迎使用岚舟。注册或登录即表示你已阅读并同意本协议。岚舟为你提供网络加速与隐私保护服务，具体内容以客户端中的实际展示为准。",
                "请妥善保管账号与密码，不得转让、出租或与他人共用账号。使用本服务时须遵守所在地的法律法规，不得借此从事违法活动或破坏网络安全。",
                "套餐时长与可用设备数以购买时的说明为准。违反本协议的，我们可以暂停或终止服务。本协议更新后继续使用，即视为接受更新后的内容。"
            ]
        },
        "privacy": {
            "title": "隐私政策",
            "paragraphs": [
                "我们只收集提供服务所必需的信息：注册邮箱、设备名称与平台、登录时间，以及订单与支付状态。",
                "我们不记录你访问的网站内容和浏览历史。诊断日志只在你主动上传时发送，仅用于排查连接问题。",
                "我们不会向第三方出售你的信息。你可以随时在设置中申请注销账号，注销后相关数据将被删除。"
            ]
        }
    })

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

    // A counted text in the plural form the count takes in the interface language.
    function tn(key, count) {
        if (typeof appController === "undefined" || !appController)
            return key.arg(count)
        var language = appController.language
        return appController.trCount(key, count)
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

    function closeProfileMenu() {
        if (sidebar.item)
            sidebar.item.closeProfileMenu() // qmllint disable type
    }

    function navigateTo(page) {
        closeProfileMenu()
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

    // --- small readers for the tolerant server maps

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value).trim()
    }

    function firstText(map, keys) {
        if (!map)
            return ""
        for (var i = 0; i < keys.length; ++i) {
            var text = textOf(map[keys[i]])
            if (text.length > 0)
                return text
        }
        return ""
    }

    // The first value that is a number or starts with digits; -1 when none is.
    function firstCount(map, keys) {
        if (!map)
            return -1
        for (var i = 0; i < keys.length; ++i) {
            var value = map[keys[i]]
            if (typeof value === "number" && isFinite(value))
                return Math.floor(value)
            var digits = /^\s*(\d+)/.exec(textOf(value))
            if (digits)
                return parseInt(digits[1], 10)
        }
        return -1
    }

    function isTrue(value) {
        return value === true || value === 1 || String(value).toLowerCase() === "true"
    }

    // A section of the experience map, or null while it has not arrived.
    function experienceSection(name) {
        var data = experienceData
        var section = data ? data[name] : undefined
        if (!section || typeof section !== "object" || Object.keys(section).length === 0)
            return null
        return section
    }

    function markCopied(key, text) {
        if (!hasController || textOf(text).length === 0)
            return
        appController.copyText(text)
        copiedKey = key
        copiedTimer.restart()
    }

    // --- messages and support: server lists, times and links

    function firstList(map, keys) {
        if (!map)
            return []
        for (var i = 0; i < keys.length; ++i) {
            var list = map[keys[i]]
            if (list && typeof list === "object" && list.length !== undefined && list.length > 0)
                return list
        }
        return []
    }

    function shortDateTime(text) {
        var value = textOf(text)
        if (value.length === 0)
            return ""
        var date = new Date(value)
        return isNaN(date.getTime()) ? value : Qt.formatDateTime(date, "yyyy-MM-dd HH:mm")
    }

    // Links in server text open only when they are plain web links.
    function isOpenableLink(url) {
        return /^https?:\/\/[^\s\/]+/i.test(textOf(url))
    }

    function openServerLink(url) {
        if (hasController && isOpenableLink(url))
            appController.openExternalLink(textOf(url))
    }

    // --- authentication page

    function authCodePurpose() {
        if (authMode === "reg")
            return "register"
        if (authMode === "forgot")
            return "reset"
        if (authMode === "login" && authLoginMethod === "code")
            return "login"
        return "auth"
    }

    function showAuthNotice(key, arg, isError) {
        authNoticeIsError = isError
        authNoticeKey = key
        authNoticeArg = arg
        return false
    }

    function switchAuthMode(mode, method) {
        authMode = mode
        if (method)
            authLoginMethod = method
        authRegisterStage = "form"
        authForgotStage = "verify"
        authPassword = ""
        authPasswordConfirm = ""
        authCode = ""
        authCodeEmail = ""
        authVerifiedKey = ""
        authNoticeKey = ""
        // The last form's server error does not belong to this one.
        if (hasController)
            appController.clearApiError()
    }

    // Hands the typed server address to the controller; false when it cannot be a URL,
    // in which case the controller has already put its own message in apiError.
    function applyApiBaseUrl() {
        var url = apiBaseUrl.trim()
        if (url.length === 0)
            url = appController.apiBaseUrl
        appController.setApiBaseUrl(url)
        if (!/^https?:\/\//.test(url))
            url = "https://" + url
        return /^https?:\/\/[^\/?#\s]+/.test(url.replace(/\/+$/, ""))
    }

    function startAuthCodeCooldown() {
        authCodeCooldownRemaining = authCodeCooldownSeconds
        authCooldownTimer.restart()
    }

    function sendAuthCode() {
        if (!hasController)
            return false
        if (authCodeCooldownRemaining > 0)
            return showAuthNotice("请 %1 秒后再重新发送验证码。", String(authCodeCooldownRemaining), true)
        var email = authEmail.trim()
        if (email.indexOf("@") < 0)
            return showAuthNotice("请先输入有效的邮箱地址。", "", true)
        authNoticeKey = ""
        if (!applyApiBaseUrl())
            return false
        var result = appController.sendVerificationCode(email, authCodePurpose())
        if (!result || String(result).length === 0)
            return false
        authCodeEmail = email
        authVerifiedKey = ""
        startAuthCodeCooldown()
        showAuthNotice("验证码已发送至 %1。", email, false)
        return true
    }

    function submitAuth() {
        if (!hasController || controllerBusy)
            return
        authNoticeKey = ""
        var email = authEmail.trim()
        var code = authCode.trim()
        if (!authAgreementAccepted) {
            showAuthNotice("请先勾选用户协议与隐私政策。", "", true)
            return
        }
        if (authMode === "login" && authLoginMethod === "code") {
            if (!authCodeSent) {
                showAuthNotice("请先获取验证码。", "", true)
                return
            }
            if (code.length !== 6) {
                showAuthNotice("请输入 6 位验证码。", "", true)
                return
            }
            if (applyApiBaseUrl())
                appController.signInWithCode(email, code)
            return
        }
        if (authMode === "reg" && authRegisterStage === "form") {
            if (email.indexOf("@") < 0) {
                showAuthNotice("请输入有效的注册邮箱。", "", true)
                return
            }
            if (authPassword.length < 8) {
                showAuthNotice("注册密码至少需要 8 位。", "", true)
                return
            }
            // A code still fresh for this address is reused instead of asking for another.
            if ((authCodeSent && authCodeCooldownRemaining > 0) || sendAuthCode())
                authRegisterStage = "verify"
            return
        }
        if (authMode === "forgot" && authForgotStage === "verify") {
            if (!authCodeSent) {
                showAuthNotice("请先获取邮箱验证码。", "", true)
                return
            }
            if (code.length !== 6) {
                showAuthNotice("请输入 6 位邮箱验证码。", "", true)
                return
            }
            if (!appController.verifyCode(email, "reset", code)) {
                if (appController.apiError.length === 0)
                    showAuthNotice("验证码错误，请重新输入。", "", true)
                return
            }
            authForgotStage = "reset"
            authPassword = ""
            authPasswordConfirm = ""
            showAuthNotice("邮箱验证成功，请设置新密码。", "", false)
            return
        }
        if (!applyApiBaseUrl())
            return
        if (authMode === "reg") {
            if (!authCodeSent || code.length !== 6) {
                showAuthNotice("请先完成邮箱验证码校验。", "", true)
                return
            }
            var verifiedKey = email + "\n" + code
            if (authVerifiedKey !== verifiedKey) {
                if (!appController.verifyCode(email, "reg", code)) {
                    showAuthNotice("请完成邮箱验证码校验后再注册。", "", true)
                    return
                }
                authVerifiedKey = verifiedKey
            }
            appController.registerAccount(email, authPassword, email.split("@")[0], code, authInviteCode.trim())
            return
        }
        if (authMode === "forgot") {
            if (authPassword.length < 8) {
                showAuthNotice("新密码至少需要 8 位。", "", true)
                return
            }
            if (authPassword !== authPasswordConfirm) {
                showAuthNotice("两次输入的新密码不一致。", "", true)
                return
            }
            appController.resetPassword(email, authPassword, code)
            if (appController.apiError.length === 0) {
                switchAuthMode("login", "password")
                showAuthNotice("密码已重置，请使用新密码登录。", "", false)
            }
            return
        }
        appController.signIn(email, authPassword)
    }

    // --- servers page

    function latencyColor(latency) {
        var value = Number(latency)
        if (!isFinite(value) || value <= 0)
            return "#9d8374"
        return value > 80 ? "#ff9f0a" : "#2db05d"
    }

    function qualityColor(score, label) {
        var value = Number(score)
        if (!isFinite(value))
            value = 0
        var text = textOf(label)
        if (value >= 80 || text.indexOf("极佳") >= 0 || text.indexOf("优秀") >= 0)
            return "#34c759"
        if (value >= 60 || text.indexOf("良好") >= 0 || text.indexOf("推荐") >= 0)
            return "#4f8fff"
        if (value >= 40 || text.indexOf("一般") >= 0)
            return "#f36c62"
        return "#d77a50"
    }

    function latencyText(latency) {
        var value = Number(latency)
        return isFinite(value) && value > 0 ? Math.round(value) + " " + t("ms") : t("待测")
    }

    function countryKey(country) {
        return country ? firstText(country, ["id", "countryCode", "name", "country"]) : ""
    }

    function countryCode(country) {
        return country ? textOf(country["countryCode"]).toLowerCase() : ""
    }

    // Country, city and node names in the interface language, the same in every place that shows them.
    function localizedName(item) {
        if (!item)
            return ""
        if (item["shownName"] !== undefined)
            return textOf(item["shownName"])
        var name = firstText(item, ["name", "country", "countryCode", "id"])
        if (!hasController)
            return name
        var language = appController.language
        return appController.localizedPlaceName(name, textOf(item["countryCode"]))
    }

    function selectedNodeName() {
        if (!hasController)
            return ""
        var language = appController.language
        return textOf(appController.currentNodeDisplayName)
    }

    function countryNodeCount(country) {
        var counted = firstCount(country, ["nodeCount"])
        return counted > 0 ? counted : Number(country ? country["shownNodeCount"] : 0) || 0
    }

    // A country counts as smart-selected when it holds the selected node outside fixed mode.
    function countrySmartSelected(country) {
        return hasController && appController.nodeSelectionMode !== "fixed"
                && !!country && isTrue(country["holdsSelectedNode"])
    }

    // The node a country's smart entry selects: its first listed node, else its best node.
    function countrySmartNodeId(country) {
        return country ? textOf(country["smartNodeId"]) : ""
    }

    function nodeUsable(node) {
        return node && !isTrue(node["disabled"]) && textOf(node["status"]).toLowerCase() !== "offline"
    }

    function selectCountrySmart(country) {
        var id = countrySmartNodeId(country)
        serverCountryKey = countryKey(country)
        if (hasController) {
            announceNodeChoice(localizedName(country))
            appController.selectNodeWithMode(id, "smart")
        }
    }

    function selectFixedNode(node) {
        if (!hasController || !node || isTrue(node["disabled"]))
            return
        announceNodeChoice(localizedName(node))
        appController.selectNodeWithMode(textOf(node["id"]), "fixed")
    }

    // The choice takes the user to the home page: say so, and what happens next.
    function announceNodeChoice(name) {
        var phase = appController.vpnPhase
        var key = phase === "connected" || phase === "connecting" || phase === "verifying"
                ? "已切换到 %1，正在重新连接…" : "已选择 %1。回到主页，点击中间的按钮即可连接。"
        appController.showApiErrorMessage(t(key).arg(name))
    }

    // --- connect page

    // "stable", "transitioning", "failed" or "idle" for a tunnel phase.
    function connectionState(phase) {
        if (phase === "connected")
            return "stable"
        if (phase === "connecting" || phase === "verifying" || phase === "disconnecting")
            return "transitioning"
        return phase === "failed" ? "failed" : "idle"
    }

    function connectionPillText(state) {
        switch (state) {
        case "stable": return t("保护中")
        case "transitioning":
            return hasController && appController.vpnPhase === "disconnecting" ? t("断开中") : t("连接中")
        case "failed": return t("连接失败")
        default: return t("未保护")
        }
    }

    function connectionPillColor(state) {
        switch (state) {
        case "stable": return successColor
        case "transitioning": return accentColor
        case "failed": return "#ff8a80"
        default: return secondaryTextColor
        }
    }

    function dashboardValue(key, fallback) {
        var dashboard = hasController ? appController.dashboard : null
        var text = dashboard ? textOf(dashboard[key]) : ""
        return text.length > 0 ? text : fallback
    }

    // A rate history as exactly 30 non-negative numbers; anything unreadable counts as 0.
    function trafficSeries(list) {
        var values = []
        var length = list && list.length !== undefined ? list.length : 0
        for (var i = Math.max(0, length - 30); i < length; ++i) {
            var value = Number(list[i])
            values.push(isFinite(value) && value > 0 ? value : 0)
        }
        while (values.length < 30)
            values.unshift(0)
        return values
    }

    // "12.5 MB" → ["12.5", "MB"]; a text without a blank is all number.
    function splitUsage(text) {
        var value = textOf(text)
        var blank = value.indexOf(" ")
        if (blank < 0)
            return [value.length > 0 ? value : "0", ""]
        return [value.substring(0, blank), value.substring(blank + 1).trim()]
    }

    function usageCaption() {
        if (!hasController)
            return t("今日暂无会话")
        if (!appController.hasActiveMembership)
            return textOf(appController.selectedPlanId).length > 0 ? t("套餐已过期") : t("未开通会员")
        var sessions = firstCount(appController.dashboard, ["todaySessions"])
        return sessions > 0 ? t("今日 %1 次连接").arg(sessions) : t("今日暂无会话")
    }

    // The membership prompt keeps its own copy: the controller clears its message on dismissal,
    // and the text must not vanish while the layer fades out.
    function syncMembershipPrompt() {
        if (!hasController || !appController.membershipDialogVisible) {
            membershipPromptLayer.shown = false
            return
        }
        membershipPromptLayer.copiedMessage = appController.membershipDialogMessage
        membershipPromptLayer.planExpired = textOf(appController.selectedPlanId).length > 0
        membershipPromptLayer.shown = true
    }

    function answerMembershipPrompt(page) {
        membershipPromptLayer.shown = false
        navigateTo(page)
        if (hasController)
            appController.dismissMembershipDialog()
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
        if (shownPage.length > 0 && item && item.contentY !== undefined) { // qmllint disable type
            var offsets = pageScrollOffsets
            offsets[pageKind(shownPage)] = item.contentY
            pageScrollOffsets = offsets
        }
        shownPage = page
    }

    function restoreScroll() {
        var item = pageLoader.item
        if (!item || item.contentY === undefined) // qmllint disable type
            return
        var saved = pageScrollOffsets[pageKind(shownPage)]
        if (saved === undefined)
            return
        item.contentY = Math.max(0, Math.min(saved, item.contentHeight - item.height))
    }

    // Without a tray icon a hidden window could never be reached again: minimize it instead.
    readonly property bool trayAvailable: !hasController || appController.trayAvailable

    function confirmClose() {
        closeDialogVisible = false
        if (trayAvailable)
            window.hide()
        else
            window.showMinimized()
    }

    onTopPageChanged: {
        closeProfileMenu()
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
        if (hasController)
            apiBaseUrl = appController.apiBaseUrl
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

    Shortcut {
        sequence: "Escape"
        enabled: !window.closeDialogVisible
                 && (window.policyDialogKind.length > 0 || window.deleteAccountDialogVisible || window.deviceRevokeTarget !== null)
        onActivated: {
            window.policyDialogKind = ""
            window.deleteAccountDialogVisible = false
            window.deviceRevokeTarget = null
        }
    }

    Timer {
        id: authCooldownTimer
        interval: 1000
        repeat: true
        onTriggered: {
            window.authCodeCooldownRemaining = Math.max(0, window.authCodeCooldownRemaining - 1)
            if (window.authCodeCooldownRemaining === 0)
                stop()
        }
    }

    // How long a copy button says "copied".
    Timer {
        id: copiedTimer
        interval: 1600
        onTriggered: window.copiedKey = ""
    }

    // --- building blocks

    component PageHeading: Label {
        color: window.primaryTextColor
        font.pixelSize: 28
        font.weight: Font.Bold
    }

    // A label that, when there is no room, ends in "…" and shows the whole text on hover.
    // It shows server texts (node and place names), so neither it nor its tooltip reads markup.
    component FitLabel: Label {
        id: fitLabel
        elide: Text.ElideRight
        textFormat: Text.PlainText

        HoverHandler { id: fitHover }
        PlainToolTip {
            visible: fitLabel.truncated && fitHover.hovered
            text: fitLabel.text
            delay: 400
        }
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
        // The widest text the button takes ("复制" / "已复制"): it keeps one width while its text changes.
        property string reserveText: ""
        hoverEnabled: true
        implicitWidth: Math.max(implicitContentWidth, reserveMetrics.advanceWidth) + leftPadding + rightPadding

        TextMetrics {
            id: reserveMetrics
            font: actionButton.font
            text: actionButton.reserveText
        }
        implicitHeight: 42
        leftPadding: 22
        rightPadding: 22
        font.pixelSize: 14
        font.weight: Font.DemiBold
        opacity: enabled ? 1 : 0.55

        background: Rectangle {
            radius: 13
            color: actionButton.primary
                   ? (actionButton.down ? "#e0554c" : (actionButton.hovered ? "#ff7a70" : window.accentColor))
                   : (actionButton.down ? "#3a4041" : (actionButton.hovered ? "#343a3b" : window.elevatedColor))
            border.width: actionButton.primary ? 0 : 1
            border.color: window.dividerColor
        }

        contentItem: Label {
            textFormat: Text.PlainText
            text: actionButton.text
            font: actionButton.font
            color: actionButton.primary ? "#ffffff" : window.primaryTextColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    // Holds a layer the first frame does not show: it is made when `shown` first turns true and then
    // kept, so later openings and closings fade as before.
    component LazyLayer: Loader {
        property bool shown: false
        property bool opened: false
        anchors.fill: parent
        active: shown || opened
        onLoaded: opened = true
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

        // A layer made at the moment it is first shown fades in like one that was waiting hidden.
        NumberAnimation {
            id: firstFadeIn
            target: modal
            property: "opacity"
            from: 0
            to: 1
            duration: 160
        }
        Component.onCompleted: {
            if (visible)
                firstFadeIn.start()
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
                    textFormat: Text.PlainText
                    text: modal.heading
                    color: window.primaryTextColor
                    font.pixelSize: 20
                    font.weight: Font.Bold
                    wrapMode: Text.Wrap
                }

                Label {
                    Layout.fillWidth: true
                    visible: text.length > 0
                    textFormat: Text.PlainText
                    text: modal.message
                    color: window.primaryTextColor
                    font.pixelSize: 14
                    lineHeight: 1.25
                    wrapMode: Text.Wrap
                }

                Label {
                    Layout.fillWidth: true
                    visible: text.length > 0
                    textFormat: Text.PlainText
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

    // A rounded surface card; its children stack in a column inside the padding.
    component Card: Rectangle {
        id: card
        default property alias cardContent: cardColumn.data
        property int padding: 26
        property alias spacing: cardColumn.spacing

        Layout.fillWidth: true
        implicitHeight: cardColumn.implicitHeight + padding * 2
        radius: 22
        color: window.surfaceColor
        border.color: window.dividerColor
        border.width: 1

        ColumnLayout {
            id: cardColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: card.padding
            spacing: 14
        }
    }

    component FormField: TextField {
        id: field
        Layout.fillWidth: true
        implicitHeight: 46
        leftPadding: 14
        rightPadding: 14
        font.pixelSize: 14
        color: window.primaryTextColor
        placeholderTextColor: "#7d8382"
        selectionColor: window.accentColor
        selectedTextColor: "#ffffff"
        selectByMouse: true

        background: Rectangle {
            radius: 12
            color: field.enabled ? window.elevatedColor : "#232728"
            border.width: 1
            border.color: field.activeFocus ? window.accentColor : (field.hovered ? "#4a5051" : window.dividerColor)
        }
    }

    component FieldCaption: Label {
        Layout.fillWidth: true
        color: window.secondaryTextColor
        font.pixelSize: 12
        font.weight: Font.DemiBold
        elide: Text.ElideRight
    }

    // Plain text that acts as a link.
    component LinkText: Label {
        id: link
        signal activated()
        color: linkArea.containsMouse ? "#ff8a80" : "#f08a82"
        font.pixelSize: 13
        font.weight: Font.DemiBold

        MouseArea {
            id: linkArea
            anchors.fill: parent
            anchors.margins: -4
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: link.activated()
        }
    }

    // A row of pill tabs; options are maps with "key" and "label" (source text).
    component SegmentedTabs: Rectangle {
        id: segments
        property var options: []
        property string current: ""
        property bool stretch: false
        signal picked(string key)

        implicitWidth: segmentRow.implicitWidth + 8
        implicitHeight: 42
        radius: 14
        color: "#1d2122"
        border.color: window.dividerColor
        border.width: 1

        Row {
            id: segmentRow
            anchors.centerIn: parent
            spacing: 2

            Repeater {
                model: segments.options

                Rectangle {
                    id: segment
                    readonly property bool selected: segments.current === modelData.key
                    width: segments.stretch
                           ? (segments.width - 8 - segmentRow.spacing * (segments.options.length - 1)) / Math.max(1, segments.options.length)
                           : segmentLabel.implicitWidth + 30
                    height: segments.height - 8
                    radius: 11
                    color: selected ? window.accentSoftColor : (segmentArea.containsMouse ? window.elevatedColor : "transparent")
                    border.width: selected ? 1 : 0
                    border.color: "#64433f"

                    Label {
                        id: segmentLabel
                        anchors.centerIn: parent
                        width: Math.min(implicitWidth, segment.width - 12)
                        textFormat: Text.PlainText
                        text: window.t(modelData.label)
                        color: segment.selected ? "#f08a82" : window.secondaryTextColor
                        font.pixelSize: 13
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }

                    MouseArea {
                        id: segmentArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: segments.picked(modelData.key)
                    }
                }
            }
        }
    }

    component RadioMark: Rectangle {
        property bool checked: false
        implicitWidth: 20
        implicitHeight: 20
        radius: 10
        color: "transparent"
        border.width: 2
        border.color: checked ? window.accentColor : "#5a6061"

        Rectangle {
            anchors.centerIn: parent
            width: 10
            height: 10
            radius: 5
            color: window.accentColor
            visible: parent.checked
        }
    }

    // One radio-style choice with a title and a line of detail.
    component ChoiceRow: Rectangle {
        id: choice
        property string title: ""
        property string detail: ""
        property bool current: false
        signal activated()

        Layout.fillWidth: true
        implicitHeight: Math.max(70, choiceColumn.implicitHeight + 28)
        radius: 16
        color: current ? "#2f2928" : (choiceArea.containsMouse ? window.elevatedColor : "#202425")
        border.width: 1
        border.color: current ? window.accentColor : (choiceArea.containsMouse ? "#4a5051" : window.dividerColor)

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
                border.color: choice.current ? window.accentColor : "#5a6061"

                Rectangle {
                    anchors.centerIn: parent
                    width: 10
                    height: 10
                    radius: 5
                    color: window.accentColor
                    visible: choice.current
                }
            }

            ColumnLayout {
                id: choiceColumn
                Layout.fillWidth: true
                spacing: 3

                Label {
                    Layout.fillWidth: true
                    textFormat: Text.PlainText
                    text: choice.title
                    color: window.primaryTextColor
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }

                Label {
                    Layout.fillWidth: true
                    visible: text.length > 0
                    textFormat: Text.PlainText
                    text: choice.detail
                    color: window.secondaryTextColor
                    font.pixelSize: 12
                    wrapMode: Text.Wrap
                }
            }

            InfoBadge {
                visible: choice.current
                label: window.t("当前使用")
            }
        }

        MouseArea {
            id: choiceArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: choice.activated()
        }
    }

    // What a list shows before its data exists.
    component EmptyState: Rectangle {
        id: empty
        property string title: ""
        property string detail: ""
        property string iconName: "list"

        Layout.fillWidth: true
        implicitHeight: emptyColumn.implicitHeight + 64
        radius: 22
        color: window.surfaceColor
        border.color: window.dividerColor
        border.width: 1

        ColumnLayout {
            id: emptyColumn
            anchors.centerIn: parent
            width: parent.width - 64
            spacing: 10

            Rectangle {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 48
                Layout.preferredHeight: 48
                radius: 24
                color: window.accentSoftColor

                LineIcon {
                    anchors.centerIn: parent
                    width: 20
                    height: 20
                    name: empty.iconName
                    iconColor: "#f08a82"
                }
            }

            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                textFormat: Text.PlainText
                text: empty.title
                color: window.primaryTextColor
                font.pixelSize: 16
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }

            Label {
                Layout.fillWidth: true
                visible: text.length > 0
                horizontalAlignment: Text.AlignHCenter
                textFormat: Text.PlainText
                text: empty.detail
                color: window.secondaryTextColor
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }
        }
    }

    // Shows the controller's message once it changes while the page is open, so an
    // old message from another page does not greet the user here.
    component ApiErrorNote: Rectangle {
        id: note
        property string shownText: ""
        property string seenLanguage: ""

        // What the controller reports there is mostly a failure, but some of it is done work.
        readonly property bool success: shownText.length > 0
                                        && [window.t("日志已上传"), window.t("缓存已清理")].indexOf(shownText) >= 0

        Layout.fillWidth: true
        visible: shownText.length > 0
        implicitHeight: noteLabel.implicitHeight + 22
        radius: 14
        color: success ? "#21372a" : "#2f2625"
        border.color: success ? "#2f5a3e" : "#64433f"
        border.width: 1

        Component.onCompleted: seenLanguage = window.hasController ? appController.language : ""

        Label {
            id: noteLabel
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            textFormat: Text.PlainText
            text: note.shownText
            color: note.success ? window.successColor : "#f4b0a9"
            font.pixelSize: 13
            wrapMode: Text.Wrap
        }

        Connections {
            target: window.hasController ? appController : null

            function onApiErrorChanged() {
                var language = appController.language
                if (language !== note.seenLanguage) {
                    // A language switch re-sends the old message; only re-translate one already shown.
                    note.seenLanguage = language
                    if (note.shownText.length === 0)
                        return
                }
                note.shownText = appController.apiError
            }
        }
    }

    component Spinner: Canvas {
        id: spinner
        property color strokeColor: "#ffffff"
        implicitWidth: 18
        implicitHeight: 18
        onStrokeColorChanged: requestPaint()
        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = 2
            ctx.lineCap = "round"
            ctx.strokeStyle = spinner.strokeColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, Math.min(width, height) / 2 - 2, 0, Math.PI * 1.4, false)
            ctx.stroke()
        }

        RotationAnimation on rotation {
            running: spinner.visible && window.motionAllowed && !window.reducedMotion
            loops: Animation.Infinite
            from: 0
            to: 360
            duration: 900
        }
    }

    // Five rising bars; bar i lights when the score reaches (i + 1) * 20.
    component QualityBars: Item {
        id: bars
        property int score: 0
        property color barColor: window.successColor
        implicitWidth: 5 * 4 + 4 * 2
        implicitHeight: 16

        Repeater {
            model: 5

            Rectangle {
                x: index * 6
                y: bars.height - height
                width: 4
                height: 4 + index * 3
                radius: 1
                color: bars.score >= (index + 1) * 20 ? bars.barColor : "#3b4142"
            }
        }
    }

    // A small tile with a caption above a value.
    component InfoTile: Rectangle {
        id: tile
        property string title: ""
        property string value: ""

        Layout.fillWidth: true
        implicitHeight: tileColumn.implicitHeight + 30
        radius: 16
        color: "#202425"
        border.color: window.dividerColor
        border.width: 1

        ColumnLayout {
            id: tileColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 18
            anchors.rightMargin: 18
            spacing: 5

            Label {
                Layout.fillWidth: true
                textFormat: Text.PlainText
                text: tile.title
                color: window.secondaryTextColor
                font.pixelSize: 12
                elide: Text.ElideRight
            }

            Label {
                Layout.fillWidth: true
                textFormat: Text.PlainText
                text: tile.value.length > 0 ? tile.value : "—"
                color: window.primaryTextColor
                font.pixelSize: 16
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
        }
    }

    // A short code (country code, platform initial) in a rounded chip.
    component CodeChip: Rectangle {
        id: chip
        property string code: ""
        property bool highlighted: false
        implicitWidth: 40
        implicitHeight: 40
        radius: 12
        color: highlighted ? window.accentSoftColor : window.elevatedColor
        border.color: highlighted ? "#64433f" : window.dividerColor
        border.width: 1

        Label {
            anchors.centerIn: parent
            visible: chip.code.length > 0
            textFormat: Text.PlainText
            text: chip.code
            color: chip.highlighted ? "#f08a82" : window.primaryTextColor
            font.pixelSize: 13
            font.weight: Font.Bold
        }

        LineIcon {
            anchors.centerIn: parent
            visible: chip.code.length === 0
            name: "globe"
            iconColor: chip.highlighted ? "#f08a82" : window.secondaryTextColor
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

        // Motion is spent where it means something: a phase change, a hover or a press plays it
        // for a bounded time, then the button rests on a still frame and the window stops drawing.
        readonly property bool motionAllowed: window.motionAllowed && power.visible
        // Under reduced motion nothing plays; the slow step of the orbit still says "busy".
        readonly property bool reducedMotion: window.reducedMotion

        function wake() {
            if (!motionAllowed || reducedMotion)
                return
            pulseAnimation.restart()
            if (active)
                idleBreath.stop()
            else
                idleBreath.restart()
            if (transitioning)
                orbitSpin.restart()
            if (animationLoader.item)
                animationLoader.item.play() // qmllint disable type
        }

        function rest() {
            pulseAnimation.stop()
            idleBreath.stop()
            orbitSpin.stop()
            pulseRing.opacity = 0.08
            idleGlow.opacity = 0.02
            if (animationLoader.item)
                animationLoader.item.stop() // qmllint disable type
        }

        // A settled phase shows the orbit's dot at the top, as the transition's turns end.
        onPhaseChanged: {
            if (!transitioning) {
                orbitSpin.stop()
                orbit.rotation = 0
            }
            wake()
        }
        onMotionAllowedChanged: motionAllowed ? wake() : rest()
        onReducedMotionChanged: if (reducedMotion) rest()

        Rectangle {
            id: idleGlow
            anchors.centerIn: parent
            width: 290
            height: 290
            radius: width / 2
            color: window.accentColor
            opacity: 0.02
            visible: !power.active

            // One slow breath, then the glow holds.
            SequentialAnimation {
                id: idleBreath
                NumberAnimation { target: idleGlow; property: "opacity"; from: 0.02; to: 0.07; duration: 1600; easing.type: Easing.InOutSine }
                NumberAnimation { target: idleGlow; property: "opacity"; from: 0.07; to: 0.02; duration: 1600; easing.type: Easing.InOutSine }
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
                loops: power.transitioning ? 3 : 1
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

            // A few quick turns when a transition starts...
            RotationAnimation {
                id: orbitSpin
                target: orbit
                property: "rotation"
                loops: 4
                from: 0
                to: 360
                duration: 780
            }

            // ...then a slow step of the dot while the transition lasts: two frames a second
            // instead of a frame at every vertical blank.
            Timer {
                interval: 500
                repeat: true
                running: power.motionAllowed && power.transitioning && !orbitSpin.running
                onTriggered: orbit.rotation = (orbit.rotation + 30) % 360
            }
        }

        Rectangle {
            id: disc
            objectName: "powerDisc"
            anchors.centerIn: parent
            width: 264
            height: 264
            radius: width / 2
            color: window.surfaceColor
            border.width: 1
            border.color: discArea.containsMouse ? "#4a5051" : window.dividerColor

            Loader {
                id: animationLoader
                objectName: "powerAnimation"
                anchors.centerIn: parent
                width: 220
                height: 220
                source: "qrc:/qml/components/LottieBodymovinView.qml"
                onLoaded: power.wake()
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
                onContainsMouseChanged: if (containsMouse) power.wake()
                onPressed: power.wake()
                onClicked: {
                    if (!power.reducedMotion)
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

    // Digits in equal cells so a changing number never shifts its neighbours
    // (Qt 6.4 cannot switch the font to tabular figures).
    component TabularText: Row {
        id: tabular
        property string text: ""
        property color color: window.primaryTextColor
        property int pixelSize: 20
        property int weight: Font.DemiBold
        baselineOffset: digitMetrics.ascent
        readonly property real digitWidth: {
            var widest = 0
            for (var digit = 0; digit < 10; ++digit)
                widest = Math.max(widest, digitMetrics.advanceWidth(String(digit)))
            return Math.ceil(widest)
        }

        FontMetrics {
            id: digitMetrics
            font.family: window.font.family
            font.pixelSize: tabular.pixelSize
            font.weight: tabular.weight
        }

        Repeater {
            model: tabular.text.split("")

            Text {
                width: /[0-9]/.test(modelData) ? tabular.digitWidth : implicitWidth
                horizontalAlignment: Text.AlignHCenter
                text: modelData
                textFormat: Text.PlainText
                color: tabular.color
                font.family: window.font.family
                font.pixelSize: tabular.pixelSize
                font.weight: tabular.weight
            }
        }
    }

    // The rounded pill above the power button that names the protection state.
    component ConnectionPill: Rectangle {
        id: pill
        property string connectionState: "idle"
        readonly property color tone: window.connectionPillColor(connectionState)

        implicitWidth: pillRow.implicitWidth + 28
        implicitHeight: 32
        radius: 16
        color: Qt.rgba(tone.r, tone.g, tone.b, 0.12)
        border.width: 1
        border.color: Qt.rgba(tone.r, tone.g, tone.b, 0.38)

        Row {
            id: pillRow
            anchors.centerIn: parent
            spacing: 8

            Rectangle {
                id: pillDot
                anchors.verticalCenter: parent.verticalCenter
                width: 8
                height: 8
                radius: 4
                color: pill.tone

                // A slow step blink: two frames a second, not a tween at every frame.
                Timer {
                    interval: 500
                    repeat: true
                    running: pill.visible && window.motionAllowed && pill.connectionState === "transitioning"
                    onRunningChanged: if (!running) pillDot.opacity = 1
                    onTriggered: pillDot.opacity = pillDot.opacity < 1 ? 1 : 0.35
                }
            }

            Label {
                anchors.verticalCenter: parent.verticalCenter
                text: window.connectionPillText(pill.connectionState)
                color: pill.tone
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
        }
    }

    // Download and upload rates over the last 30 samples; a flat line while there is none.
    component TrafficChart: Canvas {
        id: chart
        property var download: []
        property var upload: []
        property color downloadColor: window.accentColor
        property color uploadColor: window.successColor
        // The series come as new arrays whenever any dashboard reading changes: draw only
        // when what is drawn changes.
        property string paintedKey: ""

        function repaintIfChanged() {
            var key = JSON.stringify([chart.download, chart.upload, width, height,
                                      String(chart.downloadColor), String(chart.uploadColor)])
            if (key === paintedKey)
                return
            paintedKey = key
            requestPaint()
        }

        onDownloadChanged: repaintIfChanged()
        onUploadChanged: repaintIfChanged()
        onWidthChanged: repaintIfChanged()
        onHeightChanged: repaintIfChanged()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var top = 6
            var bottom = height - 2
            var peak = 0
            var series = [chart.download, chart.upload]
            for (var s = 0; s < series.length; ++s) {
                for (var i = 0; i < series[s].length; ++i)
                    peak = Math.max(peak, series[s][i])
            }
            peak = peak > 0 ? peak * 1.15 : 1

            ctx.strokeStyle = Qt.rgba(1, 1, 1, 0.05)
            ctx.lineWidth = 1
            for (var g = 0; g < 3; ++g) {
                var gridY = Math.round(top + (bottom - top) * g / 3) + 0.5
                ctx.beginPath()
                ctx.moveTo(0, gridY)
                ctx.lineTo(width, gridY)
                ctx.stroke()
            }

            function trace(values) {
                var count = Math.max(2, values.length)
                ctx.beginPath()
                for (var k = 0; k < count; ++k) {
                    var value = k < values.length ? values[k] : 0
                    var x = width * k / (count - 1)
                    var y = bottom - (bottom - top) * value / peak
                    if (k === 0) {
                        ctx.moveTo(x, y)
                    } else {
                        var previous = k - 1 < values.length ? values[k - 1] : 0
                        var previousX = width * (k - 1) / (count - 1)
                        var previousY = bottom - (bottom - top) * previous / peak
                        var middleX = (previousX + x) / 2
                        ctx.bezierCurveTo(middleX, previousY, middleX, y, x, y)
                    }
                }
            }

            function draw(values, tone, filled) {
                if (filled) {
                    trace(values)
                    ctx.lineTo(width, bottom)
                    ctx.lineTo(0, bottom)
                    ctx.closePath()
                    var gradient = ctx.createLinearGradient(0, top, 0, bottom)
                    gradient.addColorStop(0, Qt.rgba(tone.r, tone.g, tone.b, 0.26))
                    gradient.addColorStop(1, Qt.rgba(tone.r, tone.g, tone.b, 0))
                    ctx.fillStyle = gradient
                    ctx.fill()
                }
                trace(values)
                ctx.lineWidth = 2
                ctx.lineJoin = "round"
                ctx.lineCap = "round"
                ctx.strokeStyle = tone
                ctx.stroke()
            }

            draw(chart.upload, chart.uploadColor, false)
            draw(chart.download, chart.downloadColor, true)
        }
    }

    // One rate of the speed card: a coloured key, a caption and the value.
    component RateReading: ColumnLayout {
        id: reading
        property string caption: ""
        property string value: ""
        property string iconName: "arrow-down"
        property color tone: window.accentColor

        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: 6

            Rectangle {
                Layout.preferredWidth: 20
                Layout.preferredHeight: 20
                radius: 10
                color: Qt.rgba(reading.tone.r, reading.tone.g, reading.tone.b, 0.16)

                LineIcon {
                    anchors.centerIn: parent
                    name: reading.iconName
                    iconColor: reading.tone
                }
            }

            Label {
                Layout.fillWidth: true
                text: reading.caption
                color: window.secondaryTextColor
                font.pixelSize: 12
                elide: Text.ElideRight
            }
        }

        TabularText {
            text: reading.value
            pixelSize: 22
            weight: Font.Bold
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
                textFormat: Text.PlainText
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
                    textFormat: Text.PlainText
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

        // Signed out, the sign-in page needs no sidebar: it is made on sign-in.
        Loader {
            id: sidebar
            objectName: "sidebar"
            active: window.showSidebar
            visible: active
            width: 248
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.left: parent.left

            sourceComponent: Rectangle {
                function closeProfileMenu() {
                    profileMenu.close()
                }

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
                                    textFormat: Text.PlainText
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
                                        textFormat: Text.PlainText
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
                                    textFormat: Text.PlainText
                                    text: window.accountName
                                    color: window.primaryTextColor
                                    font.pixelSize: 14
                                    font.weight: Font.DemiBold
                                    elide: Text.ElideRight
                                }

                                Label {
                                    Layout.fillWidth: true
                                    textFormat: Text.PlainText
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
                            // Beside the sidebar, bottom-aligned with the account entry: it never covers the navigation.
                            x: accountEntry.width + 14
                            y: accountEntry.height - height
                            width: Math.max(accountEntry.width, 220)
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
                objectName: "pageLoader"
                anchors.fill: parent
                sourceComponent: window.shownPage.length > 0 ? window.componentFor(window.pageKind(window.shownPage)) : null
                onLoaded: Qt.callLater(window.restoreScroll) // qmllint disable type
            }
        }
    }

    // --- pages

    Component {
        id: connectPageComponent

        PageFlickable {
            id: connectPage
            readonly property string connectionState:
                window.connectionState(window.hasController ? appController.vpnPhase : "disconnected")
            readonly property var dashboard: window.hasController ? appController.dashboard : ({})
            readonly property var usage: window.splitUsage(window.dashboardValue("todayUsage", "0 B"))
            readonly property string selectedCountryCode: window.hasController ? window.textOf(appController.currentNodeCountryCode) : ""

            RowLayout {
                Layout.fillWidth: true
                spacing: 14

                PageHeading {
                    Layout.fillWidth: true
                    text: window.t("主页")
                    elide: Text.ElideRight
                }

                // The daily trial's offer.
                TrialClaimButton {
                    Layout.alignment: Qt.AlignRight | Qt.AlignVCenter
                }
            }

            // The backend could not be reached: the session is kept and the client keeps trying.
            Rectangle {
                objectName: "offlineBanner"
                Layout.fillWidth: true
                visible: window.hasController && appController.backendOffline
                implicitHeight: offlineBannerText.implicitHeight + 20
                radius: 10
                color: "#3a2a1a"
                border.color: "#8a6a3a"

                Label {
                    id: offlineBannerText
                    anchors.fill: parent
                    anchors.margins: 10
                    verticalAlignment: Text.AlignVCenter
                    text: window.t("无法连接服务器。登录状态已保留，网络恢复后会自动重新同步。")
                    textFormat: Text.PlainText
                    color: "#f3d29a"
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 12

                ConnectionPill {
                    Layout.alignment: Qt.AlignHCenter
                    connectionState: connectPage.connectionState
                }

                // The outermost ring is faint; let it overlap the pill and the status line a little.
                PowerButton {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: -10
                    Layout.bottomMargin: -14
                }

                Label {
                    Layout.fillWidth: true
                    horizontalAlignment: Text.AlignHCenter
                    objectName: "connectionStatusLine"
                    text: window.hasController ? appController.connectionStatusText : ""
                    textFormat: Text.PlainText
                    color: window.primaryTextColor
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }

                // The session's uptime while protected; tabular digits keep it from jittering.
                TabularText {
                    objectName: "sessionUptime"
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: -6
                    visible: connectPage.connectionState === "stable"
                    text: window.dashboardValue("uptime", "00:00:00")
                    color: window.secondaryTextColor
                    pixelSize: 13
                    weight: Font.Medium
                }

                Label {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.maximumWidth: Math.min(520, connectPage.width - 80)
                    visible: connectPage.connectionState === "failed" && text.length > 0
                    horizontalAlignment: Text.AlignHCenter
                    text: window.hasController ? appController.apiError : ""
                    textFormat: Text.PlainText
                    color: "#f4b0a9"
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                }
            }

            GridLayout {
                Layout.fillWidth: true
                columns: 2
                columnSpacing: 18
                rowSpacing: 18

                Card {
                    Layout.preferredWidth: 1
                    Layout.fillHeight: true
                    padding: 22

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10

                        Label {
                            Layout.fillWidth: true
                            text: window.t("当前节点")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                            elide: Text.ElideRight
                        }

                        LinkText {
                            text: window.t("点击切换节点")
                            onActivated: window.navigateTo("servers")
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 14

                        CodeChip {
                            code: connectPage.selectedCountryCode
                            highlighted: connectPage.connectionState === "stable"
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 4

                            Label {
                                Layout.fillWidth: true
                                text: {
                                    var name = window.selectedNodeName()
                                    return name.length > 0 ? name : window.t("暂无节点")
                                }
                                textFormat: Text.PlainText
                                color: window.primaryTextColor
                                font.pixelSize: 17
                                font.weight: Font.DemiBold
                                elide: Text.ElideRight
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 8

                                Label {
                                    readonly property string latency: window.hasController ? appController.currentNodeLatency : ""
                                    text: window.t(latency)
                                    textFormat: Text.PlainText
                                    color: window.latencyColor(parseInt(latency, 10))
                                    font.pixelSize: 13
                                    font.weight: Font.DemiBold
                                }

                                Rectangle {
                                    Layout.preferredWidth: 3
                                    Layout.preferredHeight: 3
                                    radius: 1.5
                                    color: window.tertiaryTextColor
                                }

                                QualityBars {
                                    score: window.hasController ? appController.currentNodeQualityScore : 0
                                    barColor: window.qualityColor(score, window.hasController ? appController.currentNodeQuality : "")
                                }

                                Label {
                                    Layout.fillWidth: true
                                    text: window.hasController ? window.t(appController.currentNodeQuality) : ""
                                    textFormat: Text.PlainText
                                    color: window.secondaryTextColor
                                    font.pixelSize: 13
                                    elide: Text.ElideRight
                                }
                            }
                        }
                    }
                }

                Card {
                    Layout.preferredWidth: 1
                    Layout.fillHeight: true
                    padding: 22

                    Label {
                        Layout.fillWidth: true
                        text: window.t("加速模式")
                        color: window.secondaryTextColor
                        font.pixelSize: 13
                        elide: Text.ElideRight
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 14

                        Rectangle {
                            Layout.preferredWidth: 40
                            Layout.preferredHeight: 40
                            radius: 12
                            color: window.accentSoftColor
                            border.color: "#64433f"
                            border.width: 1

                            LineIcon {
                                anchors.centerIn: parent
                                name: window.routingMode === "global" ? "globe" : "arrows"
                                iconColor: "#f08a82"
                            }
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 4

                            Label {
                                Layout.fillWidth: true
                                text: window.t(window.routingMode === "global" ? "所有链接" : "仅国外链接")
                                color: window.primaryTextColor
                                font.pixelSize: 17
                                font.weight: Font.DemiBold
                                elide: Text.ElideRight
                            }

                            Label {
                                Layout.fillWidth: true
                                text: window.t(window.routingMode === "global" ? "所有链接统一经过当前节点"
                                                                               : "国内链接直连，国外链接加速")
                                color: window.secondaryTextColor
                                font.pixelSize: 13
                                wrapMode: Text.Wrap
                                maximumLineCount: 2
                                elide: Text.ElideRight
                            }
                        }
                    }
                }

                Card {
                    Layout.preferredWidth: 1
                    Layout.fillHeight: true
                    padding: 22

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10

                        // The card's title keeps its room; the refresh note gives way first.
                        Label {
                            text: window.t("实时速度")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }

                        FitLabel {
                            Layout.fillWidth: true
                            horizontalAlignment: Text.AlignRight
                            text: window.t("每 3 秒刷新")
                            color: window.tertiaryTextColor
                            font.pixelSize: 12
                        }

                        LinkText {
                            objectName: "speedTestLink"
                            text: window.t("测速")
                            font.pixelSize: 12
                            onActivated: window.navigateTo("speedtest")
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 14

                        RateReading {
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1
                            caption: window.t("下载")
                            iconName: "arrow-down"
                            tone: window.accentColor
                            value: window.dashboardValue("download", "0 B/s")
                        }

                        RateReading {
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1
                            caption: window.t("上传")
                            iconName: "arrow-up"
                            tone: window.successColor
                            value: window.dashboardValue("upload", "0 B/s")
                        }
                    }

                    TrafficChart {
                        Layout.fillWidth: true
                        Layout.preferredHeight: 64
                        download: window.trafficSeries(connectPage.dashboard ? connectPage.dashboard["downloadHistory"] : null)
                        upload: window.trafficSeries(connectPage.dashboard ? connectPage.dashboard["uploadHistory"] : null)
                    }
                }

                Card {
                    Layout.preferredWidth: 1
                    Layout.fillHeight: true
                    padding: 22

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10

                        Label {
                            Layout.fillWidth: true
                            text: window.t("今日用量")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                            elide: Text.ElideRight
                        }

                        LinkText {
                            objectName: "statsLink"
                            text: window.t("流量统计")
                            font.pixelSize: 12
                            onActivated: window.navigateTo("stats")
                        }
                    }

                    Row {
                        Layout.fillWidth: true
                        spacing: 6

                        TabularText {
                            id: usageNumber
                            text: connectPage.usage[0]
                            pixelSize: 40
                            weight: Font.Bold
                        }

                        Label {
                            anchors.baseline: usageNumber.baseline
                            visible: text.length > 0
                            text: connectPage.usage[1]
                            textFormat: Text.PlainText
                            color: window.secondaryTextColor
                            font.pixelSize: 17
                            font.weight: Font.DemiBold
                        }
                    }

                    Label {
                        Layout.fillWidth: true
                        text: window.usageCaption()
                        color: window.secondaryTextColor
                        font.pixelSize: 13
                        elide: Text.ElideRight
                    }
                }
            }
        }
    }

    Component {
        id: serversPageComponent

        Item {
            id: serversPage

            // The country list's scroll position is what the window remembers for this page.
            property alias contentY: countryView.contentY
            readonly property real contentHeight: countryView.contentHeight + height - countryView.height

            // The controller prepares both lists (searched, sorted, following the probe and the
            // selection); the page only tells it what to show. Keys wait for a pause in typing.
            readonly property var countryModel: window.hasController ? appController.serverCountryModel : null
            readonly property var nodeModel: window.hasController ? appController.serverNodeModel : null
            readonly property int visibleCountryCount: countryModel ? countryModel.count : 0
            readonly property int chosenNodeCount: nodeModel ? nodeModel.count : 0
            readonly property int countryTotal: window.hasController ? appController.nodeCountryCount : 0
            readonly property var chosenCountry: {
                var country = window.hasController ? appController.serverChosenCountry : null
                return country && window.countryKey(country).length > 0 ? country : null
            }
            readonly property string chosenKey: window.countryKey(chosenCountry)

            function showCatalogue() {
                searchPause.stop()
                if (window.hasController)
                    appController.showServerCatalogue(window.serverSearchQuery, window.serverSortMode, window.serverCountryKey)
            }

            Timer {
                id: searchPause
                interval: 150
                onTriggered: serversPage.showCatalogue()
            }

            Connections {
                target: window
                function onServerSearchQueryChanged() { searchPause.restart() }
                function onServerSortModeChanged() { serversPage.showCatalogue() }
                function onServerCountryKeyChanged() { serversPage.showCatalogue() }
            }

            Component.onCompleted: showCatalogue()
            Component.onDestruction: {
                if (window.hasController)
                    appController.closeServerCatalogue()
            }

            ColumnLayout {
                anchors.fill: parent
                anchors.leftMargin: 40
                anchors.rightMargin: 40
                anchors.topMargin: 32
                anchors.bottomMargin: 28
                spacing: 20

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 12

                    PageHeading {
                        text: window.t("节点")
                    }

                    Item { Layout.fillWidth: true }

                    FitLabel {
                        visible: text.length > 0
                        textFormat: Text.PlainText
                        text: window.selectedNodeName().length > 0
                              ? window.t("当前节点：%1").arg(window.selectedNodeName()) : ""
                        color: window.secondaryTextColor
                        font.pixelSize: 13
                        elide: Text.ElideRight
                        Layout.maximumWidth: 360
                    }

                    InfoBadge {
                        label: window.hasController && appController.nodeSelectionMode === "fixed" ? window.t("指定节点") : window.t("智能匹配")
                    }
                }

                ApiErrorNote {}

                RowLayout {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    spacing: 20

                    Rectangle {
                        // Narrower in a small window, so the nodes beside it keep room for their names.
                        Layout.preferredWidth: Math.round(Math.max(280, Math.min(360, parent.width * 0.42)))
                        Layout.fillHeight: true
                        radius: 22
                        color: window.surfaceColor
                        border.color: window.dividerColor
                        border.width: 1

                        ColumnLayout {
                            anchors.fill: parent
                            anchors.margins: 18
                            spacing: 12

                            FormField {
                                text: window.serverSearchQuery
                                placeholderText: window.t("搜索国家 / 城市 ...")
                                onTextChanged: window.serverSearchQuery = text
                            }

                            // The count sits beside the sort switch when both fit, else on its own
                            // line above it: wrapping it inside a narrow column split "Регионы: 4".
                            Flow {
                                id: countAndSort
                                readonly property bool oneRow:
                                    countLabel.implicitWidth + spacing + sortTabs.implicitWidth <= width
                                Layout.fillWidth: true
                                spacing: 8

                                FitLabel {
                                    id: countLabel
                                    objectName: "serverCountLabel"
                                    width: countAndSort.oneRow
                                           ? countAndSort.width - sortTabs.width - countAndSort.spacing
                                           : countAndSort.width
                                    height: countAndSort.oneRow ? sortTabs.height : implicitHeight
                                    verticalAlignment: Text.AlignVCenter
                                    textFormat: Text.PlainText
                                    text: window.t("%1 个国家/地区").arg(serversPage.visibleCountryCount)
                                    color: window.tertiaryTextColor
                                    font.pixelSize: 12
                                }

                                SegmentedTabs {
                                    id: sortTabs
                                    implicitHeight: 36
                                    options: window.serverSortModes
                                    current: window.serverSortMode
                                    onPicked: function(key) { window.serverSortMode = key }
                                }
                            }

                            ListView {
                                id: countryView
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                visible: serversPage.visibleCountryCount > 0
                                clip: true
                                spacing: 6
                                boundsBehavior: Flickable.StopAtBounds
                                model: serversPage.countryModel
                                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

                                delegate: Rectangle {
                                    id: countryRow
                                    // The prepared record of this row; follows the list's in-place updates.
                                    readonly property var modelData: model.record
                                    readonly property bool chosen: window.countryKey(modelData) === serversPage.chosenKey
                                    readonly property bool smart: window.countrySmartSelected(modelData)
                                    width: countryView.width
                                    height: 62
                                    radius: 16
                                    color: chosen ? "#2f2928" : (countryArea.containsMouse ? window.elevatedColor : "transparent")
                                    border.width: chosen ? 1 : 0
                                    border.color: "#7a4a45"

                                    RowLayout {
                                        anchors.fill: parent
                                        anchors.leftMargin: 12
                                        anchors.rightMargin: 14
                                        spacing: 12

                                        CodeChip {
                                            code: window.firstText(modelData, ["countryCode", "name", "id"]).substring(0, 2).toUpperCase()
                                            highlighted: countryRow.smart
                                        }

                                        ColumnLayout {
                                            Layout.fillWidth: true
                                            spacing: 2

                                            RowLayout {
                                                Layout.fillWidth: true
                                                spacing: 6

                                                FitLabel {
                                                    Layout.fillWidth: true
                                                    textFormat: Text.PlainText
                                                    text: window.localizedName(modelData)
                                                    color: window.primaryTextColor
                                                    font.pixelSize: 14
                                                    font.weight: Font.DemiBold
                                                }

                                                Rectangle {
                                                    visible: countryRow.smart
                                                    Layout.preferredWidth: 8
                                                    Layout.preferredHeight: 8
                                                    radius: 4
                                                    color: window.accentColor
                                                }
                                            }

                                            FitLabel {
                                                Layout.fillWidth: true
                                                textFormat: Text.PlainText
                                                text: window.t("%1 个节点").arg(window.countryNodeCount(modelData))
                                                color: window.secondaryTextColor
                                                font.pixelSize: 12
                                            }
                                        }

                                        ColumnLayout {
                                            spacing: 3

                                            Label {
                                                Layout.alignment: Qt.AlignRight
                                                textFormat: Text.PlainText
                                                text: window.latencyText(modelData["latency"])
                                                color: window.latencyColor(modelData["latency"])
                                                font.pixelSize: 13
                                                font.weight: Font.DemiBold
                                            }

                                            QualityBars {
                                                Layout.alignment: Qt.AlignRight
                                                score: Number(modelData["qualityScore"]) || 0
                                                barColor: window.qualityColor(modelData["qualityScore"], modelData["quality"])
                                            }
                                        }
                                    }

                                    MouseArea {
                                        id: countryArea
                                        anchors.fill: parent
                                        hoverEnabled: true
                                        cursorShape: Qt.PointingHandCursor
                                        onClicked: window.serverCountryKey = window.countryKey(modelData)
                                    }
                                }
                            }

                            EmptyState {
                                visible: serversPage.visibleCountryCount === 0
                                Layout.fillHeight: true
                                color: "transparent"
                                border.width: 0
                                iconName: "globe"
                                title: serversPage.countryTotal === 0 ? window.t("暂无可用国家") : window.t("没有找到匹配的国家或城市")
                                detail: serversPage.countryTotal === 0 ? window.t("节点列表同步后会显示在这里。") : window.t("换个关键词再试试。")
                            }
                        }
                    }

                    Rectangle {
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        radius: 22
                        color: window.surfaceColor
                        border.color: window.dividerColor
                        border.width: 1

                        ColumnLayout {
                            anchors.fill: parent
                            anchors.margins: 22
                            spacing: 14

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 14

                                CodeChip {
                                    implicitWidth: 48
                                    implicitHeight: 48
                                    code: serversPage.chosenCountry
                                          ? window.firstText(serversPage.chosenCountry, ["countryCode", "name", "id"]).substring(0, 2).toUpperCase()
                                          : ""
                                }

                                ColumnLayout {
                                    Layout.fillWidth: true
                                    spacing: 3

                                    FitLabel {
                                        Layout.fillWidth: true
                                        textFormat: Text.PlainText
                                        text: serversPage.chosenCountry ? window.localizedName(serversPage.chosenCountry) : window.t("全部节点")
                                        color: window.primaryTextColor
                                        font.pixelSize: 20
                                        font.weight: Font.Bold
                                    }

                                    FitLabel {
                                        Layout.fillWidth: true
                                        textFormat: Text.PlainText
                                        text: window.t("%1 个节点").arg(serversPage.chosenNodeCount)
                                        color: window.secondaryTextColor
                                        font.pixelSize: 13
                                    }
                                }
                            }

                            Rectangle {
                                id: smartEntry
                                readonly property bool selected: window.countrySmartSelected(serversPage.chosenCountry)
                                visible: serversPage.chosenCountry !== null
                                Layout.fillWidth: true
                                Layout.preferredHeight: Math.max(74, smartEntryRow.implicitHeight + 24)
                                radius: 16
                                color: selected ? "#2f2928" : (smartArea.containsMouse ? window.elevatedColor : "#202425")
                                border.width: 1
                                border.color: selected ? window.accentColor : (smartArea.containsMouse ? "#4a5051" : window.dividerColor)

                                RowLayout {
                                    id: smartEntryRow
                                    anchors.fill: parent
                                    anchors.leftMargin: 16
                                    anchors.rightMargin: 18
                                    spacing: 14

                                    RadioMark { checked: smartEntry.selected }

                                    Rectangle {
                                        Layout.preferredWidth: 38
                                        Layout.preferredHeight: 38
                                        radius: 12
                                        color: window.accentSoftColor

                                        LineIcon {
                                            anchors.centerIn: parent
                                            name: "bolt"
                                            iconColor: "#f08a82"
                                        }
                                    }

                                    ColumnLayout {
                                        Layout.fillWidth: true
                                        spacing: 3

                                        FitLabel {
                                            Layout.fillWidth: true
                                            text: window.t("智能匹配节点")
                                            color: window.primaryTextColor
                                            font.pixelSize: 15
                                            font.weight: Font.DemiBold
                                            wrapMode: Text.Wrap
                                            maximumLineCount: 2
                                        }

                                        FitLabel {
                                            Layout.fillWidth: true
                                            text: window.t("自动选择该地区延迟最低的可用节点")
                                            color: window.secondaryTextColor
                                            font.pixelSize: 12
                                            wrapMode: Text.Wrap
                                            maximumLineCount: 2
                                        }
                                    }

                                    ColumnLayout {
                                        spacing: 3

                                        Label {
                                            Layout.alignment: Qt.AlignRight
                                            textFormat: Text.PlainText
                                            text: serversPage.chosenCountry ? window.latencyText(serversPage.chosenCountry["latency"]) : ""
                                            color: window.latencyColor(serversPage.chosenCountry ? serversPage.chosenCountry["latency"] : 0)
                                            font.pixelSize: 14
                                            font.weight: Font.DemiBold
                                        }

                                        Label {
                                            Layout.alignment: Qt.AlignRight
                                            textFormat: Text.PlainText
                                            text: serversPage.chosenCountry ? window.t(window.textOf(serversPage.chosenCountry["quality"])) : ""
                                            color: serversPage.chosenCountry
                                                   ? window.qualityColor(serversPage.chosenCountry["qualityScore"], serversPage.chosenCountry["quality"])
                                                   : window.secondaryTextColor
                                            font.pixelSize: 12
                                        }
                                    }
                                }

                                MouseArea {
                                    id: smartArea
                                    anchors.fill: parent
                                    hoverEnabled: true
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: window.selectCountrySmart(serversPage.chosenCountry)
                                }
                            }

                            SectionLabel {
                                visible: serversPage.chosenNodeCount > 0
                                Layout.topMargin: 4
                                text: window.t("指定节点")
                            }

                            ListView {
                                id: nodeView
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                visible: serversPage.chosenNodeCount > 0
                                clip: true
                                spacing: 8
                                boundsBehavior: Flickable.StopAtBounds
                                model: serversPage.nodeModel
                                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

                                delegate: Rectangle {
                                    id: nodeRow
                                    // The prepared record of this row; follows the list's in-place updates.
                                    readonly property var modelData: model.record
                                    readonly property string nodeId: window.textOf(modelData["id"])
                                    readonly property bool usable: window.nodeUsable(modelData)
                                    readonly property bool selectable: !window.isTrue(modelData["disabled"])
                                    readonly property bool selected: window.hasController && appController.nodeSelectionMode === "fixed"
                                                                     && appController.selectedNodeId === nodeId
                                    readonly property string quality: window.textOf(modelData["quality"])
                                    readonly property string highlight: window.textOf(modelData["highlight"])
                                    width: nodeView.width
                                    height: 66
                                    radius: 16
                                    opacity: usable ? 1 : 0.55
                                    color: selected ? "#2f2928" : (nodeArea.containsMouse && selectable ? window.elevatedColor : "#202425")
                                    border.width: 1
                                    border.color: selected ? window.accentColor : (nodeArea.containsMouse && selectable ? "#4a5051" : window.dividerColor)

                                    RowLayout {
                                        anchors.fill: parent
                                        anchors.leftMargin: 16
                                        anchors.rightMargin: 18
                                        spacing: 14

                                        RadioMark { checked: nodeRow.selected }

                                        ColumnLayout {
                                            Layout.fillWidth: true
                                            spacing: 3

                                            // The name has the whole first line; the badge goes beside the region.
                                            FitLabel {
                                                Layout.fillWidth: true
                                                textFormat: Text.PlainText
                                                text: window.localizedName(modelData)
                                                color: window.primaryTextColor
                                                font.pixelSize: 14
                                                font.weight: Font.DemiBold
                                            }

                                            Item {
                                                Layout.fillWidth: true
                                                visible: nodeRegionLabel.text.length > 0 || highlightBadge.visible
                                                implicitHeight: Math.max(nodeRegionLabel.implicitHeight, highlightBadge.visible ? 20 : 0)

                                                FitLabel {
                                                    id: nodeRegionLabel
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    width: Math.min(implicitWidth, parent.width - (highlightBadge.visible ? highlightBadge.width + 8 : 0))
                                                    textFormat: Text.PlainText
                                                    text: window.t(window.textOf(modelData["region"]))
                                                    color: window.secondaryTextColor
                                                    font.pixelSize: 12
                                                }

                                                InfoBadge {
                                                    id: highlightBadge
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    x: nodeRegionLabel.text.length > 0 ? nodeRegionLabel.width + 8 : 0
                                                    visible: nodeRow.highlight.length > 0 && nodeRow.highlight !== nodeRow.quality
                                                    implicitHeight: 20
                                                    label: window.t(nodeRow.highlight)
                                                }
                                            }
                                        }

                                        ColumnLayout {
                                            spacing: 4

                                            Label {
                                                Layout.alignment: Qt.AlignRight
                                                textFormat: Text.PlainText
                                                text: window.latencyText(modelData["latency"])
                                                color: window.latencyColor(modelData["latency"])
                                                font.pixelSize: 14
                                                font.weight: Font.DemiBold
                                            }

                                            RowLayout {
                                                Layout.alignment: Qt.AlignRight
                                                spacing: 8

                                                Label {
                                                    visible: nodeRow.quality.length > 0
                                                    textFormat: Text.PlainText
                                                    text: window.t(nodeRow.quality)
                                                    color: window.qualityColor(modelData["qualityScore"], nodeRow.quality)
                                                    font.pixelSize: 12
                                                }

                                                QualityBars {
                                                    score: Number(modelData["qualityScore"]) || 0
                                                    barColor: window.qualityColor(modelData["qualityScore"], nodeRow.quality)
                                                }
                                            }
                                        }
                                    }

                                    MouseArea {
                                        id: nodeArea
                                        anchors.fill: parent
                                        hoverEnabled: true
                                        enabled: nodeRow.selectable
                                        cursorShape: Qt.PointingHandCursor
                                        onClicked: window.selectFixedNode(modelData)
                                    }
                                }
                            }

                            EmptyState {
                                visible: serversPage.chosenNodeCount === 0
                                Layout.fillHeight: true
                                color: "transparent"
                                border.width: 0
                                iconName: "globe"
                                title: serversPage.chosenCountry ? window.t("该地区暂无可用节点") : window.t("暂无节点")
                                detail: window.t("节点列表同步后会显示在这里。")
                            }
                        }
                    }
                }
            }
        }
    }

    // --- speed test: the gauge runs its own animation while the server measures
    property bool speedTestVpnDialogVisible: false
    // "清理缓存" asks first: it deletes the diagnostic log the About panel offers to upload.
    property bool clearCacheDialogVisible: false
    signal cacheClearConfirmed()

    // The figures to settle on: the newest record, else the averages.
    function speedTestResult(section) {
        var result = { "download": 0, "upload": 0, "latency": 0, "node": "", "timestamp": "", "found": false }
        if (!section)
            return result
        var records = section["records"]
        var first = records && records.length > 0 ? records[0] : null
        var number = function(value) {
            var n = Number(value)
            return isFinite(n) && n > 0 ? n : 0
        }
        if (first) {
            result.download = number(first["download"])
            result.upload = number(first["upload"])
            result.latency = number(first["latency"])
            result.node = textOf(first["node"])
            result.timestamp = textOf(first["timestamp"])
            result.found = true
        } else if (section["average_download"] !== undefined) {
            result.download = number(section["average_download"])
            result.upload = number(section["average_upload"])
            result.latency = number(section["average_latency"])
            result.found = result.download > 0 || result.upload > 0 || result.latency > 0
        }
        return result
    }

    // A server time (ISO 8601, usually UTC) as the reader's local time to the minute; text that is no time stays.
    function localTimeText(value) {
        var text = textOf(value)
        if (text.length === 0)
            return ""
        var when = new Date(text)
        return isNaN(when.getTime()) ? text : Qt.formatDateTime(when, "yyyy-MM-dd HH:mm")
    }

    function speedStageText(phase) {
        switch (phase) {
        case "warmup": return t("正在准备测速环境")
        case "running": return t("正在测试下载与上传")
        case "settling": return t("正在汇总最终结果")
        case "complete": return t("测速完成，结果已更新")
        default: return t("点击开始，检测当前网络速度")
        }
    }

    component SpeedGauge: Canvas {
        id: gauge
        property real value: 0
        property real maximum: 400
        property color tone: window.accentColor
        onValueChanged: requestPaint()
        onWidthChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var cx = width / 2
            var cy = height / 2
            var radius = Math.min(width, height) / 2 - 12
            var start = Math.PI * 0.75
            var sweep = Math.PI * 1.5
            ctx.lineCap = "round"
            ctx.lineWidth = 14
            ctx.strokeStyle = Qt.rgba(1, 1, 1, 0.07)
            ctx.beginPath()
            ctx.arc(cx, cy, radius, start, start + sweep, false)
            ctx.stroke()
            var fraction = Math.max(0, Math.min(1, gauge.value / gauge.maximum))
            if (fraction > 0.001) {
                ctx.strokeStyle = gauge.tone
                ctx.beginPath()
                ctx.arc(cx, cy, radius, start, start + sweep * fraction, false)
                ctx.stroke()
            }
        }
    }

    component SpeedFigure: ColumnLayout {
        id: figure
        property string caption: ""
        property string value: ""
        property string unit: ""
        spacing: 4
        Label {
            Layout.fillWidth: true
            text: figure.caption
            color: window.secondaryTextColor
            font.pixelSize: 12
            horizontalAlignment: Text.AlignHCenter
        }
        Row {
            Layout.alignment: Qt.AlignHCenter
            spacing: 4
            TabularText {
                id: figureNumber
                text: figure.value
                pixelSize: 22
                weight: Font.Bold
            }
            Label {
                anchors.baseline: figureNumber.baseline
                text: figure.unit
                color: window.tertiaryTextColor
                font.pixelSize: 12
            }
        }
    }

    Component {
        id: speedTestPageComponent

        PageFlickable {
            id: speedTestPage
            readonly property var section: window.experienceData ? window.experienceData["speed"] : null
            readonly property var result: window.speedTestResult(section)
            property string phase: "idle"
            property int tick: 0
            property real shownDownload: result.download
            property real shownUpload: result.upload
            property real shownLatency: result.latency
            property bool finishedWaiting: false

            function start() {
                if (!window.hasController)
                    return
                if (appController.vpnPhase !== "connected") {
                    window.speedTestVpnDialogVisible = true
                    return
                }
                phase = "warmup"
                tick = 0
                finishedWaiting = false
                shownDownload = 0
                shownUpload = 0
                shownLatency = 152
                gaugeTimer.start()
                appController.runSpeedTest()
            }

            function step() {
                tick += 1
                if (phase === "warmup") {
                    shownDownload = Math.min(52, shownDownload + 7 + Math.random() * 2)
                    shownUpload = shownDownload / 3
                    if (tick >= 6) {
                        phase = "running"
                        tick = 0
                    }
                } else if (phase === "running") {
                    shownDownload = Math.max(40, Math.min(320, 68 + 12 * tick) + 18 * Math.sin(tick / 1.6)
                                             + 9 * Math.cos(tick / 2.4))
                    shownUpload = shownDownload / 3 + 2 * Math.sin(tick / 1.3)
                    shownLatency = Math.max(18, 152 - 4 * tick + 3 * Math.sin(tick))
                    if (finishedWaiting)
                        phase = "settling"
                } else if (phase === "settling") {
                    shownDownload += (result.download - shownDownload) * 0.24
                    shownUpload += (result.upload - shownUpload) * 0.24
                    shownLatency += (result.latency - shownLatency) * 0.24
                    if (Math.abs(result.download - shownDownload) < 0.3 && Math.abs(result.upload - shownUpload) < 0.3
                            && Math.abs(result.latency - shownLatency) < 0.3) {
                        shownDownload = result.download
                        shownUpload = result.upload
                        shownLatency = result.latency
                        phase = "complete"
                        gaugeTimer.stop()
                    }
                } else {
                    gaugeTimer.stop()
                }
            }

            Timer {
                id: gaugeTimer
                interval: 120
                repeat: true
                onTriggered: speedTestPage.step()
            }

            Connections {
                target: window.hasController ? appController : null
                function onSpeedTestFinished(success) {
                    if (speedTestPage.phase === "idle" || speedTestPage.phase === "complete")
                        return
                    if (success) {
                        speedTestPage.finishedWaiting = true
                        if (speedTestPage.phase !== "warmup")
                            speedTestPage.phase = "settling"
                    } else {
                        gaugeTimer.stop()
                        speedTestPage.phase = "idle"
                        speedTestPage.shownDownload = speedTestPage.result.download
                        speedTestPage.shownUpload = speedTestPage.result.upload
                        speedTestPage.shownLatency = speedTestPage.result.latency
                    }
                }
            }

            PageHeading {
                text: window.t(window.pageTitles["speedtest"] || "")
            }

            Card {
                padding: 28

                Item {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.preferredWidth: 260
                    Layout.preferredHeight: 240

                    SpeedGauge {
                        objectName: "speedGauge"
                        anchors.fill: parent
                        value: speedTestPage.shownDownload
                    }

                    Column {
                        anchors.centerIn: parent
                        spacing: 2
                        TabularText {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: speedTestPage.shownDownload.toFixed(1)
                            pixelSize: 44
                            weight: Font.Bold
                        }
                        Label {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: window.t("Mbps")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }
                    }
                }

                Label {
                    Layout.fillWidth: true
                    objectName: "speedStage"
                    text: window.speedStageText(speedTestPage.phase)
                    color: window.secondaryTextColor
                    font.pixelSize: 14
                    horizontalAlignment: Text.AlignHCenter
                }

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 12
                    SpeedFigure {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        caption: window.t("下载")
                        value: speedTestPage.shownDownload.toFixed(1)
                        unit: window.t("Mbps")
                    }
                    SpeedFigure {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        caption: window.t("上传")
                        value: speedTestPage.shownUpload.toFixed(1)
                        unit: window.t("Mbps")
                    }
                    SpeedFigure {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        caption: window.t("延迟")
                        value: String(Math.round(speedTestPage.shownLatency))
                        unit: window.t("ms")
                    }
                }

                ActionButton {
                    Layout.alignment: Qt.AlignHCenter
                    primary: true
                    enabled: window.hasController && !appController.busy
                             && (speedTestPage.phase === "idle" || speedTestPage.phase === "complete")
                    text: window.t("开始测速")
                    onClicked: speedTestPage.start()
                }
            }

            Card {
                padding: 22
                spacing: 8

                SectionLabel {
                    text: window.t("最近一次")
                }
                Label {
                    Layout.fillWidth: true
                    textFormat: Text.PlainText
                    text: speedTestPage.result.found
                          ? [window.hasController ? appController.localizedPlaceName(speedTestPage.result.node, "")
                                                  : speedTestPage.result.node,
                             window.localTimeText(speedTestPage.result.timestamp)]
                              .filter(function(part) { return part.length > 0 }).join(" · ")
                          : window.t("暂无测速记录")
                    color: window.primaryTextColor
                    font.pixelSize: 14
                    elide: Text.ElideRight
                }
                Label {
                    Layout.fillWidth: true
                    visible: !!speedTestPage.section && Number(speedTestPage.section["average_download"]) > 0
                    text: speedTestPage.section
                          ? window.t("平均") + "  " + Number(speedTestPage.section["average_download"] || 0).toFixed(1)
                            + " / " + Number(speedTestPage.section["average_upload"] || 0).toFixed(1) + " " + window.t("Mbps") + " · "
                            + Math.round(Number(speedTestPage.section["average_latency"] || 0)) + " " + window.t("ms")
                          : ""
                    color: window.secondaryTextColor
                    font.pixelSize: 13
                }
            }
        }
    }

    // --- plans, checkout, billing and the daily trial

    property bool checkoutDialogVisible: false
    property string checkoutPlanId: ""
    property string checkoutPlanName: ""
    property string checkoutOrderId: ""
    property bool checkoutResume: false
    property bool trialPromptVisible: false
    property string trialPromptKey: ""

    readonly property var billingCycles: [
        { key: "monthly", label: "月付" },
        { key: "quarterly", label: "季付" },
        { key: "yearly", label: "年付" }
    ]
    // The comparison table's rows: every highlight the cards list, each marked for the plans whose
    // cards list it, so the table and the cards never disagree. A highlight with a figure (the
    // device count) has its own row above.
    function planFeatureRows(plans) {
        var rows = []
        var seen = {}
        for (var i = 0; i < (plans ? plans.length : 0); ++i) {
            var list = plans[i] ? plans[i]["highlights"] : undefined
            for (var j = 0; list && j < list.length; ++j) {
                var label = textOf(list[j])
                if (label.length === 0 || /\d/.test(label) || seen[label] === true)
                    continue
                seen[label] = true
                rows.push(label)
            }
        }
        return rows.map(function(label) {
            var marks = []
            for (var k = 0; k < plans.length; ++k) {
                var own = plans[k] ? plans[k]["highlights"] : undefined
                var has = false
                for (var m = 0; own && m < own.length; ++m)
                    has = has || textOf(own[m]) === label
                marks.push(has)
            }
            return { "label": label, "marks": marks }
        })
    }
    readonly property var billingOrders: {
        var section = experienceSection("billing")
        var list = section ? section["orders"] : undefined
        return list && list.length !== undefined ? list : []
    }
    readonly property var pendingBillingOrder: {
        for (var i = 0; i < billingOrders.length; ++i) {
            var order = billingOrders[i] || {}
            if (orderStatusKey(order) === "pending" && textOf(order["id"]).length > 0)
                return order
        }
        return null
    }

    // "monthly", "quarterly", "semiannual" or "yearly": the plan's own cycle
    // when the controller read one, else the words of its billing, id and name
    // (half-year words first: they contain the year's).
    function planCycle(plan) {
        var declared = textOf(plan ? plan["cycle"] : "")
        if (declared.length > 0)
            return declared
        var text = [textOf(plan ? plan["billing"] : ""), textOf(plan ? plan["id"] : ""),
                    textOf(plan ? plan["name"] : "")].join(" ").toLowerCase()
        if (text.indexOf("semiannual") >= 0 || text.indexOf("semi-annual") >= 0 || text.indexOf("half-year") >= 0
                || text.indexOf("半年") >= 0) // i18n-exempt: matched, not shown
            return "semiannual"
        if (text.indexOf("quarter") >= 0 || text.indexOf("season") >= 0 || text.indexOf("季") >= 0) // i18n-exempt: matched, not shown
            return "quarterly"
        if (text.indexOf("year") >= 0 || text.indexOf("annual") >= 0 || text.indexOf("年") >= 0) // i18n-exempt: matched, not shown
            return "yearly"
        if (text.indexOf("month") >= 0 || text.indexOf("月") >= 0) // i18n-exempt: matched, not shown
            return "monthly"
        return ""
    }

    function planCycleLabel(cycle) {
        return cycle === "monthly" ? "月付" : (cycle === "quarterly" ? "季付" : (cycle === "yearly" ? "年付" : ""))
    }

    // The three cards in monthly, quarterly, yearly order; plans of no known cycle fill the gaps.
    function orderedPlans(plans) {
        var slots = [null, null, null]
        var rest = []
        var keys = ["monthly", "quarterly", "yearly"]
        for (var i = 0; i < (plans ? plans.length : 0); ++i) {
            var at = keys.indexOf(planCycle(plans[i]))
            if (at >= 0 && slots[at] === null)
                slots[at] = plans[i]
            else
                rest.push(plans[i])
        }
        var result = []
        for (var s = 0; s < 3; ++s) {
            if (slots[s] !== null)
                result.push(slots[s])
            else if (rest.length > 0)
                result.push(rest.shift())
        }
        return result
    }

    function planDisplayName(plan) {
        var name = firstText(plan, ["name", "displayName", "title"])
        if (name.length > 0)
            return t(name)
        return t(planCycleLabel(planCycle(plan)))
    }

    function orderStatusKey(order) {
        var status = textOf(order ? order["status"] : "").toLowerCase()
        if (status === "paid" || status === "active" || status === "settled")
            return "paid"
        if (status === "canceled" || status === "cancelled")
            return "canceled"
        return status
    }

    function orderStatusText(order) {
        switch (orderStatusKey(order)) {
        case "pending": return t("待支付")
        case "paid": return t("已支付")
        case "canceled": return t("已取消")
        case "": return "—"
        default: return textOf(order["status"])
        }
    }

    function pendingOrderForPlan(planId) {
        for (var i = 0; i < billingOrders.length; ++i) {
            var order = billingOrders[i] || {}
            if (orderStatusKey(order) === "pending" && textOf(order["plan_id"]) === planId && textOf(order["id"]).length > 0)
                return order
        }
        return null
    }

    // An amount as "¥48" or "¥48.50"; a dash when it does not read as a number.
    function amountText(value) {
        if (value === undefined || value === null)
            return "—"
        // Currency marks are stripped before the number is read.
        var number = typeof value === "number" ? value : parseFloat(String(value).replace(/[¥￥,\s]|CNY|RMB|元/gi, "")) // i18n-exempt
        if (!isFinite(number))
            return "—"
        return "¥" + (Math.round(number * 100) % 100 === 0 ? String(Math.round(number)) : number.toFixed(2))
    }

    // A server time as local "yyyy-MM-dd HH:mm" (or the date alone); a dash when it does not parse.
    function dateText(value, withTime) {
        var text = textOf(value)
        if (text.length === 0)
            return "—"
        var moment = new Date(text)
        if (isNaN(moment.getTime()))
            return "—"
        return Qt.formatDateTime(moment, withTime ? "yyyy-MM-dd HH:mm" : "yyyy-MM-dd")
    }

    function planActionText(plan, index) {
        var id = textOf(plan["id"])
        if (pendingOrderForPlan(id) !== null)
            return t("继续支付")
        if (hasController && id.length > 0 && id === appController.selectedPlanId)
            return t("去续费")
        if (index === selectedPlanIndex)
            return t("立即支付")
        return t("选择此套餐")
    }

    function openPlanCheckout(plan) {
        if (hasController)
            appController.preparePlanCheckout(textOf(plan["id"]), firstText(plan, ["name", "displayName", "title"]))
    }

    function confirmCheckout() {
        checkoutDialogVisible = false
        if (!hasController)
            return
        if (checkoutResume)
            appController.resumeOrder(checkoutOrderId)
        else
            appController.choosePlan(checkoutPlanId)
    }

    function orderAmountText(orderId) {
        for (var i = 0; i < billingOrders.length; ++i) {
            var order = billingOrders[i] || {}
            if (textOf(order["id"]) === orderId && orderId.length > 0) {
                var amount = firstText(order, ["amount", "price", "total"])
                return amount.length > 0 ? amountText(amount) : ""
            }
        }
        return ""
    }

    function checkoutPlan() {
        var plans = hasController ? appController.plans : []
        for (var i = 0; i < plans.length; ++i) {
            if (textOf(plans[i]["id"]) === checkoutPlanId)
                return plans[i]
        }
        return null
    }

    // Whether the user may claim today's trial (signed in, offered, not a paid member).
    function trialPaidMember() {
        if (!hasController || !appController.loggedIn)
            return false
        var status = appController.trialClaimStatus || {}
        return !isTrue(status["can_claim"]) && (isTrue(status["paid_member"])
               || (appController.currentPlanName !== "体验会员" && appController.hasActiveMembership
                   && appController.selectedPlanId.length > 0))
    }

    function trialClaimable() {
        if (!hasController || !appController.loggedIn)
            return false
        var status = appController.trialClaimStatus || {}
        return isTrue(status["enabled"]) && isTrue(status["can_claim"]) && Number(status["duration_minutes"]) > 0
               && !trialPaidMember()
    }

    function evaluateTrialPrompt() {
        if (!hasController || !appController.loggedIn) {
            trialPromptVisible = false
            return
        }
        var status = appController.trialClaimStatus || {}
        var key = textOf(status["claim_date"])
        trialPromptKey = key.length > 0 ? key : Qt.formatDate(new Date(), "yyyy-MM-dd")
        trialPromptVisible = trialClaimable() && dismissedTrialPromptDate !== trialPromptKey
    }

    function dismissTrialPrompt() {
        dismissedTrialPromptDate = trialPromptKey
        trialPromptVisible = false
    }

    function claimTrialFromPrompt() {
        dismissTrialPrompt()
        if (hasController)
            appController.claimDailyTrial()
    }

    Connections {
        target: window.hasController ? appController : null

        function onPlanCheckoutRequested(planId, planName, orderId, resumeExisting) {
            window.checkoutPlanId = planId
            window.checkoutPlanName = planName
            window.checkoutOrderId = orderId
            window.checkoutResume = resumeExisting
            window.checkoutDialogVisible = true
        }
        function onTrialClaimStatusChanged() { Qt.callLater(window.evaluateTrialPrompt) } // qmllint disable type
        function onCurrentPlanChanged() { Qt.callLater(window.evaluateTrialPrompt) } // qmllint disable type
        function onAuthChanged() { Qt.callLater(window.evaluateTrialPrompt) } // qmllint disable type
        Component.onCompleted: Qt.callLater(window.evaluateTrialPrompt) // qmllint disable type

        function onLoggedInChanged() {
            if (!appController.loggedIn) {
                window.trialPromptVisible = false
                window.dismissedTrialPromptDate = ""
                window.checkoutDialogVisible = false
            }
            Qt.callLater(window.evaluateTrialPrompt)
        }
    }

    // One plan: cycle, name, price, devices, highlights and the action.
    component PlanCard: Rectangle {
        id: planCard
        property var plan: ({})
        property int planIndex: 0
        readonly property bool chosen: window.selectedPlanIndex === planIndex
        readonly property bool current: window.hasController && window.textOf(plan["id"]).length > 0
                                        && window.textOf(plan["id"]) === appController.selectedPlanId
        readonly property var highlights: {
            var list = plan ? plan["highlights"] : undefined
            return list && list.length !== undefined ? list : []
        }

        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.alignment: Qt.AlignTop
        Layout.preferredWidth: 1
        implicitHeight: planColumn.implicitHeight + 52
        radius: 22
        color: chosen ? "#2f2928" : window.surfaceColor
        border.width: chosen ? 2 : 1
        border.color: chosen ? window.accentColor : (planArea.containsMouse ? "#4a5051" : window.dividerColor)

        MouseArea {
            id: planArea
            anchors.fill: parent
            hoverEnabled: true
            onClicked: {
                window.selectedPlanIndex = planCard.planIndex
                var cycle = window.planCycle(planCard.plan)
                if (cycle.length > 0)
                    window.planBillingCycle = cycle
            }
        }

        ColumnLayout {
            id: planColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 26
            spacing: 12

            // Wraps in a narrow card instead of pushing it wider than its column.
            Flow {
                Layout.fillWidth: true
                spacing: 8

                InfoBadge {
                    label: window.t(window.planCycleLabel(window.planCycle(planCard.plan)) || "套餐")
                }
                InfoBadge {
                    visible: planCard.current
                    label: window.t("当前套餐")
                }
            }

            Label {
                Layout.fillWidth: true
                text: window.planDisplayName(planCard.plan)
                textFormat: Text.PlainText
                color: window.primaryTextColor
                font.pixelSize: 20
                font.weight: Font.Bold
                elide: Text.ElideRight
            }

            Label {
                Layout.fillWidth: true
                text: window.amountText(planCard.plan["price"])
                textFormat: Text.PlainText
                color: window.accentColor
                font.pixelSize: 34
                font.weight: Font.Bold
            }

            Label {
                Layout.fillWidth: true
                visible: text.length > 0
                text: window.t(window.firstText(planCard.plan, ["devices"]))
                textFormat: Text.PlainText
                color: window.secondaryTextColor
                font.pixelSize: 13
            }

            Label {
                Layout.fillWidth: true
                visible: text.length > 0
                text: window.t(window.firstText(planCard.plan, ["description"]))
                textFormat: Text.PlainText
                color: window.secondaryTextColor
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }

            Repeater {
                model: planCard.highlights

                Label {
                    Layout.fillWidth: true
                    text: "✓  " + window.t(window.textOf(modelData))
                    textFormat: Text.PlainText
                    color: window.primaryTextColor
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                }
            }

            ActionButton {
                Layout.fillWidth: true
                Layout.topMargin: 6
                primary: planCard.chosen || window.pendingOrderForPlan(window.textOf(planCard.plan["id"])) !== null
                enabled: window.hasController && !appController.busy
                text: window.planActionText(planCard.plan, planCard.planIndex)
                onClicked: {
                    window.selectedPlanIndex = planCard.planIndex
                    window.openPlanCheckout(planCard.plan)
                }
            }
        }
    }

    // A notice strip in one of two tones.
    component PlanNotice: Rectangle {
        id: notice
        property string text: ""
        property bool warning: false
        default property alias actions: noticeRow.data

        Layout.fillWidth: true
        implicitHeight: Math.max(56, noticeLabel.implicitHeight + 28)
        radius: 16
        color: warning ? "#33291f" : "#2f2928"
        border.color: warning ? "#5c4526" : "#64433f"
        border.width: 1

        RowLayout {
            id: noticeRow
            anchors.fill: parent
            anchors.leftMargin: 18
            anchors.rightMargin: 10
            spacing: 10

            Label {
                id: noticeLabel
                Layout.fillWidth: true
                text: notice.text
                textFormat: Text.PlainText
                color: notice.warning ? "#ffc46b" : "#f08a82"
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }
        }
    }

    // What became of the last checkout page: the sentence, the page's address to open again or
    // copy into a browser by hand, and the order the client keeps waiting for.
    component CheckoutNoticeBox: Rectangle {
        id: checkoutBox
        readonly property var notice: window.hasController ? appController.checkoutNotice : ({})
        readonly property string url: window.textOf(notice ? notice["url"] : "")
        readonly property bool opened: !!notice && notice["opened"] === true

        objectName: "checkoutNotice"
        visible: window.hasController && appController.loggedIn && url.length > 0
        Layout.fillWidth: true
        implicitHeight: checkoutColumn.implicitHeight + 28
        radius: 16
        color: opened ? "#232a26" : "#33291f"
        border.color: opened ? "#35523f" : "#5c4526"
        border.width: 1

        ColumnLayout {
            id: checkoutColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 14
            anchors.leftMargin: 18
            spacing: 8

            Label {
                Layout.fillWidth: true
                text: window.t(window.textOf(checkoutBox.notice ? checkoutBox.notice["message"] : ""))
                      + (checkoutBox.opened ? " " + window.t("页面没有打开时，可以复制下面的支付链接到浏览器中打开。") : "")
                textFormat: Text.PlainText
                color: checkoutBox.opened ? window.successColor : "#ffc46b"
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                TextField {
                    objectName: "checkoutLink"
                    Layout.fillWidth: true
                    readOnly: true
                    selectByMouse: true
                    text: checkoutBox.url
                    color: window.primaryTextColor
                    font.pixelSize: 12
                    background: Rectangle { radius: 10; color: window.elevatedColor; border.color: window.dividerColor }
                }
                ActionButton {
                    text: window.copiedKey === "checkout-link" ? window.t("已复制") : window.t("复制链接")
                    reserveText: window.copiedKey === "checkout-link" ? window.t("复制链接") : window.t("已复制")
                    onClicked: window.markCopied("checkout-link", checkoutBox.url)
                }
                ActionButton {
                    primary: !checkoutBox.opened
                    text: window.t("打开链接")
                    onClicked: appController.openExternalLink(checkoutBox.url)
                }
            }

            Label {
                Layout.fillWidth: true
                visible: window.textOf(checkoutBox.notice ? checkoutBox.notice["orderId"] : "").length > 0
                text: window.t("正在等待订单 %1 的支付结果，付款完成后会自动更新。")
                      .arg(window.textOf(checkoutBox.notice ? checkoutBox.notice["orderId"] : ""))
                textFormat: Text.PlainText
                color: window.secondaryTextColor
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
        }
    }

    // Totals, renewal, current plan and the order list with its actions.
    component BillingPanel: ColumnLayout {
        id: billingPanel
        readonly property var section: window.experienceSection("billing")

        Layout.fillWidth: true
        spacing: 18

        CheckoutNoticeBox {}

        RowLayout {
            Layout.fillWidth: true
            spacing: 14

            InfoTile {
                title: window.t("累计支付")
                value: billingPanel.section ? window.amountText(billingPanel.section["total_paid"]) : "—"
            }
            InfoTile {
                title: window.t("续费日期")
                value: {
                    var renewal = billingPanel.section ? window.textOf(billingPanel.section["next_renewal"]) : ""
                    if (renewal.length === 0 && window.hasController)
                        renewal = window.textOf(appController.currentPlanStatusText)
                    return /^\d{4}-\d{2}-\d{2}$/.test(renewal) ? renewal : window.dateText(renewal, false)
                }
            }
            InfoTile {
                title: window.t("当前套餐")
                value: window.hasController ? window.t(appController.currentPlanName) : "—"
            }
        }

        EmptyState {
            visible: window.billingOrders.length === 0
            iconName: "card"
            title: window.t("暂无订单记录")
            detail: window.t("购买套餐后，订单会显示在这里。")
        }

        Repeater {
            model: window.billingOrders

            Rectangle {
                id: orderRow
                readonly property var order: modelData || ({})
                readonly property string orderId: window.textOf(order["id"])
                readonly property bool pending: window.orderStatusKey(order) === "pending"

                Layout.fillWidth: true
                implicitHeight: 78
                radius: 18
                color: window.surfaceColor
                border.color: pending ? "#64433f" : window.dividerColor
                border.width: 1

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 20
                    anchors.rightMargin: 16
                    spacing: 16

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 4

                        Label {
                            Layout.fillWidth: true
                            text: {
                                var name = window.firstText(orderRow.order, ["plan_name", "planName", "title", "name"])
                                return name.length > 0 ? window.t(name) : "—"
                            }
                            textFormat: Text.PlainText
                            color: window.primaryTextColor
                            font.pixelSize: 15
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                        Label {
                            Layout.fillWidth: true
                            text: window.t("订单 %1 · 创建于 %2").arg(orderRow.orderId.length > 0 ? orderRow.orderId : "—")
                                  .arg(window.dateText(orderRow.order["created_at"], true))
                            textFormat: Text.PlainText
                            color: window.secondaryTextColor
                            font.pixelSize: 12
                            elide: Text.ElideRight
                        }
                    }

                    Label {
                        text: window.amountText(orderRow.order["amount"])
                        textFormat: Text.PlainText
                        color: window.primaryTextColor
                        font.pixelSize: 16
                        font.weight: Font.Bold
                    }

                    InfoBadge {
                        label: window.orderStatusText(orderRow.order)
                        tone: ({ "paid": "success", "pending": "warning", "canceled": "muted" })[window.orderStatusKey(orderRow.order)] || ""
                    }

                    ActionButton {
                        visible: orderRow.pending
                        primary: true
                        enabled: window.hasController && !appController.busy
                        text: window.t("继续支付")
                        onClicked: appController.resumeOrder(orderRow.orderId)
                    }
                    ActionButton {
                        visible: orderRow.pending
                        enabled: window.hasController && !appController.busy
                        text: window.t("取消支付")
                        onClicked: appController.cancelOrder(orderRow.orderId)
                    }
                }
            }
        }
    }

    // The connect page's offer of the daily trial: it opens the offer (what the trial gives, then
    // "领取"), so a user who said "先不领取" finds the way back; while the trial runs it shows the
    // minutes left.
    component TrialClaimButton: ActionButton {
        id: trialButton
        objectName: "trialClaimButton"
        readonly property var status: window.hasController ? (appController.trialClaimStatus || {}) : ({})
        readonly property bool claimed: window.isTrue(status["claimed_today"])
        property double now: Date.now()
        readonly property int minutesLeft: {
            var ends = new Date(window.textOf(status["expires_at"]))
            var left = isNaN(ends.getTime()) ? 0 : ends.getTime() - now
            return left > 0 ? Math.ceil(left / 60000) : 0
        }
        primary: !claimed
        // A paid member has nothing to claim: a greyed "领会员" beside a held plan reads as a fault.
        visible: !window.trialPaidMember()
        // One claim at a time: a double click must not send two.
        enabled: !claimed && window.trialClaimable() && !(window.hasController && appController.trialClaimInFlight)
        text: minutesLeft > 0 ? window.tn("体验剩余 %1 分钟", minutesLeft)
                              : (claimed ? window.t("已领取") : window.t("领会员"))
        onClicked: window.trialPromptVisible = true

        // Ticks only while minutes are left and shown: an ended trial's button rests.
        Timer {
            interval: 30000
            repeat: true
            triggeredOnStart: true
            running: trialButton.visible && window.visible && trialButton.minutesLeft > 0
            onTriggered: trialButton.now = Date.now()
        }
        onStatusChanged: now = Date.now()
    }

    Component {
        id: plansPageComponent

        PageFlickable {
            id: plansPage
            readonly property var plans: window.orderedPlans(window.hasController ? appController.plans : [])
            readonly property var pending: window.pendingBillingOrder
            readonly property bool expired: window.hasController && !appController.hasActiveMembership
                                            && appController.currentPlanStatusText === "已过期"
            readonly property bool noMembership: window.hasController && !appController.hasActiveMembership && !expired

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t("充值")
                }
                Item { Layout.fillWidth: true }
                SegmentedTabs {
                    options: window.billingCycles
                    // The switch follows the chosen card when its cycle is known.
                    current: {
                        var chosen = plansPage.plans[window.selectedPlanIndex]
                        var cycle = chosen ? window.planCycle(chosen) : ""
                        return cycle.length > 0 ? cycle : window.planBillingCycle
                    }
                    onPicked: function(key) {
                        window.planBillingCycle = key
                        for (var i = 0; i < plansPage.plans.length; ++i) {
                            if (window.planCycle(plansPage.plans[i]) === key)
                                window.selectedPlanIndex = i
                        }
                    }
                }
            }

            Label {
                Layout.fillWidth: true
                text: !window.hasController ? ""
                      : (appController.currentPlanStatusText === appController.currentPlanName
                         ? window.t("当前订阅：%1").arg(window.t(appController.currentPlanName)) // one fact, said once
                         : window.t("当前订阅：%1 · %2").arg(window.t(appController.currentPlanName)).arg(window.t(appController.currentPlanStatusText)))
                textFormat: Text.PlainText
                color: window.secondaryTextColor
                font.pixelSize: 14
                elide: Text.ElideRight
            }

            ApiErrorNote {}

            CheckoutNoticeBox {}

            PlanNotice {
                visible: plansPage.pending !== null
                text: plansPage.pending
                      ? window.t("您有一笔待支付订单（%1 · %2），可以继续支付或在账单页取消。")
                        .arg(window.t(window.firstText(plansPage.pending, ["plan_name", "planName", "title", "name"])))
                        .arg(window.amountText(plansPage.pending["amount"]))
                      : ""
                ActionButton {
                    primary: true
                    enabled: window.hasController && !appController.busy
                    text: window.t("继续支付")
                    onClicked: appController.resumeOrder(window.textOf(plansPage.pending ? plansPage.pending["id"] : ""))
                }
            }

            PlanNotice {
                visible: plansPage.expired && plansPage.pending === null
                warning: true
                text: window.t("当前套餐已过期，续费后即可继续使用全部节点。")
            }

            PlanNotice {
                visible: plansPage.noMembership && plansPage.pending === null
                text: window.t("您还没有开通会员，选择套餐并完成支付后即可连接。")
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 18

                Repeater {
                    model: plansPage.plans

                    PlanCard {
                        plan: modelData || ({})
                        planIndex: index
                    }
                }
            }

            Card {
                spacing: 10

                Label {
                    text: window.t("功能对比")
                    color: window.primaryTextColor
                    font.pixelSize: 17
                    font.weight: Font.Bold
                }

                GridLayout {
                    Layout.fillWidth: true
                    columns: 4
                    rowSpacing: 10
                    columnSpacing: 12

                    Label { Layout.fillWidth: true; text: window.t("功能"); color: window.tertiaryTextColor; font.pixelSize: 12 }
                    Repeater {
                        model: plansPage.plans
                        Label {
                            Layout.preferredWidth: 150
                            horizontalAlignment: Text.AlignHCenter
                            text: window.planDisplayName(modelData)
                            textFormat: Text.PlainText
                            color: window.tertiaryTextColor
                            font.pixelSize: 12
                            elide: Text.ElideRight
                        }
                    }

                    Label { Layout.fillWidth: true; text: window.t("同时在线设备"); color: window.secondaryTextColor; font.pixelSize: 13 }
                    Repeater {
                        model: plansPage.plans
                        Label {
                            Layout.preferredWidth: 150
                            horizontalAlignment: Text.AlignHCenter
                            text: {
                                var count = window.firstCount(modelData, ["deviceCount", "devices"])
                                return count > 0 ? String(count) : "—"
                            }
                            color: window.primaryTextColor
                            font.pixelSize: 13
                        }
                    }

                    Repeater {
                        id: featureCells
                        readonly property var rows: window.planFeatureRows(plansPage.plans)
                        model: rows.length * 4

                        Label {
                            readonly property int row: Math.floor(index / 4)
                            readonly property int column: index % 4
                            readonly property var feature: featureCells.rows[row]
                            Layout.fillWidth: column === 0
                            Layout.preferredWidth: column === 0 ? -1 : 150
                            horizontalAlignment: column === 0 ? Text.AlignLeft : Text.AlignHCenter
                            text: column === 0 ? window.t(feature.label)
                                               : (column - 1 < plansPage.plans.length && feature.marks[column - 1] ? "✓" : "—")
                            textFormat: Text.PlainText
                            color: column === 0 ? window.secondaryTextColor
                                                : (text === "✓" ? window.successColor : window.tertiaryTextColor)
                            font.pixelSize: 13
                        }
                    }
                }
            }
        }
    }

    // --- statistics: byte counts as gigabytes, the week's bars Monday first
    function gigabytesText(bytes) {
        var value = Number(bytes)
        return (isFinite(value) && value > 0 ? value / 1073741824 : 0).toFixed(2) + " GB"
    }

    function onlineDurationText(seconds, spelled) {
        var total = Math.max(0, Math.floor(Number(seconds) || 0))
        var hours = Math.floor(total / 3600)
        var minutes = Math.floor((total % 3600) / 60)
        if (spelled) // "00:02" reads as minutes or hours alike
            return t("%1 小时 %2 分钟").arg(hours).arg(minutes)
        return (hours < 10 ? "0" : "") + hours + ":" + (minutes < 10 ? "0" : "") + minutes
    }

    // Seven byte counts, Monday first; a missing or unreadable day counts as 0.
    function weeklyTrafficValues(list) {
        var values = []
        for (var i = 0; i < 7; ++i) {
            var entry = list && list.length > i ? list[i] : null
            var value = Number(entry && typeof entry === "object" ? entry["bytes"] : entry)
            values.push(isFinite(value) && value > 0 ? value : 0)
        }
        return values
    }

    component WeeklyChart: Canvas {
        id: weekly
        property var values: []
        readonly property var labels: ["一", "二", "三", "四", "五", "六", "日"]
        readonly property int todayIndex: (new Date().getDay() + 6) % 7
        // Drawn again only when the figures or the size change, not for every new but equal list.
        property string paintedKey: ""

        function repaintIfChanged() {
            var key = JSON.stringify([weekly.values, width, height, todayIndex])
            if (key === paintedKey)
                return
            paintedKey = key
            requestPaint()
        }

        onValuesChanged: repaintIfChanged()
        onWidthChanged: repaintIfChanged()
        onHeightChanged: repaintIfChanged()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var labelSpace = 22
            var top = 8
            var bottom = height - labelSpace
            var peak = 0
            for (var i = 0; i < weekly.values.length; ++i)
                peak = Math.max(peak, weekly.values[i])
            peak = peak > 0 ? peak * 1.1 : 1
            var slot = width / 7
            var barWidth = Math.min(34, slot * 0.52)
            ctx.font = "12px sans-serif"
            ctx.textAlign = "center"
            for (var d = 0; d < 7; ++d) {
                var value = d < weekly.values.length ? weekly.values[d] : 0
                var x = slot * d + (slot - barWidth) / 2
                var barHeight = Math.max(3, (bottom - top) * value / peak)
                ctx.fillStyle = Qt.rgba(1, 1, 1, 0.05)
                ctx.fillRect(x, top, barWidth, bottom - top)
                ctx.fillStyle = d === weekly.todayIndex ? window.accentColor : Qt.rgba(0.97, 0.41, 0.37, 0.45)
                ctx.fillRect(x, bottom - barHeight, barWidth, barHeight)
                ctx.fillStyle = d === weekly.todayIndex ? window.primaryTextColor : window.secondaryTextColor
                ctx.fillText(window.t(weekly.labels[d]), slot * d + slot / 2, height - 5)
            }
        }
    }

    // Today's usage by local hour: 24 bars, the current hour in the accent colour, a label every six hours.
    component HourlyChart: Canvas {
        id: hourly
        property var bars: []
        readonly property int currentHour: new Date().getHours()
        onBarsChanged: requestPaint()
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var labelSpace = 22
            var top = 8
            var bottom = height - labelSpace
            var slot = width / 24
            var barWidth = Math.max(3, Math.min(18, slot * 0.6))
            ctx.font = "11px sans-serif"
            ctx.textAlign = "center"
            for (var h = 0; h < 24; ++h) {
                var bar = h < hourly.bars.length ? hourly.bars[h] : null
                var share = bar ? Number(bar["share"]) || 0 : 0
                var x = slot * h + (slot - barWidth) / 2
                var barHeight = share > 0 ? Math.max(3, (bottom - top) * share) : 2
                ctx.fillStyle = Qt.rgba(1, 1, 1, 0.05)
                ctx.fillRect(x, top, barWidth, bottom - top)
                ctx.fillStyle = h === hourly.currentHour ? window.accentColor : Qt.rgba(0.97, 0.41, 0.37, 0.45)
                ctx.fillRect(x, bottom - barHeight, barWidth, barHeight)
                if (h % 6 === 0) {
                    ctx.fillStyle = window.secondaryTextColor
                    ctx.fillText((h < 10 ? "0" : "") + h + ":00", slot * h + slot / 2, height - 5)
                }
            }
        }
    }

    Component {
        id: statsPageComponent

        PageFlickable {
            id: statsPage

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t(window.pageTitles["stats"] || "")
                }
                Item { Layout.fillWidth: true }
                SegmentedTabs {
                    options: [{ key: "traffic", label: "流量" }, { key: "billing", label: "账单" }]
                    current: window.statsTab
                    onPicked: function(key) {
                        window.statsTab = key
                    }
                }
            }

            ColumnLayout {
                id: statsTrafficTab
                objectName: "statsTrafficTab"
                visible: window.statsTab !== "billing"
                Layout.fillWidth: true
                spacing: 18
                readonly property var traffic: window.experienceData ? (window.experienceData["traffic"] || {}) : ({})
                readonly property var dashboard: window.hasController ? appController.dashboard : ({})

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 14

                    StatCard {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        title: window.t("今日流量")
                        value: window.dashboardValue("todayUsage", "0.00 GB")
                        caption: window.t("在线时长") + " " + window.onlineDurationText(
                                     window.firstCount(statsTrafficTab.dashboard, ["todayOnlineSeconds"]), true)
                    }
                    StatCard {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        title: window.t("下载")
                        value: window.gigabytesText(statsTrafficTab.traffic["download_bytes"])
                        caption: window.t("实时速度") + " " + window.dashboardValue("download", "0 B/s")
                    }
                    StatCard {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        title: window.t("上传")
                        value: window.gigabytesText(statsTrafficTab.traffic["upload_bytes"])
                        caption: window.t("实时速度") + " " + window.dashboardValue("upload", "0 B/s")
                    }
                }

                Card {
                    padding: 22

                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            Layout.fillWidth: true
                            text: window.t("本周流量")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }
                        Label {
                            text: window.gigabytesText(statsTrafficTab.traffic["week_total_bytes"])
                            color: window.primaryTextColor
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                        }
                    }

                    WeeklyChart {
                        objectName: "weeklyChart"
                        Layout.fillWidth: true
                        Layout.preferredHeight: 168
                        values: window.weeklyTrafficValues(statsTrafficTab.traffic["weekly"])
                    }
                }

                Card {
                    padding: 22

                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            Layout.fillWidth: true
                            text: window.t("今日每小时用量")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }
                        Label {
                            text: window.dashboardValue("todayUsage", "0.00 GB")
                            color: window.primaryTextColor
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                        }
                    }

                    HourlyChart {
                        objectName: "hourlyChart"
                        Layout.fillWidth: true
                        Layout.preferredHeight: 140
                        bars: window.hasController
                              ? appController.hourlyUsageBars(statsTrafficTab.dashboard["todayUsageHourlyBytes"] || [])
                              : []
                    }
                }

                Card {
                    padding: 22
                    spacing: 12

                    Label {
                        Layout.fillWidth: true
                        text: window.t("应用流量")
                        color: window.secondaryTextColor
                        font.pixelSize: 13
                    }

                    Label {
                        Layout.fillWidth: true
                        visible: appRepeater.count === 0
                        text: window.t("暂无应用流量数据")
                        color: window.tertiaryTextColor
                        font.pixelSize: 13
                    }

                    Repeater {
                        id: appRepeater
                        model: statsTrafficTab.traffic["apps"] || []

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 6
                            readonly property real share: Math.max(0, Math.min(100, Number(modelData["percent"]) || 0))

                            RowLayout {
                                Layout.fillWidth: true
                                Label {
                                    Layout.fillWidth: true
                                    textFormat: Text.PlainText
                                    text: window.textOf(modelData["name"])
                                    color: window.primaryTextColor
                                    font.pixelSize: 14
                                    elide: Text.ElideRight
                                }
                                Label {
                                    text: window.gigabytesText(modelData["bytes"])
                                    color: window.secondaryTextColor
                                    font.pixelSize: 13
                                }
                            }
                            Rectangle {
                                Layout.fillWidth: true
                                Layout.preferredHeight: 6
                                radius: 3
                                color: Qt.rgba(1, 1, 1, 0.06)
                                Rectangle {
                                    width: parent.width * parent.parent.share / 100 // qmllint disable type
                                    height: parent.height
                                    radius: 3
                                    color: window.accentColor
                                }
                            }
                        }
                    }
                }
            }

            BillingPanel {
                visible: window.statsTab === "billing"
            }
        }
    }

    Component {
        id: billingPageComponent

        PageFlickable {
            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t("账单记录")
                }
                Item { Layout.fillWidth: true }
                ActionButton {
                    enabled: !window.controllerBusy
                    text: window.t("刷新")
                    onClicked: appController.navigate("billing")
                }
            }

            ApiErrorNote {}

            BillingPanel {}
        }
    }

    Component {
        id: devicesPageComponent

        PageFlickable {
            id: devicesPage

            readonly property var section: window.experienceSection("devices")
            readonly property var items: {
                var list = section ? section["items"] : undefined
                return list && list.length !== undefined ? list : []
            }
            readonly property int usedCount: window.firstCount(section, ["used"])
            readonly property int limitCount: window.firstCount(section, ["limit"])
            readonly property string quotaText: {
                if (!section)
                    return ""
                var capacity = window.textOf(section["capacity"])
                // The controller composes this text itself; rebuild it so it is translated.
                var counted = /^(\d+)\s*\/\s*(\d+)\s*台设备$/.exec(capacity)
                if (counted)
                    return window.t("%1 / %2 台设备").arg(counted[1]).arg(counted[2])
                if (capacity.length > 0)
                    return window.t(capacity)
                if (limitCount >= 1)
                    return window.t("%1 / %2 台设备").arg(Math.max(usedCount, 1)).arg(limitCount)
                return ""
            }
            readonly property string alertText: section ? window.textOf(section["alert"]) : ""

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t("设备管理")
                }

                Item { Layout.fillWidth: true }

                ActionButton {
                    visible: window.hasController && appController.loggedIn
                    enabled: !window.controllerBusy
                    text: window.t("刷新")
                    onClicked: appController.navigate("devices")
                }
            }

            ApiErrorNote {}

            EmptyState {
                visible: !devicesPage.section
                iconName: "list"
                title: window.t("暂无设备信息")
                detail: window.t("登录的设备会在同步后显示在这里。")
            }

            Card {
                visible: devicesPage.section !== null
                spacing: 12

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 16

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 4

                        Label {
                            text: window.t("设备额度")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }

                        Label {
                            Layout.fillWidth: true
                            textFormat: Text.PlainText
                            text: devicesPage.quotaText.length > 0 ? devicesPage.quotaText : "—"
                            color: window.primaryTextColor
                            font.pixelSize: 24
                            font.weight: Font.Bold
                            elide: Text.ElideRight
                        }
                    }

                    Label {
                        Layout.maximumWidth: 320
                        text: window.t("同一账号可同时登录的设备数量由当前套餐决定。")
                        color: window.tertiaryTextColor
                        font.pixelSize: 12
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignRight
                    }
                }

                Rectangle {
                    visible: devicesPage.limitCount >= 1
                    Layout.fillWidth: true
                    Layout.preferredHeight: 8
                    radius: 4
                    color: window.elevatedColor

                    Rectangle {
                        width: parent.width * Math.min(1, Math.max(0, devicesPage.usedCount) / Math.max(1, devicesPage.limitCount))
                        height: parent.height
                        radius: 4
                        color: devicesPage.usedCount >= devicesPage.limitCount ? "#ff9f0a" : window.accentColor
                    }
                }

                Rectangle {
                    visible: devicesPage.alertText.length > 0
                    Layout.fillWidth: true
                    Layout.topMargin: 4
                    implicitHeight: alertLabel.implicitHeight + 22
                    radius: 14
                    color: "#33291f"
                    border.color: "#5c4526"
                    border.width: 1

                    Label {
                        id: alertLabel
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        anchors.leftMargin: 16
                        anchors.rightMargin: 16
                        textFormat: Text.PlainText
                        text: window.t(devicesPage.alertText)
                        color: "#ffc46b"
                        font.pixelSize: 13
                        wrapMode: Text.Wrap
                    }
                }
            }

            Repeater {
                model: devicesPage.items

                Rectangle {
                    id: deviceRow
                    readonly property var device: modelData || ({})
                    readonly property bool current: window.isTrue(device["current"])
                    readonly property string deviceId: window.firstText(device, ["id", "device_id"])
                    readonly property string deviceName: window.firstText(device, ["name", "device_name"])
                    readonly property string platform: window.firstText(device, ["platform", "device_platform"])
                    readonly property string location: window.firstText(device, ["location", "device_location"])
                    // The ISO time first: it is shown in the reader's local time, not the server's.
                    readonly property string lastSeen: window.shortDateTime(window.firstText(device, ["last_seen_at", "last_seen"]))

                    Layout.fillWidth: true
                    implicitHeight: 84
                    radius: 20
                    color: window.surfaceColor
                    border.color: current ? "#7a4a45" : window.dividerColor
                    border.width: 1

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 20
                        anchors.rightMargin: 20
                        spacing: 16

                        CodeChip {
                            implicitWidth: 46
                            implicitHeight: 46
                            highlighted: deviceRow.current
                            code: deviceRow.platform.length > 0 ? deviceRow.platform.charAt(0).toUpperCase() : "?"
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 4

                            Item {
                                Layout.fillWidth: true
                                implicitHeight: Math.max(deviceNameLabel.implicitHeight, currentBadge.implicitHeight)

                                Label {
                                    id: deviceNameLabel
                                    anchors.verticalCenter: parent.verticalCenter
                                    width: Math.min(implicitWidth, parent.width - (currentBadge.visible ? currentBadge.width + 8 : 0))
                                    textFormat: Text.PlainText
                                    text: deviceRow.deviceName.length > 0 ? deviceRow.deviceName : window.t("未命名设备")
                                    color: window.primaryTextColor
                                    font.pixelSize: 15
                                    font.weight: Font.DemiBold
                                    elide: Text.ElideRight
                                }

                                InfoBadge {
                                    id: currentBadge
                                    anchors.verticalCenter: parent.verticalCenter
                                    x: deviceNameLabel.width + 8
                                    visible: deviceRow.current
                                    implicitHeight: 22
                                    label: window.t("当前设备")
                                }
                            }

                            Label {
                                Layout.fillWidth: true
                                textFormat: Text.PlainText
                                text: {
                                    var parts = []
                                    if (deviceRow.platform.length > 0)
                                        parts.push(window.t(deviceRow.platform))
                                    if (deviceRow.location.length > 0)
                                        parts.push(window.t(deviceRow.location))
                                    if (deviceRow.lastSeen.length > 0)
                                        parts.push(window.t("最近在线：%1").arg(deviceRow.lastSeen))
                                    return parts.join("  ·  ")
                                }
                                color: window.secondaryTextColor
                                font.pixelSize: 12
                                elide: Text.ElideRight
                            }
                        }

                        ActionButton {
                            visible: !deviceRow.current
                            enabled: !window.controllerBusy && deviceRow.deviceId.length > 0
                            text: window.t("下线")
                            onClicked: window.deviceRevokeTarget = { "id": deviceRow.deviceId, "name": deviceRow.deviceName }
                        }
                    }
                }
            }
        }
    }

    Component {
        id: supportPageComponent

        PageFlickable {
            id: supportPage

            readonly property var section: window.experienceSection("support") || ({})
            readonly property bool loading: window.isTrue(section["loading"])
            readonly property var conversation: section["conversation"] || ({})
            readonly property var messages: window.firstList(conversation, ["messages", "items", "records", "list"])
            readonly property var contact: {
                var own = section["contact"]
                if (own && Object.keys(own).length > 0)
                    return own
                var shared = window.hasController ? appController.support : null
                var nested = shared ? shared["contact"] : null
                return nested && Object.keys(nested).length > 0 ? nested : (shared || ({}))
            }
            readonly property string contactEmail: window.firstText(contact, ["email", "support_email"])
            readonly property string contactTelegram: window.firstText(contact, ["telegram", "tg"])
            readonly property string contactWebsite: window.firstText(contact, ["website", "url"])
            property var composerAttachments: []
            property bool sending: false

            function isOwnMessage(message) {
                var sender = window.firstText(message, ["sender", "role", "from", "author"]).toLowerCase()
                return sender === "user" || sender === "customer" || sender === "me" || window.isTrue(message["mine"])
            }

            function addAttachments() {
                if (!window.hasController)
                    return
                var files = appController.pickSupportMediaFiles()
                var attached = composerAttachments.slice()
                for (var i = 0; i < files.length; ++i) {
                    var attachment = appController.uploadSupportMedia(files[i])
                    if (attachment && Object.keys(attachment).length > 0)
                        attached.push(attachment)
                }
                composerAttachments = attached
            }

            function send() {
                if (!window.hasController || sending)
                    return
                sending = true
                appController.sendSupportChatMessage(composerField.text, composerAttachments)
                sending = false
                if (appController.apiError.length === 0) {
                    composerField.text = ""
                    composerAttachments = []
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t("在线客服")
                }

                Spinner {
                    visible: supportPage.loading
                    strokeColor: window.accentColor
                }

                Item { Layout.fillWidth: true }

                ActionButton {
                    text: supportPage.loading ? window.t("正在同步...") : window.t("刷新")
                    enabled: !supportPage.loading
                    onClicked: {
                        if (window.hasController)
                            appController.refreshSupportChat()
                    }
                }
            }

            ApiErrorNote {}

            Card {
                spacing: 12

                Label {
                    Layout.fillWidth: true
                    visible: supportPage.messages.length === 0
                    textFormat: Text.PlainText
                    text: supportPage.loading ? window.t("正在加载聊天记录...")
                                              : window.t("还没有聊天记录，发送消息后客服会尽快回复。")
                    color: window.secondaryTextColor
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                }

                Repeater {
                    model: supportPage.messages

                    Item {
                        id: bubbleRow
                        readonly property bool own: supportPage.isOwnMessage(modelData)
                        readonly property var attachments: window.firstList(modelData, ["attachments", "files", "media"])
                        Layout.fillWidth: true
                        implicitHeight: bubble.height

                        Rectangle {
                            id: bubble
                            anchors.right: bubbleRow.own ? parent.right : undefined
                            anchors.left: bubbleRow.own ? undefined : parent.left
                            width: Math.min(parent.width * 0.72, Math.max(bubbleText.implicitWidth, bubbleMeta.implicitWidth, 120) + 28)
                            height: bubbleColumn.implicitHeight + 20
                            radius: 16
                            color: bubbleRow.own ? window.accentSoftColor : window.elevatedColor
                            border.width: 1
                            border.color: bubbleRow.own ? "#64433f" : window.dividerColor

                            ColumnLayout {
                                id: bubbleColumn
                                anchors.left: parent.left
                                anchors.right: parent.right
                                anchors.top: parent.top
                                anchors.margins: 10
                                anchors.leftMargin: 14
                                anchors.rightMargin: 14
                                spacing: 4

                                Label {
                                    id: bubbleText
                                    Layout.fillWidth: true
                                    visible: text.length > 0
                                    text: window.firstText(modelData, ["text", "content", "message", "body"])
                                    textFormat: Text.PlainText
                                    color: window.primaryTextColor
                                    font.pixelSize: 14
                                    wrapMode: Text.Wrap
                                }

                                Repeater {
                                    model: bubbleRow.attachments

                                    Label {
                                        Layout.fillWidth: true
                                        text: window.t("附件：%1").arg(window.firstText(modelData, ["name", "file_name", "id"]))
                                        textFormat: Text.PlainText
                                        color: "#f08a82"
                                        font.pixelSize: 12
                                        elide: Text.ElideMiddle
                                    }
                                }

                                Label {
                                    id: bubbleMeta
                                    text: (bubbleRow.own ? window.t("我") : window.t("客服")) + "  "
                                          + window.shortDateTime(window.firstText(modelData, ["created_at", "time", "timestamp"]))
                                    textFormat: Text.PlainText
                                    color: window.tertiaryTextColor
                                    font.pixelSize: 11
                                }
                            }
                        }
                    }
                }
            }

            Card {
                spacing: 12

                TextArea {
                    id: composerField
                    Layout.fillWidth: true
                    Layout.preferredHeight: 96
                    placeholderText: window.t("请描述你遇到的问题，客服会尽快回复。")
                    placeholderTextColor: "#7d8382"
                    textFormat: TextEdit.PlainText
                    color: window.primaryTextColor
                    font.pixelSize: 14
                    wrapMode: TextEdit.Wrap
                    selectByMouse: true
                    enabled: !supportPage.sending
                    background: Rectangle {
                        radius: 12
                        color: window.elevatedColor
                        border.width: 1
                        border.color: composerField.activeFocus ? window.accentColor : window.dividerColor
                    }
                }

                Flow {
                    Layout.fillWidth: true
                    visible: supportPage.composerAttachments.length > 0
                    spacing: 8

                    Repeater {
                        model: supportPage.composerAttachments

                        InfoBadge {
                            label: window.firstText(modelData, ["name", "id"])
                        }
                    }
                }

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 10

                    ActionButton {
                        text: window.t("添加图片/视频")
                        onClicked: supportPage.addAttachments()
                    }

                    Item { Layout.fillWidth: true }

                    ActionButton {
                        primary: true
                        text: window.t("发送")
                        enabled: !supportPage.sending
                                 && (composerField.text.trim().length > 0 || supportPage.composerAttachments.length > 0)
                        onClicked: supportPage.send()
                    }
                }
            }

            Card {
                visible: supportPage.contactEmail.length > 0 || supportPage.contactTelegram.length > 0
                         || supportPage.contactWebsite.length > 0
                spacing: 10

                Label {
                    text: window.t("其他联系方式")
                    color: window.primaryTextColor
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                }

                Repeater {
                    model: [
                        { "label": "邮箱", "value": supportPage.contactEmail, "kind": "copy" },
                        { "label": "Telegram", "value": supportPage.contactTelegram, "kind": "copy" },
                        { "label": "帮助中心", "value": supportPage.contactWebsite, "kind": "link" }
                    ]

                    RowLayout {
                        Layout.fillWidth: true
                        visible: modelData.value.length > 0
                        spacing: 12

                        FitLabel {
                            Layout.preferredWidth: 130
                            textFormat: Text.PlainText
                            text: window.t(modelData.label)
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                        }

                        Label {
                            Layout.fillWidth: true
                            text: modelData.value
                            textFormat: Text.PlainText
                            color: window.primaryTextColor
                            font.pixelSize: 13
                            elide: Text.ElideMiddle
                        }

                        LinkText {
                            text: modelData.kind === "link" ? window.t("打开") : (window.copiedKey === "contact-" + index ? window.t("已复制") : window.t("复制"))
                            onActivated: {
                                if (modelData.kind === "link")
                                    window.openServerLink(modelData.value)
                                else
                                    window.markCopied("contact-" + index, modelData.value)
                            }
                        }
                    }
                }
            }
        }
    }

    Component {
        id: messagesPageComponent

        PageFlickable {
            id: messagesPage

            readonly property var section: window.experienceSection("messages") || ({})
            readonly property var items: window.firstList(section, ["items"])
            readonly property var categories: window.firstList(section, ["categories"])
            property string category: ""
            property string openedId: ""
            readonly property var shownItems: {
                var shown = []
                for (var i = 0; i < items.length; ++i) {
                    var item = items[i]
                    if (category.length === 0 || window.textOf(item["category"]) === category)
                        shown.push(item)
                }
                return shown
            }
            readonly property var tabOptions: {
                var options = [{ "key": "", "label": "全部" }]
                for (var i = 0; i < categories.length; ++i) {
                    var name = window.textOf(categories[i])
                    if (name.length > 0)
                        options.push({ "key": name, "label": name })
                }
                return options
            }

            function isRead(item) {
                return window.isTrue(item["read"])
            }

            function open(item) {
                var id = window.textOf(item["id"])
                openedId = openedId === id ? "" : id
                if (!isRead(item) && window.hasController && id.length > 0)
                    appController.markMessagesRead([id])
            }

            function markAllRead() {
                var ids = []
                for (var i = 0; i < shownItems.length; ++i)
                    ids.push(window.textOf(shownItems[i]["id"]))
                if (ids.length > 0 && window.hasController)
                    appController.markMessagesRead(ids)
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                PageHeading {
                    text: window.t("消息中心")
                }

                InfoBadge {
                    visible: window.unreadMessageCount > 0
                    label: window.tn("%1 条未读", window.unreadMessageCount)
                }

                Item { Layout.fillWidth: true }

                ActionButton {
                    text: window.t("全部已读")
                    enabled: window.unreadMessageCount > 0
                    onClicked: messagesPage.markAllRead()
                }
            }

            SegmentedTabs {
                visible: messagesPage.tabOptions.length > 1
                options: messagesPage.tabOptions
                current: messagesPage.category
                onPicked: function(key) { messagesPage.category = key }
            }

            EmptyState {
                visible: messagesPage.shownItems.length === 0
                iconName: "bell"
                title: window.t("暂无消息")
                detail: window.t("系统通知和账户消息会显示在这里。")
            }

            Repeater {
                model: messagesPage.shownItems

                Rectangle {
                    id: messageCard
                    readonly property string messageId: window.textOf(modelData["id"])
                    readonly property bool unread: !messagesPage.isRead(modelData)
                    readonly property bool opened: messagesPage.openedId === messageId
                    readonly property string link: window.firstText(modelData, ["link", "url"])
                    Layout.fillWidth: true
                    implicitHeight: messageColumn.implicitHeight + 32
                    radius: 18
                    color: messageArea.containsMouse ? "#2a2f30" : window.surfaceColor
                    border.width: 1
                    border.color: opened ? window.accentColor : window.dividerColor

                    MouseArea {
                        id: messageArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: messagesPage.open(modelData)
                    }

                    ColumnLayout {
                        id: messageColumn
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.top: parent.top
                        anchors.margins: 16
                        anchors.leftMargin: 20
                        spacing: 6

                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 10

                            Rectangle {
                                Layout.preferredWidth: 8
                                Layout.preferredHeight: 8
                                radius: 4
                                color: messageCard.unread ? window.accentColor : "transparent"
                            }

                            Label {
                                Layout.fillWidth: true
                                text: window.firstText(modelData, ["title", "subject"])
                                textFormat: Text.PlainText
                                color: window.primaryTextColor
                                font.pixelSize: 15
                                font.weight: messageCard.unread ? Font.Bold : Font.Normal
                                elide: Text.ElideRight
                            }

                            Label {
                                visible: text.length > 0
                                text: window.textOf(modelData["category"])
                                textFormat: Text.PlainText
                                color: "#f08a82"
                                font.pixelSize: 12
                            }

                            Label {
                                text: window.shortDateTime(window.firstText(modelData, ["created_at", "time", "published_at"]))
                                textFormat: Text.PlainText
                                color: window.tertiaryTextColor
                                font.pixelSize: 12
                            }
                        }

                        Label {
                            Layout.fillWidth: true
                            Layout.leftMargin: 18
                            text: window.firstText(modelData, ["body", "content", "text", "summary"])
                            textFormat: Text.PlainText
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                            wrapMode: messageCard.opened ? Text.Wrap : Text.NoWrap
                            elide: messageCard.opened ? Text.ElideNone : Text.ElideRight
                        }

                        LinkText {
                            Layout.leftMargin: 18
                            visible: messageCard.opened && window.isOpenableLink(messageCard.link)
                            text: window.t("打开链接")
                            onActivated: window.openServerLink(messageCard.link)
                        }
                    }
                }
            }
        }
    }

    Component {
        id: invitePageComponent

        PageFlickable {
            id: invitePage

            readonly property var section: window.experienceSection("invite")
            readonly property string inviteCode: window.firstText(section, ["code", "invite_code", "inviteCode"])
            readonly property string inviteLink: window.firstText(section, ["link", "invite_link", "inviteLink", "url", "share_url"])
            readonly property int invitedCount: window.firstCount(section, ["invited_count", "invite_count", "invitedCount", "invited"])
            readonly property int rewardDays: window.firstCount(section, ["reward_days", "rewarded_days", "rewardDays", "bonus_days"])
            readonly property string description: window.firstText(section, ["description", "rules", "tip"])
            readonly property bool hasInvite: inviteCode.length > 0 || inviteLink.length > 0

            PageHeading {
                text: window.t("邀请有礼")
            }

            EmptyState {
                visible: !invitePage.hasInvite
                iconName: "gift"
                title: window.t("暂无邀请信息")
                detail: window.t("你的邀请码和邀请链接会在同步后显示在这里。")
            }

            Card {
                visible: invitePage.hasInvite
                spacing: 16

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 14

                    Rectangle {
                        Layout.preferredWidth: 46
                        Layout.preferredHeight: 46
                        radius: 15
                        color: window.accentSoftColor

                        LineIcon {
                            anchors.centerIn: parent
                            width: 20
                            height: 20
                            name: "gift"
                            iconColor: "#f08a82"
                        }
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 3

                        Label {
                            Layout.fillWidth: true
                            text: window.t("邀请好友一起使用岚舟")
                            color: window.primaryTextColor
                            font.pixelSize: 18
                            font.weight: Font.Bold
                            wrapMode: Text.Wrap
                        }

                        Label {
                            Layout.fillWidth: true
                            textFormat: Text.PlainText
                            text: invitePage.description.length > 0 ? window.t(invitePage.description)
                                                                    : window.t("好友使用你的邀请码注册后，你可以获得会员奖励时长。")
                            color: window.secondaryTextColor
                            font.pixelSize: 13
                            wrapMode: Text.Wrap
                        }
                    }
                }

                Rectangle {
                    visible: invitePage.inviteCode.length > 0
                    Layout.fillWidth: true
                    implicitHeight: 78
                    radius: 16
                    color: "#202425"
                    border.color: window.dividerColor
                    border.width: 1

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 20
                        anchors.rightMargin: 16
                        spacing: 14

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            Label {
                                text: window.t("我的邀请码")
                                color: window.secondaryTextColor
                                font.pixelSize: 12
                            }

                            Label {
                                Layout.fillWidth: true
                                textFormat: Text.PlainText
                                text: invitePage.inviteCode
                                color: "#f08a82"
                                font.pixelSize: 24
                                font.weight: Font.Bold
                                font.letterSpacing: 2
                                elide: Text.ElideRight
                            }
                        }

                        ActionButton {
                            primary: true
                            text: window.copiedKey === "invite-code" ? window.t("已复制") : window.t("复制邀请码")
                            reserveText: window.copiedKey === "invite-code" ? window.t("复制邀请码") : window.t("已复制")
                            onClicked: window.markCopied("invite-code", invitePage.inviteCode)
                        }
                    }
                }

                Rectangle {
                    visible: invitePage.inviteLink.length > 0
                    Layout.fillWidth: true
                    implicitHeight: 70
                    radius: 16
                    color: "#202425"
                    border.color: window.dividerColor
                    border.width: 1

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 20
                        anchors.rightMargin: 16
                        spacing: 14

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            Label {
                                text: window.t("邀请链接")
                                color: window.secondaryTextColor
                                font.pixelSize: 12
                            }

                            Label {
                                Layout.fillWidth: true
                                textFormat: Text.PlainText
                                text: invitePage.inviteLink
                                color: window.primaryTextColor
                                font.pixelSize: 14
                                elide: Text.ElideMiddle
                            }
                        }

                        ActionButton {
                            text: window.copiedKey === "invite-link" ? window.t("已复制") : window.t("复制链接")
                            reserveText: window.copiedKey === "invite-link" ? window.t("复制链接") : window.t("已复制")
                            onClicked: window.markCopied("invite-link", invitePage.inviteLink)
                        }
                    }
                }
            }

            RowLayout {
                visible: invitePage.hasInvite && (invitePage.invitedCount >= 0 || invitePage.rewardDays >= 0)
                Layout.fillWidth: true
                spacing: 16

                StatCard {
                    visible: invitePage.invitedCount >= 0
                    Layout.fillWidth: true
                    title: window.t("已邀请好友")
                    value: window.t("%1 人").arg(Math.max(0, invitePage.invitedCount))
                }

                StatCard {
                    visible: invitePage.rewardDays >= 0
                    Layout.fillWidth: true
                    title: window.t("已获得奖励")
                    value: window.tn("%1 天", Math.max(0, invitePage.rewardDays))
                }
            }
        }
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
                                textFormat: Text.PlainText
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

            ApiErrorNote {
                id: settingsErrorNote
                // The about tab says its own outcome beside its buttons: one message per event.
                visible: shownText.length > 0 && window.settingsTab !== "about"

                // An error belongs to the tab that caused it.
                Connections {
                    target: window
                    function onSettingsTabChanged() { settingsErrorNote.clearAll() }
                    function onAccountTabChanged() { settingsErrorNote.clearAll() }
                }

                function clearAll() {
                    shownText = ""
                    passwordForm.noticeKey = ""
                    passwordForm.serverNotice = ""
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
                        textFormat: Text.PlainText
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

                    ColumnLayout {
                        visible: window.settingsTab === "account"
                        Layout.fillWidth: true
                        spacing: 18

                        SegmentedTabs {
                            options: window.accountTabs
                            current: window.accountTab
                            onPicked: function(key) { window.accountTab = key }
                        }

                        ColumnLayout {
                            visible: window.accountTab === "overview"
                            Layout.fillWidth: true
                            spacing: 16

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 14

                                Rectangle {
                                    Layout.preferredWidth: 52
                                    Layout.preferredHeight: 52
                                    radius: 26
                                    color: window.accentSoftColor
                                    border.color: "#64433f"
                                    border.width: 1

                                    Label {
                                        anchors.centerIn: parent
                                        textFormat: Text.PlainText
                                        text: window.accountName.length > 0 ? window.accountName.charAt(0).toUpperCase() : ""
                                        color: "#f08a82"
                                        font.pixelSize: 20
                                        font.weight: Font.Bold
                                    }
                                }

                                ColumnLayout {
                                    Layout.fillWidth: true
                                    spacing: 3

                                    Label {
                                        Layout.fillWidth: true
                                        textFormat: Text.PlainText
                                        text: window.hasController && appController.authEmail.length > 0 ? appController.authEmail : window.t("未登录")
                                        color: window.primaryTextColor
                                        font.pixelSize: 17
                                        font.weight: Font.DemiBold
                                        elide: Text.ElideRight
                                    }

                                    Label {
                                        Layout.fillWidth: true
                                        text: window.t("登录邮箱")
                                        color: window.secondaryTextColor
                                        font.pixelSize: 12
                                    }
                                }

                                InfoBadge {
                                    label: {
                                        if (!window.hasController)
                                            return ""
                                        if (appController.hasActiveMembership)
                                            return appController.currentPlanName === "体验会员" ? window.t("体验会员") : window.t("会员有效")
                                        return appController.currentPlanStatusText === "已过期" ? window.t("已过期") : window.t("未开通会员")
                                    }
                                }
                            }

                            GridLayout {
                                Layout.fillWidth: true
                                columns: 2
                                columnSpacing: 12
                                rowSpacing: 12

                                InfoTile {
                                    title: window.t("当前套餐")
                                    value: window.hasController ? window.t(appController.currentPlanName) : ""
                                }

                                InfoTile {
                                    title: window.hasController && appController.hasActiveMembership ? window.t("到期时间") : window.t("会员状态")
                                    value: window.hasController ? window.t(appController.currentPlanStatusText) : ""
                                }
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 10

                                ActionButton {
                                    primary: true
                                    text: window.t("前往充值")
                                    onClicked: window.navigateTo("plans")
                                }

                                ActionButton {
                                    text: window.t("退出登录")
                                    onClicked: {
                                        if (!window.hasController)
                                            return
                                        // Signing out ends the tunnel: ask first while one is up.
                                        if (appController.vpnPhase !== "disconnected" && appController.vpnPhase !== "failed")
                                            window.signOutDialogVisible = true
                                        else
                                            appController.signOut()
                                    }
                                }
                            }

                            Rectangle {
                                Layout.fillWidth: true
                                Layout.topMargin: 6
                                Layout.preferredHeight: 1
                                color: window.dividerColor
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 16

                                ColumnLayout {
                                    Layout.fillWidth: true
                                    spacing: 4

                                    Label {
                                        Layout.fillWidth: true
                                        text: window.t("注销账号")
                                        color: window.primaryTextColor
                                        font.pixelSize: 15
                                        font.weight: Font.DemiBold
                                    }

                                    Label {
                                        Layout.fillWidth: true
                                        text: window.t("注销后账号、套餐时长和设备记录都会被删除，且无法恢复。")
                                        color: window.secondaryTextColor
                                        font.pixelSize: 12
                                        wrapMode: Text.Wrap
                                    }
                                }

                                ActionButton {
                                    text: window.t("注销账号")
                                    onClicked: window.deleteAccountDialogVisible = true
                                }
                            }
                        }

                        ColumnLayout {
                            id: passwordForm
                            objectName: "passwordForm"
                            visible: window.accountTab === "password"
                            Layout.fillWidth: true
                            Layout.maximumWidth: 460
                            spacing: 6

                            property string noticeKey: ""
                            property string serverNotice: ""

                            function submit() {
                                noticeKey = ""
                                serverNotice = ""
                                if (currentPasswordField.text.length === 0) {
                                    noticeKey = "请输入当前密码。"
                                    return
                                }
                                if (newPasswordField.text.length < 8) {
                                    noticeKey = "新密码至少需要 8 位。"
                                    return
                                }
                                if (newPasswordField.text !== confirmPasswordField.text) {
                                    noticeKey = "两次输入的新密码不一致。"
                                    return
                                }
                                if (!window.hasController)
                                    return
                                appController.changePassword(currentPasswordField.text, newPasswordField.text)
                                currentPasswordField.clear()
                                if (appController.loggedIn) {
                                    // Refused: the error goes into this form (one at a time) and the
                                    // new password stays typed.
                                    serverNotice = appController.apiError
                                    settingsErrorNote.shownText = ""
                                    currentPasswordField.forceActiveFocus()
                                    return
                                }
                                newPasswordField.clear()
                                confirmPasswordField.clear()
                            }

                            FieldCaption { text: window.t("当前密码") }

                            FormField {
                                id: currentPasswordField
                                objectName: "currentPasswordField"
                                echoMode: TextInput.Password
                                placeholderText: window.t("请输入当前密码")
                                onAccepted: passwordForm.submit()
                            }

                            FieldCaption {
                                Layout.topMargin: 8
                                text: window.t("新密码")
                            }

                            FormField {
                                id: newPasswordField
                                objectName: "newPasswordField"
                                echoMode: TextInput.Password
                                placeholderText: window.t("至少 8 位")
                                onAccepted: passwordForm.submit()
                            }

                            FieldCaption {
                                Layout.topMargin: 8
                                text: window.t("确认新密码")
                            }

                            FormField {
                                id: confirmPasswordField
                                objectName: "confirmPasswordField"
                                echoMode: TextInput.Password
                                placeholderText: window.t("再次输入新密码")
                                onAccepted: passwordForm.submit()
                            }

                            // Always laid out, so a message does not move the button under the pointer.
                            Label {
                                objectName: "passwordFormError"
                                Layout.fillWidth: true
                                Layout.topMargin: 6
                                Layout.minimumHeight: 36
                                textFormat: Text.PlainText
                                text: passwordForm.noticeKey.length > 0 ? window.t(passwordForm.noticeKey)
                                                                        : passwordForm.serverNotice
                                color: "#f4b0a9"
                                font.pixelSize: 13
                                wrapMode: Text.Wrap
                            }

                            Label {
                                Layout.fillWidth: true
                                Layout.topMargin: 6
                                text: window.t("修改成功后需要使用新密码重新登录。")
                                color: window.tertiaryTextColor
                                font.pixelSize: 12
                                wrapMode: Text.Wrap
                            }

                            ActionButton {
                                Layout.topMargin: 8
                                primary: true
                                enabled: !window.controllerBusy
                                text: window.t("修改密码")
                                onClicked: passwordForm.submit()
                            }
                        }
                    }

                    ColumnLayout {
                        visible: window.settingsTab === "general"
                        Layout.fillWidth: true
                        spacing: 12

                        Repeater {
                            model: [
                                { "key": "auto_connect", "label": "启动时自动连接", "detail": "打开岚舟后自动连接到当前选择的节点。" },
                                { "key": "launch_at_login", "label": "开机自动启动", "detail": "登录系统后在后台启动岚舟，窗口留在托盘中。" },
                                { "key": "reconnect_on_drop", "label": "断线自动重连", "detail": "连接意外中断时自动重新连接到同一节点。" },
                                { "key": "notify_on_drop", "label": "断线通知", "detail": "连接意外中断时在托盘弹出通知。" }
                            ]

                            Rectangle {
                                id: switchRow
                                readonly property bool on: {
                                    if (!window.hasController)
                                        return false
                                    if (modelData.key === "auto_connect")
                                        return appController.autoConnect
                                    if (modelData.key === "launch_at_login")
                                        return appController.launchAtLogin
                                    if (modelData.key === "reconnect_on_drop")
                                        return appController.reconnectOnDrop
                                    return appController.notifyOnDrop
                                }
                                Layout.fillWidth: true
                                implicitHeight: Math.max(70, switchColumn.implicitHeight + 28)
                                radius: 16
                                color: switchArea.containsMouse ? window.elevatedColor : "#202425"
                                border.width: 1
                                border.color: window.dividerColor

                                RowLayout {
                                    anchors.fill: parent
                                    anchors.leftMargin: 18
                                    anchors.rightMargin: 16
                                    spacing: 14

                                    ColumnLayout {
                                        id: switchColumn
                                        Layout.fillWidth: true
                                        spacing: 3

                                        Label {
                                            Layout.fillWidth: true
                                            textFormat: Text.PlainText
                                            text: window.t(modelData.label)
                                            color: window.primaryTextColor
                                            font.pixelSize: 15
                                            font.weight: Font.DemiBold
                                            elide: Text.ElideRight
                                        }

                                        Label {
                                            Layout.fillWidth: true
                                            textFormat: Text.PlainText
                                            text: window.t(modelData.detail)
                                            color: window.secondaryTextColor
                                            font.pixelSize: 13
                                            wrapMode: Text.Wrap
                                        }
                                    }

                                    WarmSwitch {
                                        checked: switchRow.on
                                        onToggled: {
                                            if (window.hasController)
                                                appController.setSetting(modelData.key, checked)
                                            checked = Qt.binding(function() { return switchRow.on })
                                        }
                                    }
                                }

                                MouseArea {
                                    id: switchArea
                                    anchors.fill: parent
                                    z: -1
                                    hoverEnabled: true
                                    acceptedButtons: Qt.NoButton
                                }
                            }
                        }
                    }

                    ColumnLayout {
                        visible: window.settingsTab === "routing"
                        Layout.fillWidth: true
                        spacing: 12

                        Repeater {
                            model: window.routingChoices

                            ChoiceRow {
                                title: window.t(modelData.label)
                                detail: window.t(modelData.detail)
                                current: window.routingMode === modelData.key
                                onActivated: {
                                    if (window.hasController)
                                        appController.setPreference("network", "routing_mode", modelData.key)
                                }
                            }
                        }

                        Label {
                            Layout.fillWidth: true
                            text: window.t("切换后立即生效；已连接时会自动应用到当前连接。")
                            color: window.tertiaryTextColor
                            font.pixelSize: 13
                            wrapMode: Text.Wrap
                        }
                    }

                    ColumnLayout {
                        id: aboutPanel
                        visible: window.settingsTab === "about"
                        Layout.fillWidth: true
                        spacing: 18

                        // The outcome of the last upload or cache clearing, shown beside the buttons.
                        property string diagnosticResult: ""
                        property bool uploadPending: false

                        function uploadLog() {
                            if (!window.hasController)
                                return
                            diagnosticResult = ""
                            uploadPending = true
                            appController.uploadDiagnosticLog()
                        }

                        function clearCache() {
                            if (!window.hasController)
                                return
                            uploadPending = false
                            appController.clearCachedLogs()
                            diagnosticResult = appController.apiError
                        }

                        Connections {
                            target: window

                            function onCacheClearConfirmed() {
                                aboutPanel.clearCache()
                            }
                        }

                        Connections {
                            target: window.hasController && aboutPanel.uploadPending ? appController : null

                            // Every upload ends here, also a second failure with the same text.
                            function onDiagnosticUploadFinished(success, message) {
                                aboutPanel.diagnosticResult = message.length > 0 ? message : appController.apiError
                                aboutPanel.uploadPending = false
                            }
                        }

                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 20

                            StatCard {
                                Layout.preferredWidth: 240
                                title: window.t("岚舟")
                                value: window.t("版本 %1").arg(window.clientVersion)
                                caption: window.hasController ? appController.desktopPlatformLabel : ""
                                diagnosticUploadEnabled: true
                                onDiagnosticUploadRequested: aboutPanel.uploadLog()
                            }

                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 10

                                Label {
                                    Layout.fillWidth: true
                                    text: window.t("遇到连接问题时，可以上传诊断日志，帮助我们更快定位原因。")
                                    color: window.secondaryTextColor
                                    font.pixelSize: 13
                                    wrapMode: Text.Wrap
                                }

                                // Wraps when the translated buttons do not fit on one line.
                                Flow {
                                    Layout.fillWidth: true
                                    spacing: 10

                                    ActionButton {
                                        text: window.copiedKey === "version" ? window.t("已复制") : window.t("复制版本号")
                                        reserveText: window.copiedKey === "version" ? window.t("复制版本号") : window.t("已复制")
                                        onClicked: window.markCopied("version", window.t("版本 %1").arg(window.clientVersion))
                                    }

                                    ActionButton {
                                        primary: true
                                        text: window.t("上传诊断日志")
                                        enabled: !aboutPanel.uploadPending
                                        onClicked: aboutPanel.uploadLog()
                                    }

                                    ActionButton {
                                        objectName: "clearCacheButton"
                                        text: window.t("清理缓存")
                                        onClicked: window.clearCacheDialogVisible = true
                                    }
                                }

                                // Its line is kept even when empty, so nothing below moves when it speaks.
                                Label {
                                    Layout.fillWidth: true
                                    Layout.minimumHeight: 18
                                    text: aboutPanel.uploadPending ? window.t("正在上传诊断日志...") : aboutPanel.diagnosticResult
                                    textFormat: Text.PlainText
                                    color: [window.t("日志已上传"), window.t("缓存已清理")].indexOf(text) >= 0 ? window.successColor : "#f08a82"
                                    font.pixelSize: 13
                                    wrapMode: Text.Wrap
                                }
                            }
                        }

                        Rectangle {
                            Layout.fillWidth: true
                            Layout.preferredHeight: 1
                            color: window.dividerColor
                        }

                        Label {
                            text: window.t("协议与政策")
                            color: window.primaryTextColor
                            font.pixelSize: 15
                            font.weight: Font.DemiBold
                        }

                        RowLayout {
                            spacing: 10

                            ActionButton {
                                text: window.t("用户协议")
                                onClicked: window.policyDialogKind = "terms"
                            }

                            ActionButton {
                                text: window.t("隐私政策")
                                onClicked: window.policyDialogKind = "privacy"
                            }
                        }
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
                                            textFormat: Text.PlainText
                                            text: modelData.nativeName
                                            color: window.primaryTextColor
                                            font.pixelSize: 15
                                            font.weight: Font.DemiBold
                                            elide: Text.ElideRight
                                        }

                                        Label {
                                            Layout.fillWidth: true
                                            textFormat: Text.PlainText
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

            readonly property bool codeLogin: window.authMode === "login" && window.authLoginMethod === "code"
            readonly property bool registerVerify: window.authMode === "reg" && window.authRegisterStage === "verify"
            readonly property bool forgotReset: window.authMode === "forgot" && window.authForgotStage === "reset"
            readonly property bool showEmail: !registerVerify && !forgotReset
            readonly property bool showPassword: (window.authMode === "login" && !codeLogin)
                                                 || (window.authMode === "reg" && !registerVerify) || forgotReset
            readonly property bool showCode: codeLogin || registerVerify || (window.authMode === "forgot" && !forgotReset)
            readonly property string submitLabel: {
                if (window.authMode === "reg")
                    return registerVerify ? window.t("注册并登录") : window.t("下一步")
                if (window.authMode === "forgot")
                    return forgotReset ? window.t("重置密码") : window.t("验证邮箱")
                return window.t("登录")
            }

            Item {
                Layout.fillWidth: true
                Layout.preferredHeight: Math.max(authFormCard.implicitHeight, authPage.height - 64)

                RowLayout {
                    anchors.fill: parent
                    spacing: 28

                    Rectangle {
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        radius: 30
                        color: window.surfaceColor
                        border.color: window.dividerColor
                        border.width: 1

                        // Soft glows kept inside the card so its rounded corners stay clean.
                        Rectangle {
                            width: Math.min(parent.width, parent.height) * 0.46
                            height: width
                            radius: width / 2
                            x: parent.width - width - 24
                            y: 24
                            color: window.accentColor
                            opacity: 0.05
                        }

                        Rectangle {
                            width: Math.min(parent.width, parent.height) * 0.3
                            height: width
                            radius: width / 2
                            x: parent.width * 0.5
                            y: parent.height - height - 24
                            color: "#fa8a3c"
                            opacity: 0.045
                        }

                        ColumnLayout {
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.leftMargin: 48
                            anchors.rightMargin: 48
                            spacing: 14

                            Image {
                                source: "qrc:/assets/logo.png"
                                Layout.preferredWidth: 80
                                Layout.preferredHeight: 80
                                sourceSize.width: 160
                                sourceSize.height: 160
                                smooth: true
                                mipmap: true
                            }

                            Label {
                                Layout.topMargin: 6
                                text: window.t("岚舟")
                                color: window.primaryTextColor
                                font.pixelSize: 36
                                font.weight: Font.Bold
                            }

                            Label {
                                Layout.fillWidth: true
                                text: window.t("一键启程 · 畅连世界")
                                color: "#f08a82"
                                font.pixelSize: 16
                                font.weight: Font.DemiBold
                                wrapMode: Text.Wrap
                            }

                            Rectangle {
                                Layout.topMargin: 4
                                Layout.preferredWidth: 48
                                Layout.preferredHeight: 3
                                radius: 1.5
                                color: window.accentSoftColor
                            }

                            Label {
                                Layout.fillWidth: true
                                textFormat: Text.PlainText
                                text: window.hasController && appController.statusText.length > 0
                                      ? appController.statusText : window.t("登录后同步你的岚舟节点")
                                color: window.secondaryTextColor
                                font.pixelSize: 14
                                wrapMode: Text.Wrap
                            }

                            Repeater {
                                model: [
                                    { "icon": "globe", "text": "全球节点，智能选择低延迟线路" },
                                    { "icon": "bolt", "text": "一键连接，稳定加速" },
                                    { "icon": "user", "text": "一个账号，多台设备同时在线" }
                                ]

                                // Anchored rather than a row layout: the point wraps in a narrow
                                // window, and its height then follows in one pass.
                                Item {
                                    Layout.fillWidth: true
                                    Layout.topMargin: index === 0 ? 22 : 4
                                    implicitHeight: Math.max(34, brandPointText.implicitHeight)

                                    Rectangle {
                                        id: brandPointIcon
                                        anchors.left: parent.left
                                        anchors.verticalCenter: parent.verticalCenter
                                        width: 34
                                        height: 34
                                        radius: 11
                                        color: window.elevatedColor
                                        border.color: window.dividerColor
                                        border.width: 1

                                        LineIcon {
                                            anchors.centerIn: parent
                                            name: modelData.icon
                                            iconColor: "#f08a82"
                                        }
                                    }

                                    Label {
                                        id: brandPointText
                                        anchors.left: brandPointIcon.right
                                        anchors.leftMargin: 12
                                        anchors.right: parent.right
                                        anchors.verticalCenter: parent.verticalCenter
                                        textFormat: Text.PlainText
                                        text: window.t(modelData.text)
                                        color: window.primaryTextColor
                                        font.pixelSize: 14
                                        wrapMode: Text.Wrap
                                    }
                                }
                            }
                        }
                    }

                    Rectangle {
                        id: authFormCard
                        Layout.preferredWidth: 452
                        Layout.fillHeight: true
                        implicitHeight: formColumn.implicitHeight + 64
                        radius: 30
                        color: window.surfaceColor
                        border.color: window.dividerColor
                        border.width: 1

                        ColumnLayout {
                            id: formColumn
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.leftMargin: 40
                            anchors.rightMargin: 40
                            spacing: 12

                            Label {
                                Layout.fillWidth: true
                                textFormat: Text.PlainText
                                // Not "欢迎回来": the form cannot tell a first-time user from a returning one.
                                text: window.authMode === "reg" ? window.t("注册账号")
                                                                : (window.authMode === "forgot" ? window.t("重置密码") : window.t("登录岚舟"))
                                color: window.primaryTextColor
                                font.pixelSize: 26
                                font.weight: Font.Bold
                                elide: Text.ElideRight
                            }

                            Label {
                                Layout.fillWidth: true
                                Layout.bottomMargin: 4
                                textFormat: Text.PlainText
                                text: {
                                    var email = window.authEmail.trim()
                                    if (window.authMode === "reg")
                                        return authPage.registerVerify ? window.t("请输入发送至 %1 的 6 位验证码完成注册。").arg(email)
                                                                       : window.t("使用邮箱注册岚舟账号")
                                    if (window.authMode === "forgot")
                                        return authPage.forgotReset ? window.t("为 %1 设置新的登录密码。").arg(email)
                                                                    : window.t("验证邮箱后即可设置新密码")
                                    return authPage.codeLogin ? window.t("使用邮箱验证码快速登录") : window.t("使用邮箱和密码登录岚舟")
                                }
                                color: window.secondaryTextColor
                                font.pixelSize: 13
                                wrapMode: Text.Wrap
                            }

                            SegmentedTabs {
                                visible: window.authMode === "login"
                                Layout.fillWidth: true
                                Layout.bottomMargin: 4
                                stretch: true
                                options: window.loginMethods
                                current: window.authLoginMethod
                                onPicked: function(key) {
                                    if (key !== window.authLoginMethod)
                                        window.switchAuthMode("login", key)
                                }
                            }

                            ColumnLayout {
                                visible: authPage.showEmail
                                Layout.fillWidth: true
                                spacing: 6

                                FieldCaption { text: window.t("邮箱") }

                                FormField {
                                    text: window.authEmail
                                    placeholderText: "name@example.com"
                                    inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
                                    onTextChanged: window.authEmail = text
                                    onAccepted: window.submitAuth()
                                }
                            }

                            ColumnLayout {
                                visible: authPage.showPassword
                                Layout.fillWidth: true
                                spacing: 6

                                FieldCaption { text: authPage.forgotReset ? window.t("新密码") : window.t("密码") }

                                FormField {
                                    text: window.authPassword
                                    echoMode: TextInput.Password
                                    placeholderText: window.authMode === "login" ? window.t("请输入密码") : window.t("至少 8 位")
                                    onTextChanged: window.authPassword = text
                                    onAccepted: window.submitAuth()
                                }
                            }

                            ColumnLayout {
                                visible: authPage.forgotReset
                                Layout.fillWidth: true
                                spacing: 6

                                FieldCaption { text: window.t("确认新密码") }

                                FormField {
                                    text: window.authPasswordConfirm
                                    echoMode: TextInput.Password
                                    placeholderText: window.t("再次输入新密码")
                                    onTextChanged: window.authPasswordConfirm = text
                                    onAccepted: window.submitAuth()
                                }
                            }

                            ColumnLayout {
                                visible: authPage.showCode
                                Layout.fillWidth: true
                                spacing: 6

                                FieldCaption { text: window.t("验证码") }

                                RowLayout {
                                    Layout.fillWidth: true
                                    spacing: 10

                                    FormField {
                                        text: window.authCode
                                        placeholderText: window.t("6 位验证码")
                                        inputMethodHints: Qt.ImhDigitsOnly
                                        onTextChanged: window.authCode = text
                                        onAccepted: window.submitAuth()
                                    }

                                    ActionButton {
                                        Layout.preferredWidth: 136
                                        implicitHeight: 46
                                        leftPadding: 10
                                        rightPadding: 10
                                        font.pixelSize: 13
                                        enabled: !window.controllerBusy
                                        text: window.authCodeCooldownRemaining > 0
                                              ? window.t("%1 秒后重发").arg(window.authCodeCooldownRemaining)
                                              : (window.authCodeSent ? window.t("重新发送") : window.t("获取验证码"))
                                        onClicked: window.sendAuthCode()
                                    }
                                }
                            }

                            ColumnLayout {
                                visible: window.authMode === "reg" && !authPage.registerVerify
                                Layout.fillWidth: true
                                spacing: 6

                                FieldCaption { text: window.t("邀请码（选填）") }

                                FormField {
                                    text: window.authInviteCode
                                    placeholderText: window.t("没有可不填")
                                    onTextChanged: window.authInviteCode = text
                                    onAccepted: window.submitAuth()
                                }
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                Layout.topMargin: 2
                                spacing: 10

                                CheckBox {
                                    id: agreementBox
                                    implicitWidth: 18
                                    implicitHeight: 18
                                    padding: 0
                                    checked: window.authAgreementAccepted
                                    onToggled: window.authAgreementAccepted = checked

                                    indicator: Rectangle {
                                        implicitWidth: 18
                                        implicitHeight: 18
                                        x: agreementBox.leftPadding
                                        y: (agreementBox.height - height) / 2
                                        radius: 5
                                        color: agreementBox.checked ? window.accentColor : "transparent"
                                        border.width: agreementBox.checked ? 0 : 1.5
                                        border.color: agreementBox.hovered ? "#7a8081" : "#5a6061"

                                        Canvas {
                                            anchors.fill: parent
                                            visible: agreementBox.checked
                                            onPaint: {
                                                var ctx = getContext("2d")
                                                ctx.reset()
                                                ctx.strokeStyle = "#ffffff"
                                                ctx.lineWidth = 2
                                                ctx.lineCap = "round"
                                                ctx.lineJoin = "round"
                                                ctx.beginPath()
                                                ctx.moveTo(width * 0.26, height * 0.52)
                                                ctx.lineTo(width * 0.44, height * 0.7)
                                                ctx.lineTo(width * 0.76, height * 0.32)
                                                ctx.stroke()
                                            }
                                        }
                                    }

                                    contentItem: Item {
                                        implicitWidth: 0
                                        implicitHeight: 18
                                    }
                                }

                                Label {
                                    id: agreementLabel
                                    Layout.fillWidth: true
                                    textFormat: Text.StyledText
                                    wrapMode: Text.Wrap
                                    color: window.secondaryTextColor
                                    linkColor: "#f08a82"
                                    font.pixelSize: 12
                                    text: window.t("我已阅读并同意《%1》和《%2》")
                                          .arg("<a href=\"terms\">" + window.t("用户协议") + "</a>")
                                          .arg("<a href=\"privacy\">" + window.t("隐私政策") + "</a>")
                                    onLinkActivated: function(link) { window.policyDialogKind = link }

                                    MouseArea {
                                        anchors.fill: parent
                                        acceptedButtons: Qt.NoButton
                                        cursorShape: agreementLabel.hoveredLink.length > 0 ? Qt.PointingHandCursor : Qt.ArrowCursor
                                    }
                                }
                            }

                            ActionButton {
                                Layout.fillWidth: true
                                Layout.topMargin: 4
                                implicitHeight: 48
                                primary: true
                                enabled: !window.controllerBusy
                                opacity: window.controllerBusy ? 0.8 : 1
                                text: window.controllerBusy
                                      ? (window.hasController && appController.loadingText.length > 0 ? appController.loadingText : window.t("请稍候…"))
                                      : authPage.submitLabel
                                onClicked: window.submitAuth()

                                Spinner {
                                    visible: window.controllerBusy
                                    anchors.left: parent.left
                                    anchors.leftMargin: 18
                                    anchors.verticalCenter: parent.verticalCenter
                                }
                            }

                            // One message at a time (the form's own first, else the server's), in
                            // space that is always kept, so nothing below moves when it appears.
                            Label {
                                objectName: "authMessage"
                                Layout.fillWidth: true
                                Layout.minimumHeight: 36
                                textFormat: Text.PlainText
                                text: {
                                    if (window.authNoticeKey.length === 0)
                                        return window.hasController ? appController.apiError : ""
                                    var message = window.t(window.authNoticeKey)
                                    return message.indexOf("%1") >= 0 ? message.arg(window.authNoticeArg) : message
                                }
                                color: window.authNoticeKey.length > 0 && !window.authNoticeIsError
                                       ? window.successColor : "#f4b0a9"
                                font.pixelSize: 13
                                wrapMode: Text.Wrap
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                Layout.topMargin: 2
                                spacing: 12

                                LinkText {
                                    visible: window.authMode === "login"
                                    text: window.t("注册账号")
                                    onActivated: window.switchAuthMode("reg", "")
                                }

                                LinkText {
                                    visible: authPage.registerVerify || authPage.forgotReset
                                    text: window.t("返回上一步")
                                    onActivated: {
                                        window.authNoticeKey = ""
                                        if (window.authMode === "reg")
                                            window.authRegisterStage = "form"
                                        else
                                            window.authForgotStage = "verify"
                                    }
                                }

                                Item { Layout.fillWidth: true }

                                LinkText {
                                    visible: window.authMode === "login"
                                    text: window.t("忘记密码？")
                                    onActivated: window.switchAuthMode("forgot", "")
                                }

                                LinkText {
                                    visible: window.authMode !== "login"
                                    text: window.t("返回登录")
                                    onActivated: window.switchAuthMode("login", "password")
                                }
                            }

                            Rectangle {
                                Layout.fillWidth: true
                                Layout.topMargin: 6
                                Layout.preferredHeight: 1
                                color: window.dividerColor
                            }

                            Item {
                                Layout.fillWidth: true
                                Layout.preferredHeight: serverToggleRow.implicitHeight

                                Row {
                                    id: serverToggleRow
                                    spacing: 6

                                    Label {
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: window.t("服务器地址")
                                        color: serverToggleArea.containsMouse ? window.secondaryTextColor : "#7d8382"
                                        font.pixelSize: 12
                                    }

                                    LineIcon {
                                        anchors.verticalCenter: parent.verticalCenter
                                        width: 12
                                        height: 12
                                        name: window.authServerFieldVisible ? "chevron-up" : "chevron-down"
                                        iconColor: "#7d8382"
                                    }
                                }

                                MouseArea {
                                    id: serverToggleArea
                                    width: serverToggleRow.width
                                    height: serverToggleRow.height
                                    hoverEnabled: true
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: window.authServerFieldVisible = !window.authServerFieldVisible
                                }
                            }

                            FormField {
                                visible: window.authServerFieldVisible
                                implicitHeight: 40
                                font.pixelSize: 13
                                text: window.apiBaseUrl
                                placeholderText: "https://"
                                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase
                                onTextChanged: window.apiBaseUrl = text
                            }
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

        function onApiBaseUrlChanged() {
            window.apiBaseUrl = appController.apiBaseUrl
        }

        // A new session starts the auth page afresh next time; the e-mail stays for convenience.
        function onLoggedInChanged() {
            if (!appController.loggedIn)
                return
            window.switchAuthMode("login", "password")
            window.authInviteCode = ""
            window.deviceRevokeTarget = null
        }

        function onToastMessageChanged() {
            if (appController.toastMessage.length > 0) {
                toastLayer.shownText = appController.toastMessage
                toastTimer.restart()
            } else {
                toastTimer.stop()
            }
        }
    }

    LazyLayer {
        id: toastLayer
        property string shownText: window.hasController ? appController.toastMessage : ""
        z: 50
        shown: window.hasController && appController.toastMessage.length > 0

        sourceComponent: Rectangle {
            id: toast
            objectName: "toast"
            readonly property bool showing: toastLayer.shown

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
                enabled: !window.reducedMotion
                NumberAnimation { duration: 180; easing.type: Easing.OutCubic }
            }

            // Made with the first message: rise and fade in as the later ones do.
            ParallelAnimation {
                id: toastFirstShow
                NumberAnimation { target: toast; property: "opacity"; from: 0; to: 1; duration: 180 }
                NumberAnimation {
                    target: toast
                    property: "anchors.bottomMargin"
                    from: 28
                    to: 40
                    duration: 180
                    easing.type: Easing.OutCubic
                }
            }
            Component.onCompleted: {
                if (showing)
                    toastFirstShow.start()
            }

            Label {
                id: toastLabel
                anchors.centerIn: parent
                width: Math.min(implicitWidth, 512)
                textFormat: Text.PlainText
                text: toastLayer.shownText
                color: window.primaryTextColor
                font.pixelSize: 14
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }

    // --- dialogs

    LazyLayer {
        id: closeDialogLayer
        z: 100
        shown: window.closeDialogVisible

        sourceComponent: ModalLayer {
            id: closeDialog
            objectName: "closeDialog"
            visible: closeDialogLayer.shown
            heading: window.t("是否关闭岚舟界面？")
            message: window.trayAvailable ? window.t("岚舟会继续在后台运行，可从托盘菜单重新打开；只有托盘菜单的退出会真正关闭程序。")
                                          : window.t("系统没有托盘，岚舟会把窗口最小化到任务栏并继续运行；再次打开岚舟也会显示这个窗口。")

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
    }

    LazyLayer {
        id: speedTestVpnDialogLayer
        z: 90
        shown: window.speedTestVpnDialogVisible

        sourceComponent: ModalLayer {
            id: speedTestVpnDialog
            objectName: "speedTestVpnDialog"
            visible: speedTestVpnDialogLayer.shown
            heading: window.t("需要先开启 VPN")
            message: window.t("测速会检测当前加速线路，请先连接 VPN 后再开始测速。")

            ActionButton {
                primary: true
                text: window.t("我知道了")
                onClicked: window.speedTestVpnDialogVisible = false
            }
        }
    }

    LazyLayer {
        id: clearCacheDialogLayer
        z: 90
        shown: window.clearCacheDialogVisible

        sourceComponent: ModalLayer {
            objectName: "clearCacheDialog"
            visible: clearCacheDialogLayer.shown
            heading: window.t("清理缓存？")
            message: window.t("将删除本机的诊断日志（desktop-controller.log）和 VPN 核心日志（sing-box.log）。清理后，这些日志无法再上传给客服。")

            ActionButton {
                text: window.t("取消")
                onClicked: window.clearCacheDialogVisible = false
            }
            ActionButton {
                primary: true
                text: window.t("清理")
                onClicked: {
                    window.clearCacheDialogVisible = false
                    window.cacheClearConfirmed()
                }
            }
        }
    }

    LazyLayer {
        id: policyDialogLayer
        z: 90
        shown: window.policyDocuments[window.policyDialogKind] !== undefined

        sourceComponent: ModalLayer {
            id: policyDialog
            objectName: "policyDialog"
            visible: policyDialogLayer.shown
            readonly property var policy: window.policyDocuments[window.policyDialogKind]
            heading: policy ? window.t(policy.title) : ""
            message: {
                if (!policy)
                    return ""
                var paragraphs = []
                for (var i = 0; i < policy.paragraphs.length; ++i)
                    paragraphs.push(window.t(policy.paragraphs[i]))
                return paragraphs.join("\n\n")
            }

            ActionButton {
                primary: true
                text: window.t("我知道了")
                onClicked: window.policyDialogKind = ""
            }
        }
    }

    LazyLayer {
        id: deleteAccountDialogLayer
        z: 90
        shown: window.deleteAccountDialogVisible

        sourceComponent: ModalLayer {
            id: deleteAccountDialog
            objectName: "deleteAccountDialog"
            visible: deleteAccountDialogLayer.shown
            heading: window.t("注销账号")
            message: window.t("注销后账号、套餐时长和设备记录都会被删除，且无法恢复。")
            detail: window.t("确定要申请注销当前账号吗？")

            ActionButton {
                text: window.t("取消")
                onClicked: window.deleteAccountDialogVisible = false
            }
            ActionButton {
                primary: true
                text: window.t("申请注销")
                onClicked: {
                    window.deleteAccountDialogVisible = false
                    if (window.hasController)
                        appController.deleteAccount()
                }
            }
        }
    }

    LazyLayer {
        id: signOutDialogLayer
        z: 90
        shown: window.signOutDialogVisible

        sourceComponent: ModalLayer {
            id: signOutDialog
            objectName: "signOutDialog"
            visible: signOutDialogLayer.shown
            heading: window.t("退出登录")
            message: window.t("退出登录会断开当前的 VPN 连接。确定要退出吗？")

            ActionButton {
                text: window.t("取消")
                onClicked: window.signOutDialogVisible = false
            }
            ActionButton {
                primary: true
                text: window.t("断开并退出登录")
                onClicked: {
                    window.signOutDialogVisible = false
                    if (window.hasController)
                        appController.signOut()
                }
            }
        }
    }

    LazyLayer {
        id: deviceRevokeDialogLayer
        z: 90
        shown: window.deviceRevokeTarget !== null

        sourceComponent: ModalLayer {
            id: deviceRevokeDialog
            objectName: "deviceRevokeDialog"
            visible: deviceRevokeDialogLayer.shown
            heading: window.t("下线设备")
            message: {
                var target = window.deviceRevokeTarget
                var name = target ? window.textOf(target.name) : ""
                return name.length > 0 ? window.t("确定让“%1”下线吗？").arg(name) : window.t("确定让这台设备下线吗？")
            }
            detail: window.t("下线后，该设备需要重新登录才能继续使用。")

            ActionButton {
                text: window.t("取消")
                onClicked: window.deviceRevokeTarget = null
            }
            ActionButton {
                primary: true
                text: window.t("下线")
                onClicked: {
                    var target = window.deviceRevokeTarget
                    window.deviceRevokeTarget = null
                    if (window.hasController && target)
                        appController.revokeDevice(window.textOf(target.id))
                }
            }
        }
    }

    LazyLayer {
        id: membershipPromptLayer
        // The prompt's state lives here, before the prompt itself is made.
        property string copiedMessage: ""
        property bool planExpired: false
        z: 95

        Component.onCompleted: window.syncMembershipPrompt()

        sourceComponent: ModalLayer {
            id: membershipPrompt
            objectName: "membershipPrompt"
            visible: membershipPromptLayer.shown
            readonly property string shownMessage: {
                var copied = membershipPromptLayer.copiedMessage
                if (window.textOf(copied).length > 0)
                    return copied
                var current = window.hasController ? window.textOf(appController.membershipDialogMessage) : ""
                if (current.length > 0)
                    return current
                return membershipPromptLayer.planExpired ? window.t("当前套餐已过期，请先续费后继续连接。也可以通过邀请好友获得额外时长。")
                                                         : window.t("您还未购买套餐，请前往购买套餐，或者邀请好友可赠送时长。")
            }
            readonly property bool expired: membershipPromptLayer.planExpired || /过期|expired|期限/i.test(shownMessage)

            heading: window.t(expired ? "套餐已过期" : "未开通会员")
            message: shownMessage

            ActionButton {
                objectName: "membershipInviteButton"
                text: window.t("邀请好友")
                onClicked: window.answerMembershipPrompt("invite")
            }
            ActionButton {
                objectName: "membershipPlansButton"
                primary: true
                text: window.t(membershipPrompt.expired ? "前往充值" : "购买套餐")
                onClicked: window.answerMembershipPrompt("plans")
            }
        }
    }

    Connections {
        target: window.hasController ? appController : null

        function onMembershipDialogVisibleChanged() {
            window.syncMembershipPrompt()
        }

        // A second gate message while the prompt is open replaces the first.
        function onMembershipDialogMessageChanged() {
            if (membershipPromptLayer.shown && appController.membershipDialogVisible)
                window.syncMembershipPrompt()
        }

        // The copy is in the language it was shown in; take the controller's new translation.
        function onLanguageChanged() {
            if (membershipPromptLayer.shown)
                window.syncMembershipPrompt()
        }
    }

    Shortcut {
        sequence: "Escape"
        enabled: membershipPromptLayer.shown && !window.closeDialogVisible && window.policyDialogKind.length === 0
                 && !window.deleteAccountDialogVisible && window.deviceRevokeTarget === null
        onActivated: {
            membershipPromptLayer.shown = false
            if (window.hasController)
                appController.dismissMembershipDialog()
        }
    }

    LazyLayer {
        id: sessionKickDialogLayer
        z: 110
        shown: window.hasController && appController.sessionKickDialogVisible

        sourceComponent: ModalLayer {
            id: sessionKickDialog
            objectName: "sessionKickDialog"
            visible: sessionKickDialogLayer.shown
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

    LazyLayer {
        id: checkoutDialogLayer
        z: 95
        shown: window.checkoutDialogVisible

        sourceComponent: ModalLayer {
            id: checkoutDialog
            objectName: "checkoutDialog"
            visible: checkoutDialogLayer.shown
            readonly property var plan: window.checkoutPlan()
            heading: window.checkoutResume ? window.t("继续支付订单") : window.t("确认订单")
            message: {
                var name = window.checkoutPlanName.length > 0 ? window.t(window.checkoutPlanName)
                                                              : (plan ? window.planDisplayName(plan) : "—")
                // A resumed order costs what it was created for, not what the plan costs today.
                var orderAmount = window.checkoutResume ? window.orderAmountText(window.checkoutOrderId) : ""
                var price = orderAmount.length > 0 ? orderAmount : (plan ? window.amountText(plan["price"]) : "—")
                return window.t("套餐：%1 · %2").arg(name).arg(price)
            }
            detail: {
                var devices = plan ? window.firstText(plan, ["devices"]) : ""
                var lines = [window.t("设备：%1").arg(devices.length > 0 ? window.t(devices) : "—")]
                lines.push(window.checkoutResume // qmllint disable type
                           ? window.t("支付状态：待支付（订单 %1）").arg(window.checkoutOrderId)
                           : window.t("支付状态：尚未支付，确认后将在浏览器中打开支付页面。"))
                return lines.join("\n")
            }

            ActionButton {
                text: window.t("取消")
                onClicked: window.checkoutDialogVisible = false
            }
            ActionButton {
                primary: true
                enabled: window.hasController && !appController.busy
                text: window.checkoutResume ? window.t("继续支付") : window.t("去支付")
                onClicked: window.confirmCheckout()
            }
        }
    }

    LazyLayer {
        id: trialPromptLayer
        z: 96
        shown: window.trialPromptVisible

        sourceComponent: ModalLayer {
            id: trialPrompt
            objectName: "trialPrompt"
            visible: trialPromptLayer.shown
            heading: window.t("领取今日会员时长")
            message: {
                var status = window.hasController ? (appController.trialClaimStatus || {}) : ({})
                return window.t("您今天有 %1 分钟的会员时长可以领取，是否领取？").arg(Number(status["duration_minutes"]) || 0)
            }
            detail: window.t("领取后立即开始计时，今日 24:00 未用完的时长会自动清空。") + "\n"
                    + window.t("体验期间可以连接全部节点，仅限 1 台设备同时在线。")

            ActionButton {
                text: window.t("先不领取")
                onClicked: window.dismissTrialPrompt()
            }
            ActionButton {
                primary: true
                text: window.t("领取")
                onClicked: window.claimTrialFromPrompt()
            }
        }
    }
}
