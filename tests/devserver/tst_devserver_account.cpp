#include "client/api/backendcontract.h"
#include "devservertestclient.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QUrlQuery>
#include <QWebSocket>
#include <QtTest>

using namespace Backend::Path;

namespace {

const char kDemoEmail[] = "demo@quillet.dev";
const char kDemoPassword[] = "Quillet-demo-2026";
const char kTrialEmail[] = "trial@quillet.dev";
const char kTrialPassword[] = "Quillet-trial-2026";

// Follows a "/"-separated path of keys and array indexes.
QJsonValue valueAt(const QJsonObject &root, const QString &path)
{
    QJsonValue value = root;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        bool isIndex = false;
        const int index = part.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(part);
    }
    return value;
}

QStringList deviceIds(const QJsonObject &section)
{
    QStringList ids;
    for (const QJsonValue &item : section.value(QStringLiteral("items")).toArray())
        ids << item.toObject().value(QStringLiteral("id")).toString();
    return ids;
}

const QJsonObject *lastOfType(const QList<QJsonObject> &events, const QString &type)
{
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        if (it->value(QStringLiteral("type")).toString() == type)
            return &*it;
    }
    return nullptr;
}

} // namespace

class DevServerAccountTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void bootstrapSectionShapes_data();
    void bootstrapSectionShapes();
    void membershipDiffersBetweenDemoAccounts();
    void preferencesRoundTrip();
    void preferencesRefuseNonObjectSections();
    void billingAndInvite();
    void devicesListMarksTheCurrentDevice();
    void revokeDevice_data();
    void revokeDevice();
    void quotaSignsOutTheOldestDevice_data();
    void quotaSignsOutTheOldestDevice();
    void passwordErrors_data();
    void passwordErrors();
    void passwordChangesEndEverySession_data();
    void passwordChangesEndEverySession();
    void deleteAccount();
    void logoutAndConnectivityCheck();
    void demoContentInTheAskedLanguage_data();
    void demoContentInTheAskedLanguage();

private:
    TestEnvironment m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<DevServerTestClient> m_client;
};

void DevServerAccountTest::initTestCase()
{
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_client = std::make_unique<DevServerTestClient>(*m_server);
}

// --- bootstrap -------------------------------------------------------------------

void DevServerAccountTest::bootstrapSectionShapes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("type"); // QJsonValue::Type

    const auto row = [](const char *path, QJsonValue::Type type) {
        QTest::newRow(path) << QString::fromLatin1(path) << int(type);
    };
    for (const char *key : {"user/email", "user/name", "user/selected_node_id", "user/active_plan_id",
             "user/active_plan_name", "user/membership_label", "user/plan_type", "user/plan_expires_at",
             "user/trial_claim/claim_date", "user/trial_claim/next_reset_at"})
        row(key, QJsonValue::String);
    for (const char *key : {"user/membership_active", "user/trial_claim/enabled", "user/trial_claim/can_claim",
             "user/trial_claim/paid_member", "user/trial_claim/claimed_today"})
        row(key, QJsonValue::Bool);
    row("user/trial_claim/duration_minutes", QJsonValue::Double);

    for (const char *key : {"nodes/0/id", "nodes/0/name", "nodes/0/region", "nodes/0/country", "nodes/0/country_code",
             "nodes/0/flag", "nodes/0/status", "nodes/0/quality_label", "nodes/0/outbound/type", "nodes/0/outbound/tag",
             "nodes/0/outbound/server", "nodes/0/meta/host"})
        row(key, QJsonValue::String);
    for (const char *key : {"nodes/0/disabled", "nodes/0/featured"})
        row(key, QJsonValue::Bool);
    for (const char *key : {"nodes/0/latency_ms", "nodes/0/quality_score", "nodes/0/outbound/server_port"})
        row(key, QJsonValue::Double);
    row("nodes/0/tags", QJsonValue::Array);

    for (const char *key : {"node_countries/0/id", "node_countries/0/name", "node_countries/0/country",
             "node_countries/0/country_code", "node_countries/0/flag", "node_countries/0/region",
             "node_countries/0/best_node_id", "node_countries/0/status"})
        row(key, QJsonValue::String);
    row("node_countries/0/node_ids", QJsonValue::Array);
    row("node_countries/0/node_count", QJsonValue::Double);
    row("node_countries/0/latency_ms", QJsonValue::Double);

    for (const char *key : {"plans/2/id", "plans/2/name", "plans/2/price", "plans/2/billing", "plans/2/description"})
        row(key, QJsonValue::String);
    row("plans/2/devices", QJsonValue::Double);
    row("plans/2/featured", QJsonValue::Bool);
    row("plans/2/highlights", QJsonValue::Array);

    for (const char *key : {"dashboard/today_usage", "dashboard/upload", "dashboard/download", "dashboard/uptime"})
        row(key, QJsonValue::String);
    for (const char *key : {"dashboard/today_usage_bytes", "dashboard/today_sessions", "dashboard/today_online_seconds",
             "dashboard/security", "dashboard/today_usage_hourly_bytes/23"})
        row(key, QJsonValue::Double);

    for (const char *key : {"preferences/account", "preferences/network", "preferences/appearance", "preferences/help",
             "experience/billing", "support", "connectivity"})
        row(key, QJsonValue::Object);
    row("preferences/network/routing_mode", QJsonValue::String);
    row("preferences/account/auto_connect", QJsonValue::Bool);
    row("preferences/help/cache_mb", QJsonValue::Double);
    row("experience/billing/orders/0/status", QJsonValue::String);
    row("experience/billing/orders/0/plan_id", QJsonValue::String);
    row("experience/billing/records/0/title", QJsonValue::String);
    row("experience/billing/next_renewal", QJsonValue::String);

    row("connectivity/test_urls/2", QJsonValue::String);
    for (const char *key :
        {"connectivity/min_success_pct", "connectivity/probe_delay_ms", "connectivity/probe_timeout_ms",
            "connectivity/tcp_ping_timeout_ms", "connectivity/load_refresh_seconds", "connectivity/load_timeout_ms"})
        row(key, QJsonValue::Double);
}

void DevServerAccountTest::bootstrapSectionShapes()
{
    QFETCH(QString, path);
    QFETCH(int, type);

    const QString token
        = m_client->signIn(QLatin1String(kDemoEmail), QLatin1String(kDemoPassword), QStringLiteral("shapes"));
    const DevAnswer answer = m_client->get(QLatin1String(kBootstrap), token);
    QCOMPARE(answer.status, 200);
    const QJsonValue value = valueAt(answer.json(), path);
    QCOMPARE(int(value.type()), type);
    if (value.isObject())
        QVERIFY(!value.toObject().isEmpty());
}

void DevServerAccountTest::membershipDiffersBetweenDemoAccounts()
{
    const QJsonObject member = m_client
                                   ->get(QLatin1String(kBootstrap),
                                       m_client->signIn(QLatin1String(kDemoEmail), QLatin1String(kDemoPassword),
                                           QStringLiteral("member-view")))
                                   .json();
    const QJsonObject trial = m_client
                                  ->get(QLatin1String(kBootstrap),
                                      m_client->signIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword),
                                          QStringLiteral("trial-view")))
                                  .json();

    QCOMPARE(valueAt(member, QStringLiteral("user/active_plan_id")).toString(), QStringLiteral("pro-yearly"));
    QCOMPARE(valueAt(member, QStringLiteral("user/membership_active")).toBool(), true);
    QCOMPARE(valueAt(member, QStringLiteral("user/plan_type")).toString(), QStringLiteral("paid"));
    QCOMPARE(valueAt(member, QStringLiteral("user/trial_claim/paid_member")).toBool(), true);
    QCOMPARE(valueAt(member, QStringLiteral("user/trial_claim/can_claim")).toBool(), false);
    QCOMPARE(valueAt(member, QStringLiteral("experience/billing/next_renewal")).toString(),
        valueAt(member, QStringLiteral("user/plan_expires_at")).toString());
    QCOMPARE(valueAt(member, QStringLiteral("experience/devices/limit")).toInt(), 4);
    QVERIFY(valueAt(member, QStringLiteral("dashboard/today_usage_bytes")).toDouble() > 0);

    QCOMPARE(valueAt(trial, QStringLiteral("user/membership_active")).toBool(), false);
    QCOMPARE(valueAt(trial, QStringLiteral("user/active_plan_id")).toString(), QString());
    QCOMPARE(valueAt(trial, QStringLiteral("user/trial_claim/can_claim")).toBool(), true);
    QCOMPARE(valueAt(trial, QStringLiteral("user/trial_claim/claimed_today")).toBool(), false);
    QVERIFY(valueAt(trial, QStringLiteral("experience/billing/orders")).toArray().isEmpty());
    QCOMPARE(valueAt(trial, QStringLiteral("experience/devices/limit")).toInt(), 0);

    // The three plans with the device allowances the quota uses.
    const QJsonArray plans = member.value(QStringLiteral("plans")).toArray();
    QCOMPARE(plans.size(), 3);
    QStringList shape;
    for (const QJsonValue &plan : plans)
        shape << QStringLiteral("%1=%2")
                     .arg(plan.toObject().value(QStringLiteral("id")).toString())
                     .arg(plan.toObject().value(QStringLiteral("devices")).toInt());
    QCOMPARE(shape, QStringList({"lite-monthly=2", "pro-yearly=4", "team-yearly=10"}));

    QCOMPARE(valueAt(member, QStringLiteral("dashboard/today_usage_hourly_bytes")).toArray().size(), 24);
    QVERIFY(valueAt(member, QStringLiteral("connectivity/test_urls/0"))
                .toString()
                .startsWith(m_server->baseUrl() + QStringLiteral("/generate_204")));
}

// --- preferences, billing, invite -----------------------------------------------------------

void DevServerAccountTest::preferencesRoundTrip()
{
    const QString email = m_client->newAccount();
    const QString token = m_client->signIn(email, DevServerTestClient::password());
    const QJsonObject defaults
        = m_client->get(QLatin1String(kBootstrap), token).json().value(QStringLiteral("preferences")).toObject();
    QCOMPARE(valueAt(defaults, QStringLiteral("network/routing_mode")).toString(), QStringLiteral("smart"));
    QCOMPARE(valueAt(defaults, QStringLiteral("appearance/accent")).toString(), QStringLiteral("sunset"));

    const DevAnswer saved = m_client->post(QLatin1String(kPreferences),
        {{QStringLiteral("network"), QJsonObject {{QStringLiteral("routing_mode"), QStringLiteral(" Global ")}}},
            {QStringLiteral("appearance"),
                QJsonObject {
                    {QStringLiteral("theme"), QStringLiteral("dark")}, {QStringLiteral("reduce_motion"), true}}},
            {QStringLiteral("help"), QJsonObject {{QStringLiteral("cache_mb"), 256}}}},
        token);
    QCOMPARE(saved.status, 200);
    const QJsonObject stored = saved.json();
    // The answer is the preferences themselves: exactly the four sections.
    QCOMPARE(stored.keys(), QStringList({"account", "appearance", "help", "network"}));
    QCOMPARE(valueAt(stored, QStringLiteral("network/routing_mode")).toString(), QStringLiteral("global"));
    QCOMPARE(valueAt(stored, QStringLiteral("appearance/theme")).toString(), QStringLiteral("dark"));
    QCOMPARE(valueAt(stored, QStringLiteral("appearance/accent")).toString(), QStringLiteral("sunset"));
    QCOMPARE(valueAt(stored, QStringLiteral("help/cache_mb")).toInt(), 256);
    QCOMPARE(stored.value(QStringLiteral("account")), defaults.value(QStringLiteral("account")));

    // Kept across sessions (without membership the new one signs the first out), and per account.
    const QString again = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("second"));
    QCOMPARE(
        m_client->get(QLatin1String(kBootstrap), again).json().value(QStringLiteral("preferences")).toObject(), stored);
    const QString other = m_client->signIn(m_client->newAccount(), DevServerTestClient::password());
    QCOMPARE(m_client->get(QLatin1String(kBootstrap), other).json().value(QStringLiteral("preferences")).toObject(),
        defaults);

    QCOMPARE(m_client->post(QLatin1String(kPreferences), {}, token).status, 401);

    // Any other routing word is smart.
    const DevAnswer fixed = m_client->post(QLatin1String(kPreferences),
        {{QStringLiteral("network"), QJsonObject {{QStringLiteral("routing_mode"), QStringLiteral("fixed")}}}}, again);
    QCOMPARE(fixed.status, 200);
    QCOMPARE(valueAt(fixed.json(), QStringLiteral("network/routing_mode")).toString(), QStringLiteral("smart"));
}

void DevServerAccountTest::preferencesRefuseNonObjectSections()
{
    const QString token = m_client->signIn(m_client->newAccount(), DevServerTestClient::password());
    const DevAnswer refused = m_client->post(QLatin1String(kPreferences),
        {{QStringLiteral("network"), QJsonObject {{QStringLiteral("routing_mode"), QStringLiteral("global")}}},
            {QStringLiteral("help"), QStringLiteral("lots")}},
        token);
    QCOMPARE(refused.status, 400);
    QVERIFY(refused.errorText().contains(QLatin1String("help")));
    // Nothing of the refused body was kept.
    const QJsonObject preferences
        = m_client->get(QLatin1String(kBootstrap), token).json().value(QStringLiteral("preferences")).toObject();
    QCOMPARE(valueAt(preferences, QStringLiteral("network/routing_mode")).toString(), QStringLiteral("smart"));

    QCOMPARE(m_client->send("POST", QLatin1String(kPreferences), "[1,2]", token).errorText(),
        QStringLiteral("invalid json body"));
    QCOMPARE(m_client->post(QLatin1String(kPreferences), {}).status, 401);
}

void DevServerAccountTest::billingAndInvite()
{
    const QString token
        = m_client->signIn(QLatin1String(kDemoEmail), QLatin1String(kDemoPassword), QStringLiteral("billing"));
    const DevAnswer billing = m_client->get(QLatin1String(kBilling), token);
    QCOMPARE(billing.status, 200);
    const QJsonArray orders = billing.json().value(QStringLiteral("orders")).toArray();
    QVERIFY(orders.size() >= 2);
    // Newest first: the order of the running membership.
    QCOMPARE(valueAt(billing.json(), QStringLiteral("orders/0/status")).toString(), QStringLiteral("active"));
    QCOMPARE(valueAt(billing.json(), QStringLiteral("orders/0/plan_id")).toString(), QStringLiteral("pro-yearly"));
    const QJsonArray records = billing.json().value(QStringLiteral("records")).toArray();
    QVERIFY(!records.isEmpty());
    for (const QJsonValue &record : records)
        QCOMPARE(record.toObject().value(QStringLiteral("status")).toString(), QStringLiteral("paid"));
    QCOMPARE(valueAt(billing.json(), QStringLiteral("records/0/title")).toString(), QStringLiteral("季付"));
    QCOMPARE(billing.json().value(QStringLiteral("total_paid")).toString(), QStringLiteral("¥66"));
    QVERIFY(!billing.json().value(QStringLiteral("next_renewal")).toString().isEmpty());

    const DevAnswer invite = m_client->get(QLatin1String(kInvite), token);
    QCOMPARE(invite.status, 200);
    const QJsonObject before = invite.json();
    QCOMPARE(before.value(QStringLiteral("code")).toString(), QStringLiteral("QUILLET26"));
    QVERIFY(before.value(QStringLiteral("link")).toString().endsWith(QLatin1String("QUILLET26")));
    const int invited = before.value(QStringLiteral("invited_count")).toInt();
    QVERIFY(invited >= 1); // the trial account
    QCOMPARE(before.value(QStringLiteral("reward_days")).toInt(), invited * 7);

    // Registering with the code counts for the inviter.
    const QString address = QStringLiteral("invited-%1@example.com").arg(QDateTime::currentMSecsSinceEpoch());
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[mail\\] ")));
    QCOMPARE(m_client
                 ->post(QLatin1String(kSendCode),
                     {{QStringLiteral("email"), address}, {QStringLiteral("use"), QStringLiteral("register")}})
                 .status,
        200);
    const DevAnswer registered = m_client->post(QLatin1String(kRegister),
        {{QStringLiteral("email"), address}, {QStringLiteral("password"), QStringLiteral("long-enough")},
            {QStringLiteral("code"), m_server->lastMailCode(address)},
            {QStringLiteral("invite_code"), QStringLiteral("quillet26")}});
    QCOMPARE(registered.status, 200);
    const QJsonObject after = m_client->get(QLatin1String(kInvite), token).json();
    QCOMPARE(after.value(QStringLiteral("invited_count")).toInt(), invited + 1);
    QCOMPARE(after.value(QStringLiteral("reward_days")).toInt(), (invited + 1) * 7);

    // The newcomer has no orders yet.
    const QString newcomer = registered.json().value(QStringLiteral("token")).toString();
    QVERIFY(
        m_client->get(QLatin1String(kBilling), newcomer).json().value(QStringLiteral("orders")).toArray().isEmpty());
}

// --- devices -----------------------------------------------------------------------------

void DevServerAccountTest::devicesListMarksTheCurrentDevice()
{
    const QString email = m_client->newAccount(QStringLiteral("pro-yearly"));
    const QString laptop = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("laptop"));
    const QString desktop = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("desktop"));
    const QString anonymous = m_client->signIn(email, DevServerTestClient::password());

    const DevAnswer answer = m_client->get(QLatin1String(kDevices), desktop);
    QCOMPARE(answer.status, 200);
    const QJsonObject section = answer.json();
    QCOMPARE(section.value(QStringLiteral("used")).toInt(), 3);
    QCOMPARE(section.value(QStringLiteral("limit")).toInt(), 4);
    QVERIFY(!section.contains(QStringLiteral("alert")));
    const QJsonArray items = section.value(QStringLiteral("items")).toArray();
    QCOMPARE(items.size(), 3);
    int current = 0;
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        for (const char *key : {"id", "name", "platform", "location", "last_seen"})
            QVERIFY2(item.value(QLatin1String(key)).isString(), key);
        if (item.value(QStringLiteral("current")).toBool()) {
            ++current;
            QCOMPARE(item.value(QStringLiteral("id")).toString(), QStringLiteral("desktop"));
            QCOMPARE(item.value(QStringLiteral("platform")).toString(), QStringLiteral("Windows"));
        }
    }
    QCOMPARE(current, 1);
    // A session that named no device is listed under an id that does not reveal its token.
    const QStringList ids = deviceIds(section);
    QVERIFY(ids.contains(QStringLiteral("laptop")));
    const QString unnamed = ids.filter(QStringLiteral("session-")).value(0);
    QVERIFY(!unnamed.isEmpty());
    QVERIFY(!anonymous.contains(unnamed.mid(8)));

    // Signing in again on the same device is not another device.
    m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("laptop"));
    const QJsonObject fourth = m_client->get(QLatin1String(kDevices), desktop).json();
    QCOMPARE(fourth.value(QStringLiteral("used")).toInt(), 3);
    QCOMPARE(m_client->get(QLatin1String(kDevices), laptop).status, 401);

    // At the allowance the section warns.
    m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("tablet"));
    const QJsonObject full = m_client->get(QLatin1String(kDevices), desktop).json();
    QCOMPARE(full.value(QStringLiteral("used")).toInt(), 4);
    QVERIFY(!full.value(QStringLiteral("alert")).toString().isEmpty());

    // Without membership the allowance shown is 0.
    const QString free = m_client->signIn(m_client->newAccount(), DevServerTestClient::password(), QStringLiteral("x"));
    const QJsonObject none = m_client->get(QLatin1String(kDevices), free).json();
    QCOMPARE(none.value(QStringLiteral("limit")).toInt(), 0);
    QCOMPARE(none.value(QStringLiteral("used")).toInt(), 1);
}

void DevServerAccountTest::revokeDevice_data()
{
    QTest::addColumn<QString>("target"); // "other", "current", "blank", "unknown", "foreign"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("another device") << "other" << 200 << "";
    QTest::newRow("this device") << "current" << 400 << "cannot revoke current device";
    QTest::newRow("blank id") << "blank" << 400 << "device_id is required";
    QTest::newRow("unknown id") << "unknown" << 404 << "device session not found";
    QTest::newRow("another account's device") << "foreign" << 404 << "device session not found";
}

void DevServerAccountTest::revokeDevice()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QString, error);

    const QString email = m_client->newAccount(QStringLiteral("team-yearly"));
    const QString mine = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("mine"));
    const QString other = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("other"));
    const QString stranger = m_client->signIn(m_client->newAccount(QStringLiteral("team-yearly")),
        DevServerTestClient::password(), QStringLiteral("foreign"));
    QList<QJsonObject> otherEvents;
    const auto otherStream = m_client->openStream(other, &otherEvents);
    QList<QJsonObject> myEvents;
    const auto myStream = m_client->openStream(mine, &myEvents);
    QCOMPARE(otherEvents.size(), 1);
    QSignalSpy otherClosed(otherStream.get(), &QWebSocket::disconnected);

    QString deviceId = target;
    if (target == QLatin1String("current"))
        deviceId = QStringLiteral("mine");
    else if (target == QLatin1String("blank"))
        deviceId = QStringLiteral("   ");
    else if (target == QLatin1String("unknown"))
        deviceId = QStringLiteral("nowhere");
    const DevAnswer answer
        = m_client->post(QLatin1String(kDevicesRevoke), {{QStringLiteral("device_id"), deviceId}}, mine);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.errorText(), error);

    if (status != 200) {
        QCOMPARE(m_client->get(QLatin1String(kDevices), other).status, 200);
        QCOMPARE(m_client->get(QLatin1String(kDevices), stranger).status, 200);
        QCOMPARE(otherEvents.size(), 1);
        return;
    }
    QCOMPARE(answer.json().value(QStringLiteral("ok")).toBool(), true);
    // The revoked device hears why, then its stream ends and its token is dead.
    QTRY_VERIFY_WITH_TIMEOUT(lastOfType(otherEvents, QStringLiteral("device_revoked")), 5000);
    QCOMPARE(lastOfType(otherEvents, QStringLiteral("device_revoked"))->value(QStringLiteral("device_id")).toString(),
        QStringLiteral("other"));
    QVERIFY(!lastOfType(otherEvents, QStringLiteral("device_revoked"))
                 ->value(QStringLiteral("message"))
                 .toString()
                 .isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(otherClosed.size(), 1, 5000);
    QCOMPARE(m_client->get(QLatin1String(kDevices), other).status, 401);
    QCOMPARE(deviceIds(m_client->get(QLatin1String(kDevices), mine).json()), QStringList {QStringLiteral("mine")});
    QCOMPARE(myEvents.size(), 1); // only the greeting
}

void DevServerAccountTest::quotaSignsOutTheOldestDevice_data()
{
    QTest::addColumn<QString>("planId");
    QTest::addColumn<int>("quota");

    QTest::newRow("no membership") << "" << 1;
    QTest::newRow("lite-monthly") << "lite-monthly" << 2;
    QTest::newRow("pro-yearly") << "pro-yearly" << 4;
    QTest::newRow("team-yearly") << "team-yearly" << 10;
}

void DevServerAccountTest::quotaSignsOutTheOldestDevice()
{
    QFETCH(QString, planId);
    QFETCH(int, quota);

    const QString email = m_client->newAccount(planId);
    QStringList tokens;
    for (int i = 0; i < quota; ++i) {
        tokens << m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("device-%1").arg(i));
        QTest::qWait(2); // distinct sign-in times
    }
    QList<QJsonObject> oldestEvents;
    const auto oldestStream = m_client->openStream(tokens.first(), &oldestEvents);
    QCOMPARE(oldestEvents.size(), 1);
    for (const QString &token : std::as_const(tokens))
        QCOMPARE(m_client->get(QLatin1String(kDevices), token).status, 200);

    // One device more: the oldest makes room.
    const QString newest = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("newcomer"));
    QVERIFY(!newest.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(lastOfType(oldestEvents, QStringLiteral("device_revoked")), 5000);
    const QJsonObject event = *lastOfType(oldestEvents, QStringLiteral("device_revoked"));
    QCOMPARE(event.value(QStringLiteral("device_id")).toString(), QStringLiteral("device-0"));
    QCOMPARE(event.value(QStringLiteral("reason")).toString(), QStringLiteral("device limit exceeded"));

    QCOMPARE(m_client->get(QLatin1String(kDevices), tokens.first()).status, 401);
    for (const QString &token : tokens.mid(1))
        QCOMPARE(m_client->get(QLatin1String(kDevices), token).status, 200);
    const QJsonObject devices = m_client->get(QLatin1String(kDevices), newest).json();
    QCOMPARE(devices.value(QStringLiteral("used")).toInt(), quota);
    QVERIFY(!deviceIds(devices).contains(QStringLiteral("device-0")));
    QVERIFY(deviceIds(devices).contains(QStringLiteral("newcomer")));
}

// --- passwords and deletion --------------------------------------------------------------

void DevServerAccountTest::passwordErrors_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<QJsonObject>("body"); // "{code}" stands for a fresh reset code
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QString reset = QLatin1String(kResetPassword);
    const QString change = QLatin1String(kAccountPassword);
    const QJsonObject valid {{QStringLiteral("email"), QStringLiteral("{email}")},
        {QStringLiteral("password"), QStringLiteral("new-password-1")},
        {QStringLiteral("code"), QStringLiteral("{code}")}};
    const auto with = [&valid](const char *key, const QJsonValue &value) {
        QJsonObject body = valid;
        body.insert(QLatin1String(key), value);
        return body;
    };
    QTest::newRow("reset: bad address") << reset << with("email", QStringLiteral("nope")) << 400
                                        << "valid email is required";
    QTest::newRow("reset: short password")
        << reset << with("password", QStringLiteral("1234567")) << 400 << "password must be at least 8 characters";
    QTest::newRow("reset: unknown address")
        << reset << with("email", QStringLiteral("ghost@example.com")) << 404 << "email does not exist";
    QTest::newRow("reset: no code") << reset << with("code", QString()) << 400 << "email verification is required";
    QTest::newRow("reset: wrong code") << reset << with("code", QStringLiteral("{wrong}")) << 400
                                       << "invalid or expired verification code";
    QTest::newRow("change: wrong current")
        << change
        << QJsonObject {{QStringLiteral("current_password"), QStringLiteral("not-it-at-all")},
               {QStringLiteral("new_password"), QStringLiteral("new-password-1")}}
        << 400 << "current password is incorrect";
    QTest::newRow("change: current with a blank")
        << change
        << QJsonObject {{QStringLiteral("current_password"), DevServerTestClient::password() + QLatin1Char(' ')},
               {QStringLiteral("new_password"), QStringLiteral("new-password-1")}}
        << 400 << "current password is incorrect";
    QTest::newRow("change: short new") << change
                                       << QJsonObject {{QStringLiteral("current_password"),
                                                           DevServerTestClient::password()},
                                              {QStringLiteral("new_password"), QStringLiteral("short")}}
                                       << 400 << "new password must be at least 8 characters";
}

void DevServerAccountTest::passwordErrors()
{
    QFETCH(QString, route);
    QFETCH(QJsonObject, body);
    QFETCH(int, status);
    QFETCH(QString, error);

    const QString email = m_client->newAccount(QStringLiteral("lite-monthly"));
    const QString token = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("pc"));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[mail\\] ")));
    QCOMPARE(m_client
                 ->post(QLatin1String(kSendCode),
                     {{QStringLiteral("email"), email}, {QStringLiteral("use"), QStringLiteral("reset")}})
                 .status,
        200);
    const QString code = m_server->lastMailCode(email);
    for (auto it = body.begin(); it != body.end(); ++it) {
        const QString text = it.value().toString();
        if (text == QLatin1String("{email}"))
            it.value() = email;
        else if (text == QLatin1String("{code}"))
            it.value() = code;
        else if (text == QLatin1String("{wrong}"))
            it.value() = code == QLatin1String("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
    }

    const DevAnswer answer = m_client->post(route, body, token);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.errorText(), error);
    // Refused: nothing changed.
    QCOMPARE(m_client->get(QLatin1String(kDevices), token).status, 200);
    QVERIFY(!m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("pc")).isEmpty());
}

void DevServerAccountTest::passwordChangesEndEverySession_data()
{
    QTest::addColumn<bool>("reset"); // through the e-mail code, else signed in

    QTest::newRow("reset with a code") << true;
    QTest::newRow("change while signed in") << false;
}

void DevServerAccountTest::passwordChangesEndEverySession()
{
    QFETCH(bool, reset);

    const QString email = m_client->newAccount(QStringLiteral("pro-yearly"));
    const QString here = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("here"));
    const QString elsewhere = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("elsewhere"));
    QList<QJsonObject> hereEvents;
    QList<QJsonObject> elsewhereEvents;
    const auto hereStream = m_client->openStream(here, &hereEvents);
    const auto elsewhereStream = m_client->openStream(elsewhere, &elsewhereEvents);
    QSignalSpy hereClosed(hereStream.get(), &QWebSocket::disconnected);
    QSignalSpy elsewhereClosed(elsewhereStream.get(), &QWebSocket::disconnected);
    const QString newPassword = QStringLiteral("Brand new pass 2");

    DevAnswer answer;
    if (reset) {
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[mail\\] ")));
        m_client->post(QLatin1String(kSendCode),
            {{QStringLiteral("email"), email}, {QStringLiteral("use"), QStringLiteral("reset")}});
        const QString code = m_server->lastMailCode(email);
        answer = m_client->post(QLatin1String(kResetPassword),
            {{QStringLiteral("email"), email}, {QStringLiteral("password"), newPassword},
                {QStringLiteral("code"), code}});
        QCOMPARE(answer.status, 200);
        // The code is used up.
        QCOMPARE(m_client
                     ->post(QLatin1String(kResetPassword),
                         {{QStringLiteral("email"), email}, {QStringLiteral("password"), newPassword},
                             {QStringLiteral("code"), code}})
                     .errorText(),
            QStringLiteral("invalid or expired verification code"));
    } else {
        answer = m_client->post(QLatin1String(kAccountPassword),
            {{QStringLiteral("current_password"), DevServerTestClient::password()},
                {QStringLiteral("new_password"), newPassword}},
            here);
        QCOMPARE(answer.status, 200);
    }
    QVERIFY(!answer.json().isEmpty());

    QCOMPARE(m_client->get(QLatin1String(kBootstrap), here).status, 401);
    QCOMPARE(m_client->get(QLatin1String(kBootstrap), elsewhere).status, 401);
    QTRY_COMPARE_WITH_TIMEOUT(hereClosed.size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(elsewhereClosed.size(), 1, 5000);
    QVERIFY(lastOfType(elsewhereEvents, QStringLiteral("session_revoked")));
    // The device that changed it knows already; it is not told it was kicked.
    QCOMPARE(lastOfType(hereEvents, QStringLiteral("session_revoked")) != nullptr, reset);

    QVERIFY(m_client->signIn(email, DevServerTestClient::password()).isEmpty());
    QVERIFY(!m_client->signIn(email, newPassword).isEmpty());
}

void DevServerAccountTest::deleteAccount()
{
    const QString email = m_client->newAccount(QStringLiteral("pro-yearly"));
    const QString here = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("here"));
    const QString elsewhere = m_client->signIn(email, DevServerTestClient::password(), QStringLiteral("elsewhere"));
    QVERIFY(m_client
                ->post(QLatin1String(kPreferences),
                    {{QStringLiteral("help"), QJsonObject {{QStringLiteral("cache_mb"), 512}}}}, here)
                .status
        == 200);
    QList<QJsonObject> elsewhereEvents;
    const auto elsewhereStream = m_client->openStream(elsewhere, &elsewhereEvents);

    const DevAnswer answer = m_client->post(QLatin1String(kAccountDelete), {}, here);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.json(), QJsonObject({{QStringLiteral("ok"), true}, {QStringLiteral("deleted"), true}}));

    QCOMPARE(m_client->get(QLatin1String(kBootstrap), here).status, 401);
    QCOMPARE(m_client->get(QLatin1String(kBootstrap), elsewhere).status, 401);
    QTRY_VERIFY_WITH_TIMEOUT(lastOfType(elsewhereEvents, QStringLiteral("session_revoked")), 5000);
    QVERIFY(m_client->signIn(email, DevServerTestClient::password()).isEmpty());
    bool gone = false;
    m_server->run([&](DevServer &server) { gone = !server.store().accountByEmail(email).has_value(); });
    QVERIFY(gone);

    // The address is free again.
    qint64 reborn = -1;
    m_server->run([&](DevServer &server) {
        reborn = server.store().createAccount(email, DevServerTestClient::password(), QString());
    });
    QVERIFY(reborn > 0);
}

void DevServerAccountTest::logoutAndConnectivityCheck()
{
    const QString token = m_client->signIn(m_client->newAccount(), DevServerTestClient::password());
    const DevAnswer logout = m_client->send("POST", QLatin1String(kLogout), "{}", token);
    QCOMPARE(logout.status, 200);
    QVERIFY(!logout.json().isEmpty());
    QCOMPARE(m_client->get(QLatin1String(kBootstrap), token).status, 401);

    const DevAnswer probe = m_client->get(QStringLiteral("/generate_204"));
    QCOMPARE(probe.status, 204);
    QCOMPARE(probe.error, QNetworkReply::NoError);
    QVERIFY(probe.body.isEmpty());
    QCOMPARE(m_client->get(QStringLiteral("/generate_204?check=3")).status, 204);
}

void DevServerAccountTest::demoContentInTheAskedLanguage_data()
{
    QTest::addColumn<QByteArray>("acceptLanguage");
    QTest::addColumn<QString>("monthly");
    QTest::addColumn<QString>("notices");
    QTest::addColumn<QString>("htmlLang");
    QTest::newRow("zh-CN") << QByteArray("zh-CN") << QStringLiteral("月付") << QStringLiteral("系统通知") << "zh-CN"; // i18n-exempt
    QTest::newRow("zh-TW") << QByteArray("zh-TW,zh;q=0.8") << QStringLiteral("月付") << QStringLiteral("系統通知") << "zh-TW"; // i18n-exempt
    QTest::newRow("en") << QByteArray("en") << "Monthly" << "System notices" << "en";
    QTest::newRow("ru with region") << QByteArray("ru-RU, en;q=0.5") << "Месячный" << "Системные уведомления" << "ru";
    QTest::newRow("fr") << QByteArray("fr") << "Mensuel" << "Avis du système" << "fr";
    QTest::newRow("ko") << QByteArray("ko-KR") << QStringLiteral("월간 결제") << QStringLiteral("시스템 알림") << "ko";
    QTest::newRow("ja") << QByteArray("ja") << QStringLiteral("月額プラン") << QStringLiteral("システム通知") << "ja";
    QTest::newRow("other language: English") << QByteArray("pt-BR") << "Monthly" << "System notices" << "en";
}

// The demo content (plans, inbox, support greeting, checkout page) answers in the language asked.
void DevServerAccountTest::demoContentInTheAskedLanguage()
{
    QFETCH(QByteArray, acceptLanguage);
    QFETCH(QString, monthly);
    QFETCH(QString, notices);
    QFETCH(QString, htmlLang);
    const QString token = m_client->signIn(m_client->newAccount(), DevServerTestClient::password());
    QVERIFY(!token.isEmpty());
    m_client->setAcceptLanguage(acceptLanguage);
    const DevAnswer boot = m_client->get(QStringLiteral("/api/v1/bootstrap"), token);
    const DevAnswer support = m_client->get(QStringLiteral("/api/v1/support/chat"), token);
    const DevAnswer checkout = m_client->post(QStringLiteral("/api/v1/payments/checkout"),
                                              QJsonObject{{QStringLiteral("plan_id"), QStringLiteral("lite-monthly")}}, token);
    m_client->setAcceptLanguage("zh-CN");
    QCOMPARE(boot.status, 200);
    QCOMPARE(valueAt(boot.json(), QStringLiteral("plans/0/name")).toString(), monthly);
    const QJsonArray categories = valueAt(boot.json(), QStringLiteral("experience/messages/categories")).toArray();
    QVERIFY2(categories.contains(notices), QJsonDocument(categories).toJson().constData());
    const QString greeting = valueAt(support.json(), QStringLiteral("conversation/messages/0/text")).toString();
    QVERIFY(!greeting.isEmpty());
    const bool chineseAnswer = htmlLang.startsWith(QLatin1String("zh")) || htmlLang == QLatin1String("ja");
    QCOMPARE(greeting.contains(QChar(0x4f60)) || greeting.contains(QChar(0x3053)), chineseAnswer); // "你" / "こ"

    // The checkout link carries the language, and the page (opened by a browser in another language) keeps it.
    QCOMPARE(checkout.status, 200);
    const QUrl page(checkout.json().value(QStringLiteral("checkout_url")).toString());
    QCOMPARE(QUrlQuery(page).queryItemValue(QStringLiteral("lang")), htmlLang);
    const DevAnswer html = m_client->get(page.path() + QLatin1Char('?') + page.query(QUrl::FullyEncoded));
    QCOMPARE(html.status, 200);
    QVERIFY2(html.body.contains("lang=\"" + htmlLang.toLatin1() + '"'), html.body.left(200).constData());
    QVERIFY(html.body.contains(monthly.toUtf8()));
}

QTEST_GUILESS_MAIN(DevServerAccountTest)
#include "tst_devserver_account.moc"
