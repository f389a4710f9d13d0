#include "appcontroller.h"

#include "api/backendcontract.h"
#include "model/billing.h"
#include "model/catalogdefaults.h"
#include "model/devicessection.h"
#include "model/inbox.h"
#include "model/membershiprules.h"

#include <QDateTime>
#include <QSettings>
#include <QTimer>

namespace {

QVariantMap defaultLocalSettings()
{
    return QVariantMap{
        {QStringLiteral("interfaceName"), QString()}, {QStringLiteral("mtu"), 1400},
        {QStringLiteral("autoRoute"), true},          {QStringLiteral("strictRoute"), true},
        {QStringLiteral("dnsPrimary"), QStringLiteral("1.1.1.1")},
        {QStringLiteral("dnsFallback"), QStringLiteral("8.8.8.8")},
        {QStringLiteral("routingMode"), QStringLiteral("smart")},
        {QStringLiteral("logLevel"), QStringLiteral("info")},
        {QStringLiteral("auto_connect"), false},      {QStringLiteral("launch_at_login"), false},
        {QStringLiteral("reconnect_on_drop"), true},  {QStringLiteral("notify_on_drop"), true},
    };
}

QString normalizedRoutingMode(const QVariant &value)
{
    return value.toString().trimmed().toLower() == QLatin1String("global") ? QStringLiteral("global")
                                                                           : QStringLiteral("smart");
}

QVariantMap planRecord(const QVariantMap &source)
{
    const int deviceCount = source.value(QStringLiteral("devices")).toInt();
    return QVariantMap{
        {QStringLiteral("id"), source.value(QStringLiteral("id")).toString()},
        {QStringLiteral("name"), source.value(QStringLiteral("name")).toString()},
        {QStringLiteral("price"), source.value(QStringLiteral("price")).toString()},
        {QStringLiteral("billing"), source.value(QStringLiteral("billing")).toString()},
        {QStringLiteral("description"), source.value(QStringLiteral("description")).toString()},
        {QStringLiteral("devices"), CatalogDefaults::deviceAllowanceLabel(deviceCount)},
        {QStringLiteral("deviceCount"), deviceCount},
        {QStringLiteral("featured"), source.value(QStringLiteral("featured")).toBool()},
        {QStringLiteral("highlights"), source.value(QStringLiteral("highlights")).toList()},
        {QStringLiteral("cycle"), Billing::planCycle(source)},
    };
}

} // namespace

// --- built-in state -------------------------------------------------------------

void AppController::restoreCatalogueDefaults()
{
    stopLatencyProbe();
    m_nodes = CatalogDefaults::defaultNodes();
    m_nodeCountries.clear();
    reindexCatalogue();
    m_plans = CatalogDefaults::defaultPlans();
    m_dashboard = CatalogDefaults::defaultDashboard();
    m_todayUsageBytes = 0;
    m_todayUsageHourlyBytes = m_dashboard.value(QStringLiteral("todayUsageHourlyBytes")).toList();
    m_todaySessions = 0;
    m_todayOnlineSeconds = 0;
    m_uploadHistory = CatalogDefaults::emptyTrafficHistory();
    m_downloadHistory = CatalogDefaults::emptyTrafficHistory();
    m_preferences = CatalogDefaults::defaultRemotePreferences();
    m_connectivitySettings = CatalogDefaults::defaultConnectivitySettings();
}

void AppController::loadLocalSettings()
{
    m_settings = defaultLocalSettings();
    for (auto it = m_settings.begin(); it != m_settings.end(); ++it) {
        const QString storeKey = QStringLiteral("settings/%1").arg(it.key());
        if (m_store->contains(storeKey))
            it.value() = m_store->value(storeKey);
    }
    // The store gives switches back as text ("true", "false").
    for (const char *key : {"auto_connect", "launch_at_login", "reconnect_on_drop", "notify_on_drop"})
        m_settings.insert(QLatin1String(key), m_settings.value(QLatin1String(key)).toBool());
    // Lower-cased only: a stored value with blanks is not "global".
    const QString routing = m_settings.value(QStringLiteral("routingMode")).toString().toLower();
    const QString mode = routing == QLatin1String("global") ? QStringLiteral("global") : QStringLiteral("smart");
    m_settings.insert(QStringLiteral("routingMode"), mode);
    QVariantMap network = m_preferences.value(QStringLiteral("network")).toMap();
    network.insert(QStringLiteral("routing_mode"), mode);
    m_preferences.insert(QStringLiteral("network"), network);
}

// --- bootstrap -----------------------------------------------------------------------

void AppController::loadBootstrapAsync(std::function<void(bool)> completion, bool showLoading)
{
    if (completion)
        m_bootstrapWaiters.append(std::move(completion));
    // Later callers join the request in flight.
    if (m_bootstrapInFlight)
        return;
    m_bootstrapInFlight = true;
    requestJsonAsync(
        QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kBootstrap), QVariantMap(), true,
        [this](const QVariantMap &response, bool success) {
            const bool ok = success && !response.isEmpty();
            if (ok) {
                applyBootstrapResponse(response);
                startNodeTelemetryRefresh();
                setBackendOffline(false);
            }
            m_bootstrapInFlight = false;
            const QList<std::function<void(bool)>> waiters = std::exchange(m_bootstrapWaiters, {});
            for (const auto &waiter : waiters)
                waiter(ok);
        },
        showLoading);
}

void AppController::loadBootstrap()
{
    const QVariantMap response =
        requestJson(QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kBootstrap), QVariantMap(), true);
    if (response.isEmpty())
        return;
    applyBootstrapResponse(response);
    startNodeTelemetryRefresh();
}

void AppController::applyBootstrapResponse(const QVariantMap &response)
{
    // 1. Account summary and trial state.
    const QVariantMap user = response.value(QStringLiteral("user")).toMap();
    if (!user.isEmpty()) {
        m_authEmail = user.value(QStringLiteral("email")).toString();
        m_activePlanName = user.value(QStringLiteral("active_plan_name")).toString().trimmed();
        m_membershipLabel = user.value(QStringLiteral("membership_label")).toString().trimmed();
        m_planType = user.value(QStringLiteral("plan_type")).toString().trimmed();
        m_planExpiresAt = user.value(QStringLiteral("plan_expires_at")).toString();
        m_hasActiveMembership = user.value(QStringLiteral("membership_active")).toBool();
        updateTrialClaimStatus(Membership::normalizedTrialClaimStatus(user, QVariantMap()));
    }

    // 2. Catalogue: countries are always replaced, an empty node list keeps the nodes.
    applyNodeSnapshot(response.value(QStringLiteral("nodes")).toList(),
                      response.value(QStringLiteral("node_countries")).toList());

    // 3. Plans.
    QVariantList plans;
    for (const QVariant &entry : response.value(QStringLiteral("plans")).toList())
        plans << planRecord(entry.toMap());
    if (!plans.isEmpty()) {
        m_plans = plans;
        Q_EMIT plansChanged();
    }

    // 4. Dashboard.
    const QVariantMap dashboard = response.value(QStringLiteral("dashboard")).toMap();
    if (!dashboard.isEmpty()) {
        m_todayUsageBytes = dashboard.value(QStringLiteral("today_usage_bytes")).toLongLong();
        m_todayUsageHourlyBytes = dashboard.value(QStringLiteral("today_usage_hourly_bytes")).toList();
        m_todaySessions = dashboard.value(QStringLiteral("today_sessions")).toInt();
        m_todayOnlineSeconds = dashboard.value(QStringLiteral("today_online_seconds")).toInt();
        m_uploadHistory = CatalogDefaults::emptyTrafficHistory();
        m_downloadHistory = CatalogDefaults::emptyTrafficHistory();
        m_dashboard = QVariantMap{
            {QStringLiteral("todayUsage"), dashboard.value(QStringLiteral("today_usage")).toString()},
            {QStringLiteral("todayUsageBytes"), m_todayUsageBytes},
            {QStringLiteral("todayUsageHourlyBytes"), m_todayUsageHourlyBytes},
            {QStringLiteral("downloadHistory"), m_downloadHistory},
            {QStringLiteral("uploadHistory"), m_uploadHistory},
            {QStringLiteral("todaySessions"), m_todaySessions},
            {QStringLiteral("todayOnlineSeconds"), m_todayOnlineSeconds},
            {QStringLiteral("upload"), dashboard.value(QStringLiteral("upload")).toString()},
            {QStringLiteral("download"), dashboard.value(QStringLiteral("download")).toString()},
            {QStringLiteral("uptime"), dashboard.value(QStringLiteral("uptime")).toString()},
            {QStringLiteral("securityScore"), dashboard.value(QStringLiteral("security")).toInt()},
        };
        Q_EMIT dashboardChanged();
        // A running session keeps its own rates and uptime over the server's snapshot.
        if (m_connectedAt.isValid())
            publishRuntimeTrafficStats(false);
    }

    // 5. Preferences: the local routing mode wins over the server's.
    QVariantMap preferences = response.value(QStringLiteral("preferences")).toMap();
    if (!preferences.isEmpty()) {
        const QVariant stored = m_store->value(QStringLiteral("settings/routingMode"),
                                               m_settings.value(QStringLiteral("routingMode"), QStringLiteral("smart")));
        const QString mode = normalizedRoutingMode(stored);
        QVariantMap network = preferences.value(QStringLiteral("network")).toMap();
        network.insert(QStringLiteral("routing_mode"), mode);
        preferences.insert(QStringLiteral("network"), network);
        m_preferences = preferences;
        m_settings.insert(QStringLiteral("routingMode"), mode);
        m_store->setValue(QStringLiteral("settings/routingMode"), mode);
        Q_EMIT settingsChanged();
        Q_EMIT preferencesChanged();
    }

    // 6.-8. Experience, support, connectivity.
    const QVariantMap experience = response.value(QStringLiteral("experience")).toMap();
    if (!experience.isEmpty()) {
        // Merged, not replaced: the bootstrap carries only some sections, and
        // one a page loaded itself (the support chat) must stay on the screen.
        for (auto it = experience.cbegin(); it != experience.cend(); ++it)
            m_experience.insert(it.key(), it.value());
        Q_EMIT experienceChanged();
        syncPendingOrderPolling(
            experience.value(QStringLiteral("billing")).toMap().value(QStringLiteral("orders")).toList());
    }
    const QVariantMap support = response.value(QStringLiteral("support")).toMap();
    if (!support.isEmpty()) {
        m_support = support;
        Q_EMIT supportChanged();
    }
    const QVariantMap connectivity = response.value(QStringLiteral("connectivity")).toMap();
    if (!connectivity.isEmpty()) {
        QVariantMap merged = CatalogDefaults::defaultConnectivitySettings();
        for (auto it = connectivity.constBegin(); it != connectivity.constEnd(); ++it)
            merged.insert(it.key(), it.value());
        m_connectivitySettings = merged;
    }

    // 9. Selected node: the server's choice when it names a listed node, else the first node.
    const QString requested = user.value(QStringLiteral("selected_node_id")).toString();
    bool requestedListed = false;
    for (const QVariant &node : std::as_const(m_nodes)) {
        if (!requested.isEmpty() && node.toMap().value(QStringLiteral("id")).toString() == requested) {
            requestedListed = true;
            break;
        }
    }
    if (requestedListed)
        m_selectedNodeId = requested;
    else
        m_selectedNodeId = m_nodes.isEmpty() ? QString() : m_nodes.first().toMap().value(QStringLiteral("id")).toString();

    // 10.-14. Plan, expiry and the membership verdict.
    const QVariantMap billing = experience.value(QStringLiteral("billing")).toMap();
    QString planId = user.value(QStringLiteral("active_plan_id")).toString().trimmed();
    if (planId.isEmpty())
        planId = Membership::inferredPlanIdFromBilling(billing, m_plans);
    QString expiry = user.value(QStringLiteral("plan_expires_at")).toString().trimmed();
    if (expiry.isEmpty())
        expiry = billing.value(QStringLiteral("next_renewal")).toString().trimmed();
    const bool serverSaysEnded = user.contains(QStringLiteral("membership_active")) && !m_hasActiveMembership;
    const bool active = m_hasActiveMembership
        || Membership::membershipExpiryStillValidAt(expiry, serverSaysEnded, QDateTime::currentDateTimeUtc())
        || Membership::billingStatusImpliesActiveMembership(billing, planId);
    m_selectedPlanId = planId;
    if (m_planType.compare(QLatin1String("trial"), Qt::CaseInsensitive) == 0) {
        if (m_activePlanName.trimmed().isEmpty())
            m_activePlanName = QStringLiteral("体验会员");
        if (m_membershipLabel.trimmed().isEmpty())
            m_membershipLabel = QStringLiteral("体验会员");
    }
    m_planExpiresAt = expiry;
    m_hasActiveMembership = active;
    m_bootstrapReady = !m_nodes.isEmpty();

    // 15.-17.
    if (m_loggedIn && !m_authToken.isEmpty())
        persistLocalAuthSession();
    startEventStreamIfNeeded();
    Q_EMIT selectedNodeChanged();
    Q_EMIT currentPlanChanged();
    Q_EMIT authChanged();
    rebuildConfigPreview();
}

// --- the membership's end ------------------------------------------------------------

namespace {
// The server's clock may run a little behind ours: ask just after the end.
constexpr qint64 kMembershipEndGraceMs = 3000;
// A far end is re-armed daily; a failed re-ask is tried again after this.
constexpr qint64 kMembershipEndCapMs = 24LL * 60 * 60 * 1000;
constexpr int kMembershipEndRetryMs = 60000;
} // namespace

void AppController::armMembershipEndCheck()
{
    const QStringList ends {m_planExpiresAt, m_trialClaimStatus.value(QStringLiteral("expires_at")).toString()};
    const qint64 wait = (m_loggedIn && m_hasActiveMembership)
        ? Membership::msUntilEndCheck(ends, QDateTime::currentDateTimeUtc(), kMembershipEndGraceMs, kMembershipEndCapMs)
        : -1;
    if (wait < 0) {
        m_membershipEndDueMs = 0;
        if (m_membershipEndTimer)
            m_membershipEndTimer->stop();
        return;
    }
    if (!m_membershipEndTimer) {
        m_membershipEndTimer = new QTimer(this);
        m_membershipEndTimer->setSingleShot(true);
        // Minutes late is wrong for an hour-long trial: no coarse timer slack.
        m_membershipEndTimer->setTimerType(Qt::PreciseTimer);
        connect(m_membershipEndTimer, &QTimer::timeout, this, [this] {
            // A capped wait, or one cut short by a sleep, only re-arms.
            if (QDateTime::currentMSecsSinceEpoch() + 1000 < m_membershipEndDueMs) {
                armMembershipEndCheck();
                return;
            }
            appendDiagnosticLog(QStringLiteral("Membership end time reached: asking the server again.\n"));
            loadBootstrapForSession([this](bool success) {
                if (success) {
                    armMembershipEndCheck();
                    return;
                }
                m_membershipEndDueMs = QDateTime::currentMSecsSinceEpoch();
                m_membershipEndTimer->start(kMembershipEndRetryMs);
            });
        });
    }
    const qint64 due = QDateTime::currentMSecsSinceEpoch() + wait;
    // Only a new end moves the timer: the same answer again leaves it running.
    if (m_membershipEndTimer->isActive() && qAbs(due - m_membershipEndDueMs) < 1000)
        return;
    m_membershipEndDueMs = due;
    m_membershipEndTimer->start(int(wait));
}

void AppController::updateTrialClaimStatus(const QVariantMap &status)
{
    if (status == m_trialClaimStatus)
        return;
    m_trialClaimStatus = status;
    Q_EMIT trialClaimStatusChanged();
}

// --- local settings and remote preferences -------------------------------------------

void AppController::setSetting(const QString &key, const QVariant &value)
{
    if (key == QLatin1String("routingMode")) {
        // The same path as the preference, so the mode changes only once the server took it.
        setPreference(QStringLiteral("network"), QStringLiteral("routing_mode"), normalizedRoutingMode(value));
        return;
    }
    // The everyday switches are this computer's alone: nothing to send, no tunnel document to rebuild.
    static const QStringList switches{QStringLiteral("auto_connect"), QStringLiteral("launch_at_login"),
                                      QStringLiteral("reconnect_on_drop"), QStringLiteral("notify_on_drop")};
    if (switches.contains(key)) {
        const bool on = value.toBool();
        if (m_settings.value(key).toBool() == on)
            return;
        m_settings.insert(key, on);
        m_store->setValue(QStringLiteral("settings/%1").arg(key), on);
        Q_EMIT settingsChanged();
        applyEverydaySetting(key);
        return;
    }
    const QVariant stored = value;
    if (m_settings.contains(key) && m_settings.value(key) == stored)
        return;
    m_settings.insert(key, stored);
    m_store->setValue(QStringLiteral("settings/%1").arg(key), stored);
    Q_EMIT settingsChanged();
    persistRemotePreferences();
    refreshRemoteConfigPreview();
}

void AppController::setPreference(const QString &section, const QString &key, const QVariant &value)
{
    const bool routing = section == QLatin1String("network") && key == QLatin1String("routing_mode");
    if (routing) {
        const QString mode = normalizedRoutingMode(value);
        if (mode == normalizedRoutingMode(m_settings.value(QStringLiteral("routingMode"))))
            return;
        // Marked as the mode in use only once the server took it; a refusal
        // leaves the old mode in place and its error on screen.
        if (!persistRemotePreferences(mode))
            return;
        QVariantMap preferences = m_preferences.isEmpty() ? CatalogDefaults::defaultRemotePreferences() : m_preferences;
        QVariantMap network = preferences.value(section).toMap();
        network.insert(key, mode);
        preferences.insert(section, network);
        m_preferences = preferences;
        m_settings.insert(QStringLiteral("routingMode"), mode);
        m_store->setValue(QStringLiteral("settings/routingMode"), mode);
        Q_EMIT preferencesChanged();
        Q_EMIT settingsChanged();
        refreshRemoteConfigPreview();
        synchronizeRuntimeRoutingMode();
        return;
    }
    QVariantMap preferences = m_preferences.isEmpty() ? CatalogDefaults::defaultRemotePreferences() : m_preferences;
    QVariantMap sectionMap = preferences.value(section).toMap();
    if (sectionMap.contains(key) && sectionMap.value(key) == value)
        return;
    sectionMap.insert(key, value);
    preferences.insert(section, sectionMap);
    m_preferences = preferences;
    Q_EMIT preferencesChanged();
    persistRemotePreferences();
    refreshRemoteConfigPreview();
}

bool AppController::persistRemotePreferences(const QString &routingMode)
{
    if (!m_loggedIn)
        return true;
    const QVariantMap defaults = CatalogDefaults::defaultRemotePreferences();
    const QVariantMap preferences = m_preferences.isEmpty() ? defaults : m_preferences;
    auto section = [&](const QString &name) {
        const QVariantMap current = preferences.value(name).toMap();
        return current.isEmpty() ? defaults.value(name).toMap() : current;
    };
    QVariantMap network = section(QStringLiteral("network"));
    network.insert(QStringLiteral("routing_mode"),
                   normalizedRoutingMode(routingMode.isEmpty() ? m_settings.value(QStringLiteral("routingMode"))
                                                               : QVariant(routingMode)));
    const QVariantMap body{
        {QStringLiteral("network"), network},
        {QStringLiteral("account"), section(QStringLiteral("account"))},
        {QStringLiteral("appearance"), section(QStringLiteral("appearance"))},
        {QStringLiteral("help"), section(QStringLiteral("help"))},
    };
    const QVariantMap response =
        requestJson(QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kPreferences), body, true);
    if (response.isEmpty())
        return false;
    m_preferences = response;
    Q_EMIT preferencesChanged();
    return true;
}

// --- experience sections ----------------------------------------------------------------

void AppController::refreshExperienceSectionAsync(const QString &section, const QString &path,
                                                  std::function<QVariantMap(const QVariantMap &)> normalize,
                                                  bool showLoading)
{
    if (!m_loggedIn || m_authToken.isEmpty() || section.isEmpty() || path.isEmpty())
        return;
    const QString gate = QStringLiteral("section:%1").arg(section);
    if (!beginRefreshGate(gate))
        return;
    requestJsonAsync(
        QStringLiteral("GET"), path, QVariantMap(), true,
        [this, gate, section, path, normalize, showLoading](const QVariantMap &response, bool success) {
            const bool askedAgain = takeRefreshAskedAgain(gate);
            endRefreshGate(gate);
            if (askedAgain) {
                // Something changed after this request went out: its answer is
                // older than what was asked for, so the newer read replaces it.
                refreshExperienceSectionAsync(section, path, normalize, showLoading);
                return;
            }
            if (!success || response.isEmpty())
                return;
            const QVariantMap stored = normalize ? normalize(response) : response;
            m_experience.insert(section, stored);
            Q_EMIT experienceChanged();
            if (section == QLatin1String("billing"))
                applyBillingSectionFollowUp(stored);
        },
        showLoading);
}

void AppController::applyBillingSectionFollowUp(const QVariantMap &billing)
{
    syncPendingOrderPolling(billing.value(QStringLiteral("orders")).toList());
    QString planId = m_selectedPlanId;
    if (planId.isEmpty())
        planId = Membership::inferredPlanIdFromBilling(billing, m_plans);
    QString expiry = m_planExpiresAt.trimmed();
    if (expiry.isEmpty())
        expiry = billing.value(QStringLiteral("next_renewal")).toString().trimmed();
    const bool active = m_hasActiveMembership || Membership::membershipExpiryStillValid(expiry)
        || Membership::billingStatusImpliesActiveMembership(billing, planId);
    if (planId == m_selectedPlanId && expiry == m_planExpiresAt && active == m_hasActiveMembership)
        return;
    m_selectedPlanId = planId;
    m_planExpiresAt = expiry;
    m_hasActiveMembership = active;
    persistLocalAuthSession();
    Q_EMIT currentPlanChanged();
    Q_EMIT authChanged();
}

void AppController::refreshBillingExperienceAsync()
{
    refreshExperienceSectionAsync(QStringLiteral("billing"), QString::fromLatin1(Backend::Path::kBilling), nullptr,
                                  true);
}

void AppController::refreshInviteExperienceAsync()
{
    refreshExperienceSectionAsync(QStringLiteral("invite"), QString::fromLatin1(Backend::Path::kInvite), nullptr, true);
}

void AppController::refreshDevicesExperienceAsync()
{
    refreshExperienceSectionAsync(
        QStringLiteral("devices"), QString::fromLatin1(Backend::Path::kDevices),
        [this](const QVariantMap &section) {
            const int quota = DevicesSection::planQuotaFromBilling(m_experience.value(QStringLiteral("billing")).toMap(),
                                                                   m_plans);
            return DevicesSection::normalized(section, quota, currentClientDevice(), QDateTime::currentDateTime());
        },
        true);
}

void AppController::refreshMessagesExperienceAsync()
{
    refreshExperienceSectionAsync(QStringLiteral("messages"), QString::fromLatin1(Backend::Path::kMessages),
                                  Inbox::normalizedMessagesSection, true);
}

void AppController::refreshProfileExperienceAsync()
{
    refreshBillingExperienceAsync();
    refreshDevicesExperienceAsync();
    refreshInviteExperienceAsync();
    refreshMessagesExperienceAsync();
    refreshSpeedExperienceAsync();
}
