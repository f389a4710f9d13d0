#include "appcontroller.h"

#include "platform/platform.h"

#include "api/apirequest.h"
#include "api/backendcontract.h"
#include "i18n/translations.h"
#include "tunnel/configrepository.h"
#include "tunnel/engineversion.h"
#include "tunnel/singboxprocessmanager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QUuid>

namespace {

// Pages whose data comes from the bootstrap alone: opened before any catalogue
// arrived, they start one.
bool isCataloguePage(const QString &page)
{
    static const QStringList pages{QStringLiteral("connect"), QStringLiteral("servers"),
                                   QStringLiteral("speedtest"), QStringLiteral("plans"), QStringLiteral("stats")};
    return pages.contains(page);
}

} // namespace

AppController::AppController(QObject *parent)
    : AppController(StartupTiming::Immediate, parent)
{
}

AppController::AppController(StartupTiming timing, QObject *parent)
    : QObject(parent)
{
    // 2. API base URL candidate; the stored setting may override it below.
    const QString envBaseUrl = QString::fromUtf8(qgetenv("TARN_API_BASE_URL")).trimmed();
    const QString candidateBaseUrl =
        envBaseUrl.isEmpty() ? QString::fromLatin1(Backend::kDefaultApiBaseUrl) : envBaseUrl;

    // 3. Timers, network, configuration builder, engine controller.
    m_connectionTimeoutGuard = new QTimer(this);
    m_connectionTimeoutGuard->setSingleShot(true);
    m_trafficTimer = new QTimer(this);
    m_trafficTimer->setInterval(3000);
    m_orderPollTimer = new QTimer(this);
    m_orderPollTimer->setInterval(1000);
    m_eventReconnectTimer = new QTimer(this);
    m_eventReconnectTimer->setSingleShot(true);
    // Whatever changed the plan or the trial (bootstrap, event, order, sign-out)
    // also moves the moment its end is checked with the server.
    connect(this, &AppController::currentPlanChanged, this, &AppController::armMembershipEndCheck);
    connect(this, &AppController::trialClaimStatusChanged, this, &AppController::armMembershipEndCheck);
    m_network = new QNetworkAccessManager(this);
    m_network->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_configRepository = new ConfigRepository(this);
    m_engine = new SingBoxProcessManager(this);

    // 4. Local settings store: language, base URL, device identity.
    m_store = new QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟"), this); // i18n-exempt: store name
    // The session token is stored here: the file and its folder are the user's alone.
    Platform::makeUserFilePrivate(m_store->fileName());
    m_language = I18n::normalizedDesktopLanguage(m_store->value(QStringLiteral("settings/language")).toString());

    const QString storedBaseUrl = Api::normalizeApiBaseUrl(m_store->value(QStringLiteral("apiBaseUrl")).toString());
    if (!storedBaseUrl.isEmpty()) {
        m_apiBaseUrl = storedBaseUrl;
        m_store->setValue(QStringLiteral("apiBaseUrl"), storedBaseUrl);
    } else {
        m_apiBaseUrl = Api::normalizeApiBaseUrl(candidateBaseUrl);
    }

    m_deviceId = m_store->value(QStringLiteral("device/id")).toString();
    if (m_deviceId.isEmpty()) {
        m_deviceId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_store->setValue(QStringLiteral("device/id"), m_deviceId);
    }
    m_deviceName = m_store->value(QStringLiteral("device/name")).toString();
    if (m_deviceName.isEmpty()) {
        m_deviceName = Api::defaultDesktopDeviceName();
        m_store->setValue(QStringLiteral("device/name"), m_deviceName);
    }

    // 5. The opening line of every diagnostic log session.
    appendDiagnosticLog(QStringLiteral("App opened: platform=%1 version=%2 device=%3 api=%4\n")
                            .arg(Api::desktopPlatformLabel(), Api::desktopAppVersion(), m_deviceName, m_apiBaseUrl));
    // Which engine release this start runs on, once, in the background.
    EngineVersion::logOnce(m_engine);

    // 6. Stored session.
    restoreStoredSession();

    // 7.-9. Catalogue defaults, then local settings over their defaults.
    restoreCatalogueDefaults();
    loadLocalSettings();

    // 10. Connections.
    connect(m_engine, &SingBoxProcessManager::lastErrorChanged, this, &AppController::lastErrorChanged);
    connect(m_engine, &SingBoxProcessManager::recentLogChanged, this, &AppController::recentLogChanged);
    connect(m_engine, &SingBoxProcessManager::runningChanged, this, &AppController::onEngineRunningChanged);
    connect(m_connectionTimeoutGuard, &QTimer::timeout, this, &AppController::onConnectionTimeout);
    connect(m_trafficTimer, &QTimer::timeout, this, &AppController::onTrafficTimer);
    connect(m_orderPollTimer, &QTimer::timeout, this, &AppController::pollPendingOrderStatus);
    connect(m_eventReconnectTimer, &QTimer::timeout, this, &AppController::startEventStreamIfNeeded);
    // The connect page's line follows everything it describes.
    for (auto signal : {&AppController::currentPlanChanged, &AppController::loggedInChanged,
                        &AppController::backendOfflineChanged, &AppController::languageChanged,
                        &AppController::selectedNodeChanged, &AppController::nodesChanged})
        connect(this, signal, this, &AppController::connectionStatusTextChanged);
    setupEverydayUse();

    // 11.-12. Deferred start-up task, configuration preview: with a window to
    // show, after its first frame (windowShown), in the same order.
    if (timing == StartupTiming::AfterFirstFrame) {
        m_startupHeld = true;
        // A window that is never drawn (started minimized, on a hidden
        // desktop) must not keep the session from being checked.
        QTimer::singleShot(kWindowShownFallbackMs, this, &AppController::windowShown);
        return;
    }
    QTimer::singleShot(0, this, &AppController::runDeferredStartup);
    rebuildConfigPreview();
}

void AppController::windowShown()
{
    if (!m_startupHeld)
        return;
    m_startupHeld = false;
    QTimer::singleShot(0, this, &AppController::runDeferredStartup);
    rebuildConfigPreview();
}

AppController::~AppController()
{
    // Probes still running (a ping) end with the controller rather than outlive it.
    for (QProcess *process : findChildren<QProcess *>()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(200);
    }
}

void AppController::runDeferredStartup()
{
    m_engine->prepareMacVpnEnvironment();
    runStartupBootstrap();
}

void AppController::onEngineRunningChanged()
{
    // The state just stored by the manager (a second query already confirmed a stop).
    const bool running = m_engine->cachedRunning();
    if (!running && (m_vpnPhase == QLatin1String("connected") || m_vpnPhase == QLatin1String("disconnecting"))) {
        resetRuntimeTrafficStats(true);
        setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
    }
    // A tunnel the page does not show, found by a query rather than by our own
    // start: take it over once the current call stack has unwound.
    if (running && (m_vpnPhase == QLatin1String("disconnected") || m_vpnPhase == QLatin1String("failed"))
        && !workflowRunning() && !m_engine->commandInProgress() && m_loggedIn && m_startupReattachDone
        && !m_reattachScheduled) {
        m_reattachScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_reattachScheduled = false;
            if (!workflowRunning() && !m_engine->commandInProgress() && m_engine->cachedRunning()
                && (m_vpnPhase == QLatin1String("disconnected") || m_vpnPhase == QLatin1String("failed")))
                reattachRunningTunnel(QStringLiteral("service found running"));
        });
    }
    Q_EMIT connectedChanged();
}

// --- the connect page's status line and the tray's words -------------------------

QString AppController::connectionStatusText() const
{
    static const QStringList connectingTexts{QStringLiteral("连接中"), QStringLiteral("正在检测当前国家线路..."),
                                             QStringLiteral("正在同步节点和连接参数...")};
    static const QStringList disconnectingTexts{QStringLiteral("正在断开 VPN..."),
                                                QStringLiteral("正在等待系统断开当前 VPN...")};
    const QString membership = m_hasActiveMembership ? QString()
        : !m_selectedPlanId.trimmed().isEmpty()      ? QStringLiteral("套餐已过期")
                                                     : QStringLiteral("未开通会员");
    const QString separator = QStringLiteral(" · ");
    if (m_vpnPhase == QLatin1String("connecting") || m_vpnPhase == QLatin1String("verifying"))
        return trText(connectingTexts.contains(m_statusText) ? m_statusText : QStringLiteral("连接中"));
    if (m_vpnPhase == QLatin1String("disconnecting"))
        return trText(disconnectingTexts.contains(m_statusText) ? m_statusText : QStringLiteral("正在断开 VPN..."));
    if (m_vpnPhase == QLatin1String("connected"))
        return trText(QStringLiteral("已连接"));
    if (m_loggedIn && m_backendOffline)
        return trText(QStringLiteral("暂时无法连接服务器，网络恢复后自动重试"));
    if (m_vpnPhase == QLatin1String("failed")) {
        // A failure stays true until something mends its cause.
        const bool stale = (m_statusText == QStringLiteral("需要登录") && m_loggedIn)
            || ((m_statusText == QStringLiteral("未购买套餐") || m_statusText == QStringLiteral("会员已过期"))
                && m_hasActiveMembership)
            || (m_statusText == QStringLiteral("同步失败") && m_bootstrapReady);
        static const QStringList failureTexts{QStringLiteral("需要登录"),     QStringLiteral("会员已过期"),
                                              QStringLiteral("未购买套餐"),   QStringLiteral("暂无可用节点"),
                                              QStringLiteral("同步失败"),     QStringLiteral("连接失败"),
                                              QStringLiteral("断开超时")};
        if (!stale)
            return trText(failureTexts.contains(m_statusText) ? m_statusText : QStringLiteral("连接失败"));
    }
    if (m_loggedIn && !membership.isEmpty())
        return trText(QStringLiteral("未连接")) + separator + trText(membership);
    return trText(QStringLiteral("未连接"));
}

QString AppController::connectedNodeName() const
{
    if (m_connectedNodeId.isEmpty())
        return QString();
    for (const QVariant &entry : std::as_const(m_nodes)) {
        const QVariantMap node = entry.toMap();
        if (node.value(QStringLiteral("id")).toString().trimmed() == m_connectedNodeId)
            return localizedPlaceName(node.value(QStringLiteral("name")).toString(),
                                      node.value(QStringLiteral("countryCode")).toString());
    }
    return m_connectedNodeId;
}

QString AppController::trayStateText() const
{
    if (m_vpnPhase == QLatin1String("connected"))
        return trText(QStringLiteral("已连接"));
    if (m_vpnPhase == QLatin1String("connecting") || m_vpnPhase == QLatin1String("verifying"))
        return trText(QStringLiteral("连接中"));
    if (m_vpnPhase == QLatin1String("disconnecting"))
        return trText(QStringLiteral("断开中"));
    if (m_vpnPhase == QLatin1String("failed"))
        return trText(QStringLiteral("连接失败"));
    return trText(QStringLiteral("未连接"));
}

QString AppController::trayToolTip() const
{
    QString text = trText(QStringLiteral("岚舟")) + QStringLiteral(" · ") + trayStateText();
    const QString node = connectedNodeName();
    if (m_vpnPhase == QLatin1String("connected") && !node.isEmpty())
        text += QStringLiteral(" · ") + node;
    return text;
}

QString AppController::trayToggleText() const
{
    const bool stopping = m_vpnPhase == QLatin1String("connected") || m_vpnPhase == QLatin1String("connecting")
        || m_vpnPhase == QLatin1String("verifying") || m_vpnPhase == QLatin1String("disconnecting");
    return trText(stopping ? QStringLiteral("断开连接") : QStringLiteral("连接 VPN"));
}

void AppController::appendDiagnosticLog(const QString &line)
{
    m_engine->appendDiagnosticLog(line);
}

// --- property readers ------------------------------------------------------

bool AppController::connected() const
{
    return m_vpnPhase == QLatin1String("connected");
}

QString AppController::statusText() const
{
    return trText(m_statusText);
}

QString AppController::loadingText() const
{
    return trText(m_loadingText);
}

QString AppController::apiError() const
{
    return trText(m_apiError);
}

QString AppController::toastMessage() const
{
    return trText(m_toastMessage);
}

QString AppController::membershipDialogMessage() const
{
    return trText(m_membershipDialogMessage);
}

QString AppController::desktopPlatformLabel() const
{
    return Api::desktopPlatformLabel();
}

int AppController::mtu() const
{
    return m_settings.value(QStringLiteral("mtu"), 1400).toInt();
}

QString AppController::dnsPrimary() const
{
    return m_settings.value(QStringLiteral("dnsPrimary"), QStringLiteral("1.1.1.1")).toString();
}

QString AppController::dnsFallback() const
{
    return m_settings.value(QStringLiteral("dnsFallback"), QStringLiteral("8.8.8.8")).toString();
}

QString AppController::lastError() const
{
    return m_engine->lastError();
}

QString AppController::recentLog() const
{
    return m_engine->recentLog();
}

// --- simple state ------------------------------------------------------------

void AppController::setCurrentPage(const QString &page)
{
    if (page == m_currentPage)
        return;
    m_currentPage = page;
    Q_EMIT currentPageChanged();
}

void AppController::setBusy(bool value)
{
    if (value == m_busy)
        return;
    m_busy = value;
    Q_EMIT busyChanged();
}

void AppController::updateToastMessage(const QString &text)
{
    if (text == m_toastMessage) {
        // The same toast again is shown again; an empty one stays hidden.
        if (!text.isEmpty())
            Q_EMIT toastMessageChanged();
        return;
    }
    m_toastMessage = text;
    Q_EMIT toastMessageChanged();
}

void AppController::showApiErrorMessage(const QString &message)
{
    const QString trimmed = message.trimmed();
    if (trimmed.isEmpty() && m_toastMessage.isEmpty())
        return;
    if (trimmed != m_toastMessage)
        m_toastMessage = trimmed;
    Q_EMIT toastMessageChanged();
}

void AppController::clearToastMessage()
{
    if (m_toastMessage.isEmpty())
        return;
    m_toastMessage.clear();
    Q_EMIT toastMessageChanged();
}

void AppController::updateApiError(const QString &text)
{
    if (text == m_apiError)
        return;
    m_apiError = text;
    Q_EMIT apiErrorChanged();
}

void AppController::setStatusText(const QString &text)
{
    if (text == m_statusText)
        return;
    m_statusText = text;
    Q_EMIT statusTextChanged();
}

void AppController::copyText(const QString &text)
{
    if (text.trimmed().isEmpty())
        return;
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

// --- navigation ----------------------------------------------------------------

void AppController::navigate(const QString &page)
{
    const QString target = page.trimmed();
    if (m_loggedIn) {
        if (target == QLatin1String("billing")) {
            refreshBillingExperienceAsync();
        } else if (target == QLatin1String("profile")) {
            loadBootstrapAsync([](bool) {}, false);
            refreshProfileExperienceAsync();
        } else if (target == QLatin1String("devices")) {
            refreshDevicesExperienceAsync();
        } else if (target == QLatin1String("invite")) {
            refreshInviteExperienceAsync();
        } else if (target == QLatin1String("messages")) {
            refreshMessagesExperienceAsync();
        } else if (target == QLatin1String("supportChat")) {
            refreshSupportChat();
        } else if (isCataloguePage(target) && !m_bootstrapReady) {
            loadBootstrapAsync([](bool) {}, true);
        }
    }
    setCurrentPage(target);
}

// --- language ------------------------------------------------------------------

QVariantList AppController::languageOptions() const
{
    return I18n::languageOptions(m_language);
}

void AppController::setLanguage(const QString &language)
{
    const QString normalized = I18n::normalizedDesktopLanguage(language);
    if (normalized == m_language)
        return;
    m_language = normalized;
    m_store->setValue(QStringLiteral("settings/language"), m_language);
    Q_EMIT languageChanged();
    Q_EMIT statusTextChanged();
    Q_EMIT apiErrorChanged();
    Q_EMIT toastMessageChanged();
    Q_EMIT loadingTextChanged();
    // The backend writes its own content (messages, plans, support replies) in the
    // language a request asks for: fetch it again in the new one.
    if (m_loggedIn && !m_authToken.isEmpty()) {
        loadBootstrapAsync(nullptr, true);
        if (m_experience.contains(QStringLiteral("support")))
            refreshSupportChat();
    }
}

QString AppController::trText(const QString &key) const
{
    return I18n::translateText(m_language, key);
}

QString AppController::trCount(const QString &key, qint64 count) const
{
    return I18n::translateCount(m_language, key, count);
}
