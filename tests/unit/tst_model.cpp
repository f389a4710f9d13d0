#include "api/orderedjson.h"
#include "model/catalogdefaults.h"
#include "model/nodecatalog.h"
#include "model/devicessection.h"
#include "model/maphelpers.h"
#include "model/membershiprules.h"

#include <QJsonDocument>
#include <QTimeZone>
#include <QtTest>

#include <ctime>

namespace {

QVariantMap order(const QString &status, const QString &planId)
{
    return QVariantMap{{QStringLiteral("status"), status}, {QStringLiteral("plan_id"), planId}};
}

QVariantMap record(const QString &status, const QString &title)
{
    return QVariantMap{{QStringLiteral("status"), status}, {QStringLiteral("title"), title}};
}

QVariantList samplePlans()
{
    return QVariantList{
        QVariantMap{{QStringLiteral("id"), QStringLiteral("lite-monthly")}, {QStringLiteral("name"), QStringLiteral("Monthly")}},
        QVariantMap{{QStringLiteral("id"), QStringLiteral("pro-quarterly")}, {QStringLiteral("name"), QStringLiteral("Quarterly")},
                    {QStringLiteral("devices"), QStringLiteral("4 台设备")}, {QStringLiteral("deviceCount"), 4}},
        QVariantMap{{QStringLiteral("id"), QStringLiteral("team")}, {QStringLiteral("name"), QStringLiteral("Team")},
                    {QStringLiteral("devices"), QStringLiteral("10")}},
    };
}

QVariantMap thisDevice()
{
    return QVariantMap{{QStringLiteral("device_id"), QStringLiteral("dev-1")},
                       {QStringLiteral("device_name"), QStringLiteral("workstation")},
                       {QStringLiteral("device_platform"), QStringLiteral("Linux")},
                       {QStringLiteral("device_location"), QStringLiteral("当前网络")}};
}

} // namespace

class ModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void leadingInteger_data();
    void leadingInteger();
    void mapReaders();
    void orderedJsonKeepsKeyOrder();
    void expiryValidity_data();
    void expiryValidity();
    void endedMembership_data();
    void endedMembership();
    void membershipEndCheck_data();
    void membershipEndCheck();
    void activeMembershipFromOrders_data();
    void activeMembershipFromOrders();
    void inferredPlan_data();
    void inferredPlan();
    void trialStatusNormalization_data();
    void trialStatusNormalization();
    void devicesNormalization_data();
    void devicesNormalization();
    void devicePlanQuota();
    void defaultsHaveTheirShape();
};

void ModelTest::leadingInteger_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("expected");
    QTest::newRow("number") << QVariant(3) << true << 3;
    QTest::newRow("double") << QVariant(2.0) << true << 2;
    QTest::newRow("text with unit") << QVariant(QStringLiteral("5 台")) << true << 5;
    QTest::newRow("padded text") << QVariant(QStringLiteral("  12")) << true << 12;
    QTest::newRow("no digits") << QVariant(QStringLiteral("many")) << false << 0;
    QTest::newRow("empty") << QVariant(QString()) << false << 0;
    QTest::newRow("missing") << QVariant() << false << 0;
}

void ModelTest::leadingInteger()
{
    QFETCH(QVariant, value);
    QFETCH(bool, ok);
    QFETCH(int, expected);
    int out = 0;
    QCOMPARE(MapHelpers::leadingInteger(value, &out), ok);
    if (ok)
        QCOMPARE(out, expected);
}

void ModelTest::mapReaders()
{
    const QVariantMap map{{QStringLiteral("empty"), QVariantMap()},
                          {QStringLiteral("inner"), QVariantMap{{QStringLiteral("a"), 1}}},
                          {QStringLiteral("blank"), QStringLiteral("  ")},
                          {QStringLiteral("name"), QStringLiteral(" Kai ")},
                          {QStringLiteral("nothing"), QVariant()}};
    QCOMPARE(MapHelpers::firstNestedMap(map, {QStringLiteral("empty"), QStringLiteral("inner")}).value(QStringLiteral("a")).toInt(), 1);
    QVERIFY(MapHelpers::firstNestedMap(map, {QStringLiteral("missing")}).isEmpty());
    QCOMPARE(MapHelpers::firstNonBlankValue(map, {QStringLiteral("blank"), QStringLiteral("name")}), QStringLiteral("Kai"));
    QVERIFY(MapHelpers::mapContainsAnyKey(map, {QStringLiteral("x"), QStringLiteral("blank")}));
    QVERIFY(!MapHelpers::mapContainsAnyKey(map, {QStringLiteral("nothing"), QStringLiteral("x")}));
}

void ModelTest::orderedJsonKeepsKeyOrder()
{
    const QByteArray json = orderedJsonObject({{QStringLiteral("email"), QStringLiteral("a\"b@x.io")},
                                               {QStringLiteral("code"), QStringLiteral("123456")},
                                               {QStringLiteral("active"), true},
                                               {QStringLiteral("nested"), QVariantMap{{QStringLiteral("k"), 1}}}});
    const QByteArray expected = "{\"email\":\"a\\\"b@x.io\",\"code\":\"123456\",\"active\":true,\"nested\":{\"k\":1}}";
    QCOMPARE(json, expected);
    QVERIFY(QJsonDocument::fromJson(json).isObject());
    QCOMPARE(orderedJsonObject({}), QByteArray("{}"));
}

void ModelTest::expiryValidity_data()
{
    QTest::addColumn<QString>("expiry");
    QTest::addColumn<bool>("valid");
    const QDate today(2026, 12, 7);
    QTest::newRow("today midnight local") << QStringLiteral("2026-12-07T00:00:00") << true;
    QTest::newRow("later today") << QStringLiteral("2026-12-07T18:30:00") << true;
    QTest::newRow("yesterday 23:59 local") << QStringLiteral("2026-12-06T23:59:00") << false;
    QTest::newRow("utc midnight today") << QStringLiteral("2026-12-07T00:00:00Z") << true;
    QTest::newRow("utc yesterday") << QStringLiteral("2026-12-06T23:59:59Z") << false;
    QTest::newRow("space separator with zone") << QStringLiteral("2026-12-07 00:00:00Z") << true;
    QTest::newRow("offset yesterday in utc") << QStringLiteral("2026-12-07T07:00:00+08:00") << false;
    QTest::newRow("future with offset") << QStringLiteral("2027-01-01T08:00:00+08:00") << true;
    QTest::newRow("date only") << QStringLiteral("2026-12-08") << true;
    QTest::newRow("blank") << QStringLiteral("  ") << false;
    QTest::newRow("not a date") << QStringLiteral("next month") << false;
    Q_UNUSED(today);
}

void ModelTest::expiryValidity()
{
    QFETCH(QString, expiry);
    QFETCH(bool, valid);
    QCOMPARE(Membership::membershipExpiryStillValid(expiry, QDate(2026, 12, 7)), valid);
}

void ModelTest::endedMembership_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("expiry");
    QTest::addColumn<bool>("serverSaysEnded");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("valid");
    const auto utc = [](int day, int hour, int minute, int second = 0) {
        return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second), Qt::UTC);
    };
    // An hour-long trial that ended this morning: over at its end, not at midnight.
    QTest::newRow("ended trial, east of UTC") << QByteArray("Asia/Shanghai") << "2026-12-07T02:30:00Z" << true
                                              << utc(7, 3, 0) << false;
    QTest::newRow("ended trial, west of UTC") << QByteArray("America/Los_Angeles") << "2026-12-06T16:00:00-08:00"
                                              << true << utc(7, 1, 0) << false;
    QTest::newRow("ended trial, local time without zone") << QByteArray("Asia/Shanghai") << "2026-12-07T10:00:00"
                                                          << true << utc(7, 3, 0) << false;
    QTest::newRow("ended to the second") << QByteArray("Asia/Shanghai") << "2026-12-07T03:00:00Z" << true
                                         << utc(7, 3, 0) << false;
    QTest::newRow("one second before its end") << QByteArray("Asia/Shanghai") << "2026-12-07T03:00:01Z" << true
                                               << utc(7, 3, 0) << true;
    QTest::newRow("expired plan, yesterday") << QByteArray("Europe/Moscow") << "2026-12-06T10:00:00Z" << true
                                             << utc(7, 3, 0) << false;
    // Without the server's word the date rule holds: later today still counts.
    QTest::newRow("no verdict, east: date rule") << QByteArray("Asia/Shanghai") << "2026-12-07T02:30:00Z" << false
                                                 << utc(7, 3, 0) << true;
    QTest::newRow("no verdict, west: date rule") << QByteArray("America/Los_Angeles") << "2026-12-06T16:00:00-08:00"
                                                 << false << utc(7, 1, 0) << true;
    // An expiry without a time of day keeps the date rule, whatever the server says.
    QTest::newRow("date only, ended, today") << QByteArray("Asia/Shanghai") << "2026-12-07" << true << utc(7, 3, 0)
                                             << true;
    QTest::newRow("date only, ended, yesterday") << QByteArray("America/Los_Angeles") << "2026-12-05" << true
                                                 << utc(7, 1, 0) << false;
    QTest::newRow("ended, not a date") << QByteArray("Asia/Shanghai") << "soon" << true << utc(7, 3, 0) << false;
}

void ModelTest::endedMembership()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, expiry);
    QFETCH(bool, serverSaysEnded);
    QFETCH(QDateTime, now);
    QFETCH(bool, valid);
    const QByteArray previous = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    QCOMPARE(now.toLocalTime().offsetFromUtc(), QTimeZone(zone).offsetFromUtc(now));
    const bool result = Membership::membershipExpiryStillValidAt(expiry, serverSaysEnded, now);
    if (previous.isEmpty())
        qunsetenv("TZ");
    else
        qputenv("TZ", previous);
    tzset();
    QCOMPARE(result, valid);
}

void ModelTest::membershipEndCheck_data()
{
    QTest::addColumn<QStringList>("ends");
    QTest::addColumn<qint64>("wait");
    // now is 2026-12-07T03:00:00Z, the grace 3 s, the cap one day.
    QTest::newRow("trial ends in ten minutes") << QStringList {"", "2026-12-07T03:10:00Z"} << qint64(603000);
    QTest::newRow("earliest of plan and trial") << QStringList {"2026-12-07T05:00:00Z", "2026-12-07T03:01:00+00:00"}
                                                << qint64(63000);
    QTest::newRow("offset east of UTC") << QStringList {"2026-12-07T11:00:30+08:00"} << qint64(33000);
    QTest::newRow("milliseconds kept") << QStringList {"2026-12-07T03:00:00.500Z"} << qint64(3500);
    QTest::newRow("ended already") << QStringList {"2026-12-07T02:59:59Z", ""} << qint64(-1);
    QTest::newRow("ends right now") << QStringList {"2026-12-07T03:00:00Z"} << qint64(-1);
    QTest::newRow("date only: the date rule, no timer") << QStringList {"2026-12-07", "2026-12-08"} << qint64(-1);
    QTest::newRow("not a time") << QStringList {"soon", "2026-13-40T99:00:00Z"} << qint64(-1);
    QTest::newRow("far end capped at a day") << QStringList {"2027-06-01T00:00:00Z"} << qint64(86400000);
    QTest::newRow("nothing known") << QStringList {} << qint64(-1);
}

void ModelTest::membershipEndCheck()
{
    QFETCH(QStringList, ends);
    QFETCH(qint64, wait);
    const QDateTime now(QDate(2026, 12, 7), QTime(3, 0), Qt::UTC);
    QCOMPARE(Membership::msUntilEndCheck(ends, now, 3000, 86400000), wait);
}

void ModelTest::activeMembershipFromOrders_data()
{
    QTest::addColumn<QVariantList>("orders");
    QTest::addColumn<QString>("planId");
    QTest::addColumn<bool>("active");
    QTest::newRow("no orders") << QVariantList() << QString() << false;
    QTest::newRow("active any plan") << QVariantList{order(QStringLiteral(" Active "), QStringLiteral("x"))} << QString() << true;
    QTest::newRow("active other plan") << QVariantList{order(QStringLiteral("active"), QStringLiteral("x"))} << QStringLiteral("y") << false;
    QTest::newRow("active without plan id") << QVariantList{order(QStringLiteral("active"), QString())} << QStringLiteral("y") << true;
    QTest::newRow("paid is no active order") << QVariantList{order(QStringLiteral("paid"), QStringLiteral("y"))} << QStringLiteral("y") << false;
}

void ModelTest::activeMembershipFromOrders()
{
    QFETCH(QVariantList, orders);
    QFETCH(QString, planId);
    QFETCH(bool, active);
    QCOMPARE(Membership::billingStatusImpliesActiveMembership(QVariantMap{{QStringLiteral("orders"), orders}}, planId), active);
}

void ModelTest::inferredPlan_data()
{
    QTest::addColumn<QVariantMap>("billing");
    QTest::addColumn<QString>("expected");
    QTest::newRow("paid order") << QVariantMap{{QStringLiteral("orders"), QVariantList{order(QStringLiteral("pending"), QStringLiteral("a")), order(QStringLiteral("SETTLED"), QStringLiteral(" team "))}}}
                                << QStringLiteral("team");
    QTest::newRow("record by name in title, any case")
        << QVariantMap{{QStringLiteral("records"), QVariantList{record(QStringLiteral("paid"), QStringLiteral("QUARTERLY membership renewal"))}}}
        << QStringLiteral("pro-quarterly");
    QTest::newRow("record by id") << QVariantMap{{QStringLiteral("records"), QVariantList{record(QStringLiteral("active"), QStringLiteral("lite-monthly"))}}}
                                  << QStringLiteral("lite-monthly");
    QTest::newRow("items when records empty")
        << QVariantMap{{QStringLiteral("records"), QVariantList()}, {QStringLiteral("items"), QVariantList{record(QStringLiteral("paid"), QStringLiteral("Team"))}}}
        << QStringLiteral("team");
    QTest::newRow("unpaid records ignored") << QVariantMap{{QStringLiteral("records"), QVariantList{record(QStringLiteral("refunded"), QStringLiteral("Team"))}}}
                                            << QString();
    QTest::newRow("nothing") << QVariantMap() << QString();
}

void ModelTest::inferredPlan()
{
    QFETCH(QVariantMap, billing);
    QFETCH(QString, expected);
    QCOMPARE(Membership::inferredPlanIdFromBilling(billing, samplePlans()), expected);
}

void ModelTest::trialStatusNormalization_data()
{
    QTest::addColumn<QVariantMap>("base");
    QTest::addColumn<QVariantMap>("trial");
    QTest::addColumn<QVariantMap>("expected"); // only the keys worth checking
    QTest::newRow("camel case names")
        << QVariantMap() << QVariantMap{{QStringLiteral("canClaim"), false}, {QStringLiteral("claimedToday"), true}, {QStringLiteral("enabled"), true}}
        << QVariantMap{{QStringLiteral("can_claim"), false}, {QStringLiteral("claimed_today"), true}, {QStringLiteral("enabled"), true}};
    QTest::newRow("empty trial falls back to trial_claim")
        << QVariantMap{{QStringLiteral("trial_claim"), QVariantMap{{QStringLiteral("trial_can_claim"), true}, {QStringLiteral("duration_minutes"), 60}}}}
        << QVariantMap() << QVariantMap{{QStringLiteral("can_claim"), true}, {QStringLiteral("duration_minutes"), 60}};
    QTest::newRow("base map answers what the trial map lacks")
        << QVariantMap{{QStringLiteral("trial_enabled"), true}, {QStringLiteral("claim_date"), QStringLiteral("2026-12-07")}}
        << QVariantMap{{QStringLiteral("paid_member"), true}}
        << QVariantMap{{QStringLiteral("enabled"), true}, {QStringLiteral("paid_member"), true}, {QStringLiteral("claim_date"), QStringLiteral("2026-12-07")}};
    QTest::newRow("earlier name wins across maps")
        << QVariantMap{{QStringLiteral("trial_can_claim"), true}} << QVariantMap{{QStringLiteral("can_claim"), false}}
        << QVariantMap{{QStringLiteral("can_claim"), true}};
    QTest::newRow("absent values") << QVariantMap() << QVariantMap()
                                   << QVariantMap{{QStringLiteral("enabled"), false}, {QStringLiteral("duration_minutes"), 0}, {QStringLiteral("expires_at"), QString()}};
}

void ModelTest::trialStatusNormalization()
{
    QFETCH(QVariantMap, base);
    QFETCH(QVariantMap, trial);
    QFETCH(QVariantMap, expected);
    const QVariantMap result = Membership::normalizedTrialClaimStatus(base, trial);
    QCOMPARE(result.size(), 9);
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
        QCOMPARE(result.value(it.key()), it.value());
}

void ModelTest::devicesNormalization_data()
{
    QTest::addColumn<QVariantMap>("section");
    QTest::addColumn<int>("planQuota");
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("used");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<QString>("alert");

    const QVariantList two{QVariantMap{{QStringLiteral("id"), QStringLiteral("a")}}, QVariantMap{{QStringLiteral("id"), QStringLiteral("b")}}};
    QTest::newRow("records and active_count") << QVariantMap{{QStringLiteral("records"), two}, {QStringLiteral("active_count"), QStringLiteral("2 台")}, {QStringLiteral("max_devices"), 5}}
                                              << 0 << 2 << 2 << 5 << QStringLiteral("2 / 5 台设备") << QString();
    QTest::newRow("empty answer without plan") << QVariantMap() << 0 << 1 << 1 << 0 << QStringLiteral("未购买套餐") << QString();
    QTest::newRow("plan quota as default limit") << QVariantMap{{QStringLiteral("devices"), two}} << 4 << 2 << 0 << 4 << QStringLiteral("1 / 4 台设备") << QString();
    QTest::newRow("server texts win") << QVariantMap{{QStringLiteral("items"), two}, {QStringLiteral("summary"), QStringLiteral("2 of 3")}, {QStringLiteral("warning"), QStringLiteral("quota nearly full")}}
                                      << 3 << 2 << 0 << 3 << QStringLiteral("2 of 3") << QStringLiteral("quota nearly full");
    QTest::newRow("existing capacity kept") << QVariantMap{{QStringLiteral("list"), two}, {QStringLiteral("capacity"), QStringLiteral("custom")}, {QStringLiteral("alert"), QStringLiteral("")}, {QStringLiteral("notice"), QStringLiteral("ignored")}}
                                            << 0 << 2 << 0 << 0 << QStringLiteral("custom") << QString();
}

void ModelTest::devicesNormalization()
{
    QFETCH(QVariantMap, section);
    QFETCH(int, planQuota);
    QFETCH(int, items);
    QFETCH(int, used);
    QFETCH(int, limit);
    QFETCH(QString, capacity);
    QFETCH(QString, alert);
    const QDateTime now(QDate(2026, 12, 7), QTime(9, 30));
    const QVariantMap result = DevicesSection::normalized(section, planQuota, thisDevice(), now);
    const QVariantList list = result.value(QStringLiteral("items")).toList();
    QCOMPARE(list.size(), items);
    QCOMPARE(result.value(QStringLiteral("used")).toInt(), used);
    QCOMPARE(result.value(QStringLiteral("limit")).toInt(), limit);
    QCOMPARE(result.value(QStringLiteral("capacity")).toString(), capacity);
    QCOMPARE(result.value(QStringLiteral("alert")).toString(), alert);
    if (section.isEmpty()) {
        const QVariantMap self = list.first().toMap();
        QCOMPARE(self.value(QStringLiteral("id")).toString(), QStringLiteral("dev-1"));
        QCOMPARE(self.value(QStringLiteral("name")).toString(), QStringLiteral("workstation"));
        QCOMPARE(self.value(QStringLiteral("platform")).toString(), QStringLiteral("Linux"));
        QCOMPARE(self.value(QStringLiteral("last_seen")).toString(), QStringLiteral("2026-12-07 09:30"));
        QVERIFY(self.value(QStringLiteral("current")).toBool());
    }
}

void ModelTest::devicePlanQuota()
{
    const QVariantList plans = samplePlans();
    auto billingFor = [](const QString &plan) {
        return QVariantMap{{QStringLiteral("orders"), QVariantList{order(QStringLiteral("paid"), plan)}}};
    };
    QCOMPARE(DevicesSection::planQuotaFromBilling(billingFor(QStringLiteral("team")), plans), 10);
    // A label ("4 台设备") falls back to the count kept beside it.
    QCOMPARE(DevicesSection::planQuotaFromBilling(billingFor(QStringLiteral("pro-quarterly")), plans), 4);
    QCOMPARE(DevicesSection::planQuotaFromBilling(billingFor(QStringLiteral("unknown")), plans), 0);
    QCOMPARE(DevicesSection::planQuotaFromBilling(QVariantMap(), plans), 0);
}

void ModelTest::defaultsHaveTheirShape()
{
    const QVariantList nodes = CatalogDefaults::defaultNodes();
    QCOMPARE(nodes.size(), 3);
    QCOMPARE(nodes.first().toMap().value(QStringLiteral("id")).toString(), QStringLiteral("hk-smart"));
    QCOMPARE(nodes.first().toMap().value(QStringLiteral("outbound")).toMap().value(QStringLiteral("default")).toString(),
             QStringLiteral("proxy-primary"));
    // No built-in node shows a latency beside an unknown grade.
    for (const QVariant &entry : nodes) {
        const QVariantMap node = entry.toMap();
        const auto grade = NodeCatalog::assessQuality(QString(), false, node.value(QStringLiteral("latency")).toInt());
        QCOMPARE(node.value(QStringLiteral("quality")).toString(), grade.label);
        QVERIFY(grade.label != QStringLiteral("未知"));
    }
    const QVariantList plans = CatalogDefaults::defaultPlans();
    QCOMPARE(plans.size(), 3);
    QCOMPARE(plans.at(1).toMap().value(QStringLiteral("devices")).toString(), QStringLiteral("4 台设备"));
    QCOMPARE(plans.at(1).toMap().value(QStringLiteral("highlights")).toList().size(), 5);
    QCOMPARE(CatalogDefaults::deviceAllowanceLabel(0), QStringLiteral("设备额度待同步"));
    const QVariantMap dashboard = CatalogDefaults::defaultDashboard();
    QCOMPARE(dashboard.size(), 11);
    QCOMPARE(dashboard.value(QStringLiteral("uploadHistory")).toList().size(), 30);
    QCOMPARE(dashboard.value(QStringLiteral("todayUsageHourlyBytes")).toList().size(), 24);
    const QStringList urls = CatalogDefaults::defaultConnectivitySettings().value(QStringLiteral("test_urls")).toStringList();
    QCOMPARE(urls.size(), 3);
    for (const QString &url : urls)
        QVERIFY(url.startsWith(QLatin1String("https://")) && url.endsWith(QLatin1String("/generate_204")));
}

QTEST_APPLESS_MAIN(ModelTest)
#include "tst_model.moc"
