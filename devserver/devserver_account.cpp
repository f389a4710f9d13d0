// The signed-in profile: plans, bootstrap with all its sections, preferences,
// billing, invitations, devices and their revocation, the connectivity check.
#include "devserver.h"

#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <functional>

namespace {

const char kDeviceAlert[] = "设备额度已满，新设备登录时将自动下线最早登录的设备。";
constexpr int kRewardDaysPerInvite = 7;
constexpr int kTrialMinutes = 60;

QString money(qint64 cents)
{
    if (cents % 100 == 0)
        return QStringLiteral("¥%1").arg(cents / 100);
    return QStringLiteral("¥%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

// What a person reads in a list: local time to the minute.
QString shownTime(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

QString normalizedRoutingMode(const QJsonValue &value)
{
    return value.toString().trimmed().toLower() == QLatin1String("global") ? QStringLiteral("global")
                                                                           : QStringLiteral("smart");
}

const QStringList &preferenceSections()
{
    static const QStringList sections {
        QStringLiteral("account"), QStringLiteral("network"), QStringLiteral("appearance"), QStringLiteral("help")};
    return sections;
}

QJsonObject defaultPreferences()
{
    return QJsonObject {
        {QStringLiteral("account"),
            QJsonObject {
                {QStringLiteral("auto_connect"), true},
                {QStringLiteral("traffic_alerts"), true},
                {QStringLiteral("login_alerts"), true},
                {QStringLiteral("remember_device"), true},
            }},
        {QStringLiteral("network"), QJsonObject {{QStringLiteral("routing_mode"), QStringLiteral("smart")}}},
        {QStringLiteral("appearance"),
            QJsonObject {
                {QStringLiteral("theme"), QStringLiteral("auto")},
                {QStringLiteral("accent"), QStringLiteral("sunset")},
                {QStringLiteral("language"), QStringLiteral("简体中文")},
                {QStringLiteral("reduce_motion"), false},
                {QStringLiteral("show_line_chart"), true},
            }},
        {QStringLiteral("help"),
            QJsonObject {
                {QStringLiteral("cache_mb"), 128},
                {QStringLiteral("diagnostics_level"), QStringLiteral("balanced")},
            }},
    };
}

QJsonObject overlaid(QJsonObject base, const QJsonObject &over)
{
    for (auto it = over.constBegin(); it != over.constEnd(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

bool isPurchase(const QString &status)
{
    return status == QLatin1String("paid") || status == QLatin1String("active") || status == QLatin1String("settled");
}

// What each cycle includes; the longer the cycle, the more it includes.
QStringList planFeatures(const DevServer::Plan &plan)
{
    QStringList features{QStringLiteral("优化线路"), QStringLiteral("全球节点可用")};
    if (plan.billing != QLatin1String("monthly"))
        features << QStringLiteral("流媒体优化");
    if (plan.billing == QLatin1String("annual"))
        features << QStringLiteral("高级分流");
    return features;
}

QJsonObject planJson(const DevServer::Plan &plan, const std::function<QString(const QString &)> &word)
{
    QJsonArray highlights{word(QStringLiteral("%1 台设备")).arg(plan.devices)};
    for (const QString &feature : planFeatures(plan))
        highlights.append(word(feature));
    return QJsonObject {
        {QStringLiteral("id"), plan.id},
        {QStringLiteral("name"), word(plan.name)},
        {QStringLiteral("price"), plan.price},
        {QStringLiteral("billing"), plan.billing},
        {QStringLiteral("description"), word(plan.description)},
        {QStringLiteral("devices"), plan.devices},
        {QStringLiteral("featured"), plan.featured},
        {QStringLiteral("duration_days"), plan.days},
        {QStringLiteral("highlights"), highlights},
    };
}

} // namespace

// --- plans and allowances -------------------------------------------------------

const QList<DevServer::Plan> &DevServer::plans()
{
    static const QList<Plan> catalogue {
        {QStringLiteral("lite-monthly"), QStringLiteral("月付"), QStringLiteral("¥18"), QStringLiteral("monthly"),
            QStringLiteral("适合轻度多设备使用与日常流媒体场景。"), 2, false, 1800, 30},
        {QStringLiteral("pro-yearly"), QStringLiteral("季付"), QStringLiteral("¥48"), QStringLiteral("quarterly"),
            QStringLiteral("适合多设备日常使用与更长周期的稳定加速。"), 4, true, 4800, 90},
        {QStringLiteral("team-yearly"), QStringLiteral("年付"), QStringLiteral("¥108"), QStringLiteral("annual"),
            QStringLiteral("适合长期稳定使用、更多设备共享与全年省心续费。"), 10, false, 10800, 365},
    };
    return catalogue;
}

std::optional<DevServer::Plan> DevServer::planById(const QString &id)
{
    for (const Plan &plan : plans()) {
        if (plan.id == id.trimmed())
            return plan;
    }
    return std::nullopt;
}

int DevServer::deviceLimit(const DevServerStore::Account &account) const
{
    if (!membershipActive(account))
        return 0;
    const auto plan = planById(account.planId);
    return plan ? plan.value().devices : 1;
}

int DevServer::signInQuota(const DevServerStore::Account &account) const
{
    return qMax(1, deviceLimit(account));
}

QString DevServer::deviceIdOf(const DevServerStore::Session &session)
{
    if (!session.deviceId.isEmpty())
        return session.deviceId;
    // A client that named no device is one device per session; the id must
    // not give the token away.
    const QByteArray digest = QCryptographicHash::hash(session.token.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("session-") + QString::fromLatin1(digest.toHex().left(12));
}

// --- routes ---------------------------------------------------------------------

void DevServer::addProfileRoutes()
{
    using namespace Backend::Path;
    addRoute("GET", QLatin1String(kBootstrap), Access::Token, [this](const DevRequest &r) { return bootstrap(r); });
    addRoute(
        "POST", QLatin1String(kPreferences), Access::Token, [this](const DevRequest &r) { return savePreferences(r); });
    addRoute("GET", QLatin1String(kBilling), Access::Token, [this](const DevRequest &r) {
        const auto account = m_store.accountById(r.accountId);
        return account ? DevReply::json(billingJson(*account))
                       : DevReply::error(401, QStringLiteral("session user missing"));
    });
    addRoute("GET", QLatin1String(kInvite), Access::Token, [this](const DevRequest &r) {
        const auto account = m_store.accountById(r.accountId);
        return account ? DevReply::json(inviteJson(*account))
                       : DevReply::error(401, QStringLiteral("session user missing"));
    });
    addRoute("GET", QLatin1String(kDevices), Access::Token, [this](const DevRequest &r) { return listDevices(r); });
    addRoute(
        "POST", QLatin1String(kDevicesRevoke), Access::Token, [this](const DevRequest &r) { return revokeDevice(r); });

    // The connectivity probe's target: an empty 204, like the public check hosts.
    addRoute("GET", QStringLiteral("/generate_204"), Access::Public, [](const DevRequest &) {
        DevReply reply = DevReply::raw(QByteArray(), "text/plain", 204);
        reply.encryptable = false;
        return reply;
    });
}

void DevServer::seedDemoProfile(qint64 accountId, bool member)
{
    const QDateTime now = m_store.now();
    if (member && m_store.ordersForAccount(accountId).isEmpty()) {
        struct Past
        {
            const char *planId;
            const char *status;
            int daysAgo;
        };
        // Oldest first, so the newest order is listed first.
        const Past history[] = {
            {"lite-monthly", "canceled", 46},
            {"lite-monthly", "paid", 45},
            {"pro-yearly", "active", 10},
        };
        for (const Past &past : history) {
            const auto plan = planById(QLatin1String(past.planId));
            DevServerStore::Order order;
            order.id = QStringLiteral("ORD-") + DevCrypto::randomHex(5).toUpper();
            order.accountId = accountId;
            order.planId = plan->id;
            order.planName = plan->name;
            order.amountCents = plan->amountCents;
            order.status = QLatin1String(past.status);
            order.createdAt = now.addDays(-past.daysAgo);
            if (isPurchase(order.status))
                order.paidAt = order.createdAt.addSecs(90);
            m_store.addOrder(order);
        }
    }

    // Today's traffic so far, for the dashboard's chart.
    const QDateTime local = now.toLocalTime();
    const QString day = local.date().toString(Qt::ISODate);
    const QList<qint64> today = m_store.hourlyUsage(accountId, day);
    if (member && std::all_of(today.cbegin(), today.cend(), [](qint64 bytes) { return bytes == 0; })) {
        for (int hour = 0; hour <= local.time().hour(); ++hour)
            m_store.addUsage(accountId, day, hour, qint64(40 + (hour * 37) % 90) * 1024 * 1024);
    }
}

DevReply DevServer::bootstrap(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));

    QJsonArray planList;
    for (const Plan &plan : plans())
        planList.append(planJson(plan, [this](const QString &text) { return localized(text); }));

    return DevReply::json({
        {QStringLiteral("user"), userJson(*account)},
        {QStringLiteral("nodes"), nodesJson()},
        {QStringLiteral("node_countries"), nodeCountriesJson()},
        {QStringLiteral("plans"), planList},
        {QStringLiteral("dashboard"), dashboardJson(*account)},
        {QStringLiteral("preferences"), preferencesJson(account->id)},
        {QStringLiteral("experience"),
            QJsonObject {
                {QStringLiteral("billing"), billingJson(*account)},
                {QStringLiteral("invite"), inviteJson(*account)},
                {QStringLiteral("devices"), devicesJson(*account, request.token)},
                {QStringLiteral("messages"), messagesSectionJson(account->id)},
                {QStringLiteral("speed"), speedSectionJson(account->id)},
                {QStringLiteral("traffic"), trafficSectionJson(account->id)},
            }},
        {QStringLiteral("support"),
            QJsonObject {
                {QStringLiteral("contact"),
                    QJsonObject {
                        {QStringLiteral("email"), QStringLiteral("support@quillet.dev")},
                        {QStringLiteral("telegram"), QStringLiteral("@quillet_support")},
                        {QStringLiteral("website"), QStringLiteral("https://quillet.invalid/help")},
                    }},
                {QStringLiteral("hours"), QStringLiteral("09:00-23:00")},
                {QStringLiteral("unread"), 0},
            }},
        {QStringLiteral("connectivity"), connectivityJson()},
    });
}

// --- sections -------------------------------------------------------------------

QJsonObject DevServer::preferencesJson(qint64 accountId) const
{
    const QJsonObject stored = m_store.preferences(accountId);
    QJsonObject preferences = defaultPreferences();
    for (const QString &section : preferenceSections())
        preferences.insert(section, overlaid(preferences.value(section).toObject(), stored.value(section).toObject()));
    return preferences;
}

DevReply DevServer::savePreferences(const DevRequest &request)
{
    QJsonObject preferences = preferencesJson(request.accountId);
    for (const QString &section : preferenceSections()) {
        const QJsonValue sent = request.json.value(section);
        if (sent.isUndefined() || sent.isNull())
            continue;
        if (!sent.isObject())
            return DevReply::error(400, QStringLiteral("preferences section %1 must be an object").arg(section));
        preferences.insert(section, overlaid(preferences.value(section).toObject(), sent.toObject()));
    }
    QJsonObject network = preferences.value(QStringLiteral("network")).toObject();
    network.insert(
        QStringLiteral("routing_mode"), normalizedRoutingMode(network.value(QStringLiteral("routing_mode"))));
    preferences.insert(QStringLiteral("network"), network);
    if (!m_store.setPreferences(request.accountId, preferences))
        return DevReply::error(500, QStringLiteral("cannot store preferences"));
    // The answer is the stored preferences and nothing else: the client takes it whole.
    return DevReply::json(preferencesJson(request.accountId));
}

QJsonObject DevServer::trialJson(const DevServerStore::Account &account) const
{
    const QDateTime local = m_store.now().toLocalTime();
    const QString today = local.date().toString(Qt::ISODate);
    const bool paidMember = membershipActive(account) && account.planId != QLatin1String("trial");
    const bool claimedToday = account.trialClaimDate == today;
    const bool onTrial = account.planId == QLatin1String("trial") && account.expiresAt.isValid();
    const QDateTime nextReset = QDateTime(local.date().addDays(1), QTime(0, 0), Qt::LocalTime);
    return QJsonObject {
        {QStringLiteral("enabled"), true},
        {QStringLiteral("duration_minutes"), kTrialMinutes},
        {QStringLiteral("can_claim"), !paidMember && !claimedToday},
        {QStringLiteral("paid_member"), paidMember},
        {QStringLiteral("claimed_today"), claimedToday},
        {QStringLiteral("claim_date"), account.trialClaimDate},
        {QStringLiteral("next_reset_at"), isoTime(nextReset)},
        {QStringLiteral("started_at"), onTrial ? isoTime(account.expiresAt.addSecs(-kTrialMinutes * 60)) : QString()},
        {QStringLiteral("expires_at"), onTrial ? isoTime(account.expiresAt) : QString()},
    };
}

QJsonObject DevServer::dashboardJson(const DevServerStore::Account &account) const
{
    const QDateTime local = m_store.now().toLocalTime();
    const QList<qint64> hourly = m_store.hourlyUsage(account.id, local.date().toString(Qt::ISODate));
    QJsonArray hourlyJson;
    qint64 total = 0;
    for (qint64 bytes : hourly) {
        hourlyJson.append(double(bytes));
        total += bytes;
    }

    const QDateTime midnight = QDateTime(local.date(), QTime(0, 0), Qt::LocalTime);
    int sessionsToday = 0;
    qint64 onlineSeconds = 0;
    for (const DevServerStore::Session &session : m_store.sessionsForAccount(account.id)) {
        if (session.createdAt.toLocalTime().date() == local.date())
            ++sessionsToday;
        const QDateTime from = qMax(session.createdAt, midnight.toUTC());
        onlineSeconds += qMax<qint64>(0, from.secsTo(session.lastSeen));
    }

    return QJsonObject {
        {QStringLiteral("today_usage"), QStringLiteral("%1 GB").arg(double(total) / (1024.0 * 1024 * 1024), 0, 'f', 2)},
        {QStringLiteral("today_usage_bytes"), double(total)},
        {QStringLiteral("today_usage_hourly_bytes"), hourlyJson},
        {QStringLiteral("today_sessions"), sessionsToday},
        {QStringLiteral("today_online_seconds"), double(onlineSeconds)},
        {QStringLiteral("upload"), QStringLiteral("0 B/s")},
        {QStringLiteral("download"), QStringLiteral("0 B/s")},
        {QStringLiteral("uptime"), QStringLiteral("00:00:00")},
        {QStringLiteral("security"), 92},
    };
}

QJsonObject DevServer::billingJson(const DevServerStore::Account &account) const
{
    QJsonArray orders;
    QJsonArray records;
    qint64 paidCents = 0;
    for (const DevServerStore::Order &order : m_store.ordersForAccount(account.id)) {
        orders.append(orderJson(order));
        if (!isPurchase(order.status))
            continue;
        paidCents += order.amountCents;
        records.append(QJsonObject {
            {QStringLiteral("id"), order.id},
            {QStringLiteral("order_id"), order.id},
            {QStringLiteral("title"), localized(order.planName)},
            {QStringLiteral("amount"), money(order.amountCents)},
            {QStringLiteral("status"), QStringLiteral("paid")},
            {QStringLiteral("created_at"), isoTime(order.paidAt.isValid() ? order.paidAt : order.createdAt)},
        });
    }
    const bool active = membershipActive(account);
    return QJsonObject {
        {QStringLiteral("orders"), orders},
        {QStringLiteral("records"), records},
        {QStringLiteral("next_renewal"), active ? isoTime(account.expiresAt) : QString()},
        {QStringLiteral("total_paid"), money(paidCents)},
        {QStringLiteral("plan_id"), active ? account.planId : QString()},
        {QStringLiteral("plan_name"), active ? localized(account.planName) : QString()},
    };
}

QJsonObject DevServer::inviteJson(const DevServerStore::Account &account) const
{
    const int invited = m_store.referralCount(account.id);
    return QJsonObject {
        {QStringLiteral("code"), account.inviteCode},
        {QStringLiteral("link"), QStringLiteral("%1/invite/%2").arg(baseUrl(), account.inviteCode)},
        {QStringLiteral("invited_count"), invited},
        {QStringLiteral("reward_days"), invited * kRewardDaysPerInvite},
        {QStringLiteral("reward_days_per_invite"), kRewardDaysPerInvite},
    };
}

QJsonObject DevServer::devicesJson(const DevServerStore::Account &account, const QString &currentToken) const
{
    QList<DevServerStore::Session> sessions = m_store.sessionsForAccount(account.id);
    // This device first, then the most recently seen.
    std::stable_sort(sessions.begin(), sessions.end(),
        [&currentToken](const DevServerStore::Session &a, const DevServerStore::Session &b) {
            if ((a.token == currentToken) != (b.token == currentToken))
                return a.token == currentToken;
            return a.lastSeen > b.lastSeen;
        });
    QJsonArray items;
    for (const DevServerStore::Session &session : std::as_const(sessions)) {
        const QString id = deviceIdOf(session);
        QString name = session.deviceName;
        if (name.isEmpty())
            name = session.platform.isEmpty() ? id : session.platform;
        items.append(QJsonObject {
            {QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("platform"), session.platform},
            {QStringLiteral("location"), session.location},
            {QStringLiteral("last_seen"), shownTime(session.lastSeen)},
            {QStringLiteral("last_seen_at"), isoTime(session.lastSeen)},
            {QStringLiteral("signed_in_at"), isoTime(session.createdAt)},
            {QStringLiteral("current"), session.token == currentToken},
        });
    }
    const int limit = deviceLimit(account);
    QJsonObject section {
        {QStringLiteral("items"), items},
        {QStringLiteral("used"), int(items.size())},
        {QStringLiteral("limit"), limit},
    };
    if (limit > 0 && items.size() >= limit)
        section.insert(QStringLiteral("alert"), word(kDeviceAlert));
    return section;
}

QJsonObject DevServer::connectivityJson() const
{
    // Our own empty 204 keeps tests and offline development off the Internet.
    const QString probe = baseUrl() + QStringLiteral("/generate_204");
    QJsonObject settings {
        {QStringLiteral("test_urls"),
            QJsonArray {probe, probe + QStringLiteral("?check=2"), probe + QStringLiteral("?check=3")}},
        {QStringLiteral("min_success_pct"), 20},
        {QStringLiteral("probe_delay_ms"), 1000},
        {QStringLiteral("probe_timeout_ms"), 5000},
        {QStringLiteral("tcp_ping_timeout_ms"), 1800},
        {QStringLiteral("load_refresh_seconds"), 60},
        {QStringLiteral("load_timeout_ms"), 5000},
        {QStringLiteral("connect_timeout_ms"), 35000},
    };
    for (auto it = m_connectivityOverride.constBegin(); it != m_connectivityOverride.constEnd(); ++it)
        settings.insert(it.key(), it.value());
    return settings;
}

// --- devices --------------------------------------------------------------------

DevReply DevServer::listDevices(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));
    return DevReply::json(devicesJson(*account, request.token));
}

DevReply DevServer::revokeDevice(const DevRequest &request)
{
    const QString deviceId = request.text(QStringLiteral("device_id"));
    if (deviceId.isEmpty())
        return DevReply::error(400, QStringLiteral("device_id is required"));

    const QList<DevServerStore::Session> sessions = m_store.sessionsForAccount(request.accountId);
    const auto target = std::find_if(sessions.cbegin(), sessions.cend(),
        [&deviceId](const DevServerStore::Session &session) { return deviceIdOf(session) == deviceId; });
    const auto current = std::find_if(sessions.cbegin(), sessions.cend(),
        [&request](const DevServerStore::Session &session) { return session.token == request.token; });
    if (current != sessions.cend() && deviceIdOf(*current) == deviceId)
        return DevReply::error(400, QStringLiteral("cannot revoke current device"));
    if (target == sessions.cend())
        return DevReply::error(404, QStringLiteral("device session not found"));

    endSession(target->token,
        QJsonObject {
            {QStringLiteral("type"), QStringLiteral("device_revoked")},
            {QStringLiteral("message"), QStringLiteral("您已被踢下线。")},
            {QStringLiteral("reason"), QStringLiteral("revoked by account owner")},
            {QStringLiteral("device_id"), deviceId},
        });
    const auto account = m_store.accountById(request.accountId);
    return DevReply::json({
        {QStringLiteral("ok"), true},
        {QStringLiteral("revoked"), true},
        {QStringLiteral("device_id"), deviceId},
        {QStringLiteral("used"), int(sessions.size() - 1)},
        {QStringLiteral("limit"), account ? deviceLimit(*account) : 0},
    });
}
