#include "model/connectionrules.h"
#include "tunnel/connectivityprobe.h"
#include "tunnel/trafficsnapshot.h"

#include <QJsonDocument>
#include <QtTest>

// The workflow's arithmetic and the traffic readings' parsing, as data rows.
class ConnectionRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void guardClamp_data();
    void guardClamp();
    void probePlan_data();
    void probePlan();
    void configNamesNode_data();
    void configNamesNode();
    void curlProbe();
    void byteCounts_data();
    void byteCounts();
    void trafficStream_data();
    void trafficStream();
    void trafficReading_data();
    void trafficReading();
    void proxyNodeTag_data();
    void proxyNodeTag();
    void interfaceRates_data();
    void interfaceRates();
    void freshness();
};

void ConnectionRulesTest::guardClamp_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<int>("guardMs");
    QTest::newRow("missing") << QVariant() << 35000;
    QTest::newRow("short raised") << QVariant(5000) << 15000;
    QTest::newRow("long lowered") << QVariant(120000) << 90000;
    QTest::newRow("inside") << QVariant(40000) << 40000;
    QTest::newRow("text") << QVariant(QStringLiteral("soon")) << 35000;
}

void ConnectionRulesTest::guardClamp()
{
    QFETCH(QVariant, setting);
    QFETCH(int, guardMs);
    QVariantMap connectivity;
    if (setting.isValid())
        connectivity.insert(QStringLiteral("connect_timeout_ms"), setting);
    QCOMPARE(ConnectionRules::connectTimeoutGuardMs(connectivity), guardMs);
}

void ConnectionRulesTest::probePlan_data()
{
    QTest::addColumn<QVariantMap>("connectivity");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<int>("required");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("delayMs");

    const QStringList three{QStringLiteral("https://a.test/generate_204"), QStringLiteral("https://b.test/x"),
        QStringLiteral("http://c.test/")};
    const QStringList defaults{QStringLiteral("https://default.test/generate_204")};
    auto with = [&](int pct) {
        return QVariantMap{{QStringLiteral("test_urls"), three}, {QStringLiteral("min_success_pct"), pct}};
    };
    QTest::newRow("20 % of 3 needs 1") << with(20) << three << 1 << 5000 << 1000;
    QTest::newRow("100 % of 3 needs 3") << with(100) << three << 3 << 5000 << 1000;
    QTest::newRow("0 % still needs 1") << with(0) << three << 1 << 5000 << 1000;
    QTest::newRow("50 % of 3 rounds up") << with(50) << three << 2 << 5000 << 1000;
    QTest::newRow("empty list uses defaults") << QVariantMap{{QStringLiteral("test_urls"), QStringList()}} << defaults
                                              << 1 << 5000 << 1000;
    QTest::newRow("all invalid uses defaults")
        << QVariantMap{{QStringLiteral("test_urls"),
               QStringList{QStringLiteral("ftp://x.test/"), QStringLiteral("not a url"), QStringLiteral("https://")}},
               {QStringLiteral("min_success_pct"), 100}}
        << defaults << 1 << 5000 << 1000;
    QTest::newRow("invalid entries skipped")
        << QVariantMap{{QStringLiteral("test_urls"),
               QStringList{QStringLiteral("file:///etc/passwd"), QStringLiteral("https://ok.test/204")}}}
        << QStringList{QStringLiteral("https://ok.test/204")} << 1 << 5000 << 1000;
    QTest::newRow("time limits clamped")
        << QVariantMap{{QStringLiteral("test_urls"), three}, {QStringLiteral("probe_timeout_ms"), 500},
               {QStringLiteral("probe_delay_ms"), -1}}
        << three << 1 << 1000 << 5000;
    QTest::newRow("long delay and time-out lowered")
        << QVariantMap{{QStringLiteral("test_urls"), three}, {QStringLiteral("probe_timeout_ms"), 60000},
               {QStringLiteral("probe_delay_ms"), 9000}}
        << three << 1 << 15000 << 5000;
}

void ConnectionRulesTest::probePlan()
{
    QFETCH(QVariantMap, connectivity);
    QFETCH(QStringList, targets);
    QFETCH(int, required);
    QFETCH(int, timeoutMs);
    QFETCH(int, delayMs);
    const ConnectionRules::ProbePlan plan
        = ConnectionRules::probePlan(connectivity, {QStringLiteral("https://default.test/generate_204")});
    QCOMPARE(plan.targets, targets);
    QCOMPARE(plan.required, required);
    QCOMPARE(plan.timeoutMs, timeoutMs);
    QCOMPARE(plan.delayMs, delayMs);
}

void ConnectionRulesTest::configNamesNode_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("nodeId");
    QTest::addColumn<bool>("names");
    const QByteArray doc = R"({"outbounds":[{"type":"vless","tag":"hk-01","server":"sg.example.com","server_port":443}],
        "inbounds":[{"type":"tun","mtu":1400}]})";
    QTest::newRow("whole tag") << doc << QStringLiteral("hk-01") << true;
    QTest::newRow("id inside a number") << doc << QStringLiteral("1") << false;
    QTest::newRow("id prefix of a tag") << doc << QStringLiteral("hk") << false;
    QTest::newRow("id part of a host") << doc << QStringLiteral("sg") << false;
    QTest::newRow("id with blanks") << doc << QStringLiteral("  hk-01 ") << true;
    QTest::newRow("empty id accepts") << doc << QString() << true;
    QTest::newRow("later whole occurrence") << QByteArray(R"({"a":"hk-01x","b":"hk-01"})") << QStringLiteral("hk-01")
                                            << true;
    QTest::newRow("non-ascii id") << QByteArray(R"({"tag":"香港-1"})") << QStringLiteral("香港-1") << true;
    QTest::newRow("id as the dash part of a tag") << QByteArray(R"({"tag":"proxy-hk1"})") << QStringLiteral("hk1")
                                                  << true;
    QTest::newRow("id as the first part of a host") << QByteArray(R"({"server":"hk1.example.net"})")
                                                    << QStringLiteral("hk1") << true;
    QTest::newRow("dashed id inside a longer tag") << QByteArray(R"({"tag":"proxy-hk-kowloon"})")
                                                   << QStringLiteral("hk-kowloon") << true;
    QTest::newRow("number inside an address") << QByteArray(R"({"server":"10.0.0.1"})") << QStringLiteral("1") << false;
    QTest::newRow("id glued to a longer word") << QByteArray(R"({"tag":"proxyhk1"})") << QStringLiteral("hk1") << false;
    QTest::newRow("id glued by underscore") << QByteArray(R"({"tag":"hk1_backup"})") << QStringLiteral("hk1") << false;
}

void ConnectionRulesTest::configNamesNode()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, nodeId);
    QFETCH(bool, names);
    QCOMPARE(ConnectionRules::configNamesNode(document, nodeId), names);
}

void ConnectionRulesTest::curlProbe()
{
    QCOMPARE(ConnectionRules::curlProbeSeconds(500), 1);
    QCOMPARE(ConnectionRules::curlProbeSeconds(1001), 2);
    QCOMPARE(ConnectionRules::curlProbeSeconds(15000), 15);
    QCOMPARE(ConnectionRules::curlProbeSeconds(16000), 15);
    const QStringList arguments = ConnectionRules::curlProbeArguments(
        QStringLiteral("https://a.test/"), 5, ConnectivityProbe::nullDevice());
    QCOMPARE(arguments.join(QLatin1Char(' ')),
        QStringLiteral("-L -sS --ipv4 --noproxy * -o /dev/null -w %{http_code} --connect-timeout 5 --max-time 5 "
                       "https://a.test/"));
    QCOMPARE(ConnectionRules::curlProbeStatus(" 204\n"), 204);
    QCOMPARE(ConnectionRules::curlProbeStatus("000"), 0);
    QCOMPARE(ConnectionRules::curlProbeStatus("garbage"), 0);
    QCOMPARE(ConnectionRules::runtimeClashModeForRoutingMode(QStringLiteral(" Global ")), QStringLiteral("global"));
    QCOMPARE(ConnectionRules::runtimeClashModeForRoutingMode(QStringLiteral("smart")), QStringLiteral("rule"));
}

void ConnectionRulesTest::byteCounts_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("count");
    QTest::newRow("text with blanks") << QByteArray(R"({"up":" 1234 "})") << qint64(1234);
    QTest::newRow("bad text then fraction") << QByteArray(R"({"up":"x","uplink":7.5})") << qint64(8);
    QTest::newRow("negative") << QByteArray(R"({"up":-3})") << qint64(0);
    QTest::newRow("skips null, bool, array") << QByteArray(R"({"up":null,"uplink":true,"upload":[1]})") << qint64(0);
    QTest::newRow("huge number") << QByteArray(R"({"up":1e300})") << std::numeric_limits<qint64>::max();
}

void ConnectionRulesTest::byteCounts()
{
    QFETCH(QByteArray, json);
    QFETCH(qint64, count);
    QCOMPARE(TrafficSnapshot::jsonByteCountValue(QJsonDocument::fromJson(json).object(),
                 {QStringLiteral("up"), QStringLiteral("uplink"), QStringLiteral("upload")}),
        count);
}

void ConnectionRulesTest::trafficStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("object");
    QTest::newRow("ndjson") << QByteArray("{\"up\":1,\"down\":2}\n{\"up\":3}\n") << QByteArray(R"({"down":2,"up":1})");
    QTest::newRow("empty data line first")
        << QByteArray("data: {}\n{\"up\":10,\"down\":20}\n") << QByteArray(R"({"down":20,"up":10})");
    QTest::newRow("sse") << QByteArray("data: {\"up\":5}") << QByteArray(R"({"up":5})");
    QTest::newRow("null and junk") << QByteArray("null\n[1,2]\n{oops\n") << QByteArray("{}");
    QTest::newRow("nothing") << QByteArray() << QByteArray("{}");
}

void ConnectionRulesTest::trafficStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, object);
    QCOMPARE(TrafficSnapshot::firstTrafficJsonObject(stream), QJsonDocument::fromJson(object).object());
}

void ConnectionRulesTest::trafficReading_data()
{
    QTest::addColumn<QByteArray>("object");
    QTest::addColumn<bool>("reading");
    QTest::newRow("rates") << QByteArray(R"({"up":0,"down":0})") << true;
    QTest::newRow("refused secret") << QByteArray(R"({"message":"Unauthorized"})") << false;
    QTest::newRow("only up") << QByteArray(R"({"up":5})") << false;
    QTest::newRow("rates as text") << QByteArray(R"({"up":"5","down":"6"})") << false;
    QTest::newRow("null rates") << QByteArray(R"({"up":null,"down":null})") << false;
}

void ConnectionRulesTest::trafficReading()
{
    QFETCH(QByteArray, object);
    QFETCH(bool, reading);
    QCOMPARE(TrafficSnapshot::isTrafficReading(QJsonDocument::fromJson(object).object()), reading);
}

void ConnectionRulesTest::proxyNodeTag_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("tag");
    QTest::newRow("selector default") << QByteArray(R"({"outbounds":[{"type":"selector","tag":"proxy","default":"jp-1",
        "outbounds":["jp-1"]},{"type":"vless","tag":"jp-1"},{"type":"direct","tag":"direct"}]})") << QStringLiteral("jp-1");
    QTest::newRow("first proxy outbound") << QByteArray(R"({"outbounds":[{"type":"direct","tag":"direct"},
        {"type":"trojan","tag":"us-2"}]})") << QStringLiteral("us-2");
    QTest::newRow("only direct and block") << QByteArray(R"({"outbounds":[{"type":"direct","tag":"direct"},
        {"type":"block","tag":"block"}]})") << QString();
    QTest::newRow("not json") << QByteArray("{oops") << QString();
}

void ConnectionRulesTest::proxyNodeTag()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, tag);
    QCOMPARE(ConnectionRules::proxyNodeTagFromConfig(document), tag);
}

void ConnectionRulesTest::interfaceRates_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qulonglong>("inBefore");
    QTest::addColumn<qulonglong>("inAfter");
    QTest::addColumn<qint64>("downlink");
    QTest::addColumn<qint64>("uplink");
    QTest::newRow("two seconds") << qint64(2000) << qulonglong(1000) << qulonglong(5000) << qint64(2000) << qint64(1000);
    QTest::newRow("stale sample") << qint64(6000) << qulonglong(1000) << qulonglong(5000) << qint64(0) << qint64(0);
    QTest::newRow("from the future") << qint64(-10) << qulonglong(1000) << qulonglong(5000) << qint64(0) << qint64(0);
    QTest::newRow("counter wrapped") << qint64(1000) << qulonglong(5000) << qulonglong(10) << qint64(0) << qint64(1000);
}

void ConnectionRulesTest::interfaceRates()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qulonglong, inBefore);
    QFETCH(qulonglong, inAfter);
    QFETCH(qint64, downlink);
    QFETCH(qint64, uplink);
    const TrafficSnapshot::InterfaceSample before{1'000'000, inBefore, 100};
    const TrafficSnapshot::InterfaceSample after{1'000'000 + elapsedMs, inAfter, 100 + qulonglong(qMax<qint64>(0, elapsedMs))};
    qint64 down = -1;
    qint64 up = -1;
    TrafficSnapshot::interfaceRates(&before, after, &down, &up);
    QCOMPARE(down, downlink);
    QCOMPARE(up, uplink);
    TrafficSnapshot::interfaceRates(nullptr, after, &down, &up);
    QCOMPARE(down + up, qint64(0));
}

void ConnectionRulesTest::freshness()
{
    RuntimeTrafficSnapshot snapshot;
    QVERIFY(!snapshot.isFresh(100));
    snapshot.timestamp = 95;
    QVERIFY(snapshot.isFresh(100));
    QVERIFY(!snapshot.trafficSeen(100));
    snapshot.downlinkTotal = 1;
    QVERIFY(snapshot.trafficSeen(100));
    QVERIFY(!snapshot.trafficSeen(106));
}

QTEST_GUILESS_MAIN(ConnectionRulesTest)
#include "tst_connectionrules.moc"
