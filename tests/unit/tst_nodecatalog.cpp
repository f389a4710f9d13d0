#include "model/latency.h"
#include "model/nodecatalog.h"

#include "platform/ping.h"

#include <QtTest>

namespace {

QVariantMap node(const QString &id, const QString &code, int latency = 0, const QString &status = QString(),
                 bool disabled = false)
{
    return QVariantMap{{QStringLiteral("id"), id},           {QStringLiteral("countryCode"), code},
                       {QStringLiteral("latency"), latency}, {QStringLiteral("status"), status},
                       {QStringLiteral("disabled"), disabled}};
}

QVariantMap country(const QString &best, const QStringList &ids)
{
    return QVariantMap{{QStringLiteral("bestNodeId"), best}, {QStringLiteral("nodeIds"), QVariant(ids).toList()}};
}

QStringList ids(const QVariantList &nodes)
{
    QStringList result;
    for (const QVariant &entry : nodes)
        result << entry.toMap().value(QStringLiteral("id")).toString();
    return result;
}

} // namespace

class NodeCatalogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void grading_data();
    void grading();
    void nodeRecordLabelsAndHighlights_data();
    void nodeRecordLabelsAndHighlights();
    void nodeRecordHostFallbacks_data();
    void nodeRecordHostFallbacks();
    void pingOutput_data();
    void pingOutput();
    void pingOutputWithoutMeasurement_data();
    void pingOutputWithoutMeasurement();
    void pingHost_data();
    void pingHost();
    void endpointSplitting_data();
    void endpointSplitting();
    void tcpEndpointOfNode_data();
    void tcpEndpointOfNode();
    void probeTimeouts_data();
    void probeTimeouts();
    void candidates_data();
    void candidates();
    void countryAggregation_data();
    void countryAggregation();
    void latencySamples();
    void selectionModeNormalization();
};

void NodeCatalogTest::grading_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<int>("latency");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("score");
    QTest::addColumn<bool>("known");

    QTest::newRow("offline any case") << " Offline " << false << 40 << "离线" << 0 << true;
    QTest::newRow("disabled") << "online" << true << 40 << "离线" << 0 << true;
    QTest::newRow("unknown latency") << "online" << false << 0 << "未知" << 0 << false;
    QTest::newRow("negative latency") << "" << false << -5 << "未知" << 0 << false;
    QTest::newRow("80") << "" << false << 80 << "极佳" << 100 << true;
    QTest::newRow("81") << "" << false << 81 << "极佳" << 90 << true;
    QTest::newRow("150") << "" << false << 150 << "极佳" << 90 << true;
    QTest::newRow("151") << "" << false << 151 << "优秀" << 80 << true;
    QTest::newRow("220") << "" << false << 220 << "优秀" << 80 << true;
    QTest::newRow("221") << "" << false << 221 << "优秀" << 70 << true;
    QTest::newRow("320") << "" << false << 320 << "优秀" << 70 << true;
    QTest::newRow("321") << "" << false << 321 << "良好" << 60 << true;
}

void NodeCatalogTest::grading()
{
    QFETCH(QString, status);
    QFETCH(bool, disabled);
    QFETCH(int, latency);
    QFETCH(QString, label);
    QFETCH(int, score);
    QFETCH(bool, known);
    const NodeCatalog::QualityGrade grade = NodeCatalog::assessQuality(status, disabled, latency);
    QCOMPARE(grade.label, label);
    QCOMPARE(grade.score, score);
    QCOMPARE(grade.known, known);
}

void NodeCatalogTest::nodeRecordLabelsAndHighlights_data()
{
    QTest::addColumn<QVariantMap>("raw");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("highlight");

    QTest::newRow("server label wins") << QVariantMap{{"quality_label", " 推荐 "}, {"quality_score", 77}, {"latency_ms", 500}}
                                       << "推荐" << 77 << "推荐";
    QTest::newRow("graded, first tag") << QVariantMap{{"latency_ms", 150}, {"tags", QVariantList{"流媒体", "x"}}}
                                       << "极佳" << 90 << "流媒体";
    QTest::newRow("featured") << QVariantMap{{"latency_ms", 151}, {"featured", true}} << "优秀" << 80 << "推荐";
    QTest::newRow("plain") << QVariantMap{} << "未知" << 0 << "可用";
    QTest::newRow("offline") << QVariantMap{{"status", "OFFLINE"}, {"latency_ms", 40}} << "离线" << 0 << "可用";
}

void NodeCatalogTest::nodeRecordLabelsAndHighlights()
{
    QFETCH(QVariantMap, raw);
    QFETCH(QString, quality);
    QFETCH(int, score);
    QFETCH(QString, highlight);
    const QVariantMap record = NodeCatalog::nodeRecordFromRaw(raw);
    QCOMPARE(record.value(QStringLiteral("quality")).toString(), quality);
    QCOMPARE(record.value(QStringLiteral("qualityScore")).toInt(), score);
    QCOMPARE(record.value(QStringLiteral("highlight")).toString(), highlight);
    QCOMPARE(record.size(), 14);
}

void NodeCatalogTest::nodeRecordHostFallbacks_data()
{
    QTest::addColumn<QVariantMap>("raw");
    QTest::addColumn<QString>("host");
    QTest::newRow("meta host") << QVariantMap{{"meta", QVariantMap{{"host", " m.example "}}}, {"outbound", QVariantMap{{"server", "o.example"}}}}
                               << "m.example";
    QTest::newRow("outbound server") << QVariantMap{{"outbound", QVariantMap{{"server", " o.example"}}}} << "o.example";
    QTest::newRow("outbound address") << QVariantMap{{"outbound", QVariantMap{{"address", "a.example"}}}, {"server", "n.example"}}
                                      << "a.example";
    QTest::newRow("node address") << QVariantMap{{"address", "na.example"}} << "na.example";
    QTest::newRow("none") << QVariantMap{} << "";
}

void NodeCatalogTest::nodeRecordHostFallbacks()
{
    QFETCH(QVariantMap, raw);
    QFETCH(QString, host);
    QCOMPARE(NodeCatalog::nodeRecordFromRaw(raw).value(QStringLiteral("host")).toString(), host);
}

void NodeCatalogTest::pingOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("latency"); // 0: no result

    QTest::newRow("windows below 1ms") << "Reply from 10.0.0.1: bytes=32 time<1ms TTL=57" << 1;
    QTest::newRow("windows") << "Reply from 10.0.0.1: bytes=32 time=23ms TTL=57" << 23;
    QTest::newRow("decimal rounds up") << "64 bytes from 1.1.1.1: icmp_seq=1 ttl=57 time=23.5 ms" << 24;
    QTest::newRow("decimal rounds down") << "64 bytes: time=23.4 ms" << 23;
    QTest::newRow("iputils loopback") << "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.045 ms" << 1;
    QTest::newRow("summary only") << "rtt min/avg/max/mdev = 10.2/20.6/30.1/4.0 ms" << 21;
    QTest::newRow("windows summary gives the average") << "Minimum = 10ms, Maximum = 30ms, Average = 20ms" << 20;
    QTest::newRow("timeout") << "Request timed out." << 0;
    QTest::newRow("empty") << "" << 0;
}

void NodeCatalogTest::pingOutput()
{
    QFETCH(QString, output);
    QFETCH(int, latency);
    const std::optional<int> parsed = Latency::parsePingLatencyMs(output);
    QCOMPARE(parsed.has_value(), latency > 0);
    if (parsed)
        QCOMPARE(*parsed, latency);
}

void NodeCatalogTest::pingOutputWithoutMeasurement_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("host");

    QTest::newRow("time beyond int") << QByteArray("64 bytes from 192.0.2.1: icmp_seq=1 ttl=57 time=99999999999 ms")
                                     << QString();
    QTest::newRow("time of 400 digits") << QByteArray("Reply from 192.0.2.1: time=" + QByteArray(400, '9') + "ms")
                                        << QString();
    QTest::newRow("summary average beyond int")
        << QByteArray("rtt min/avg/max/mdev = 1.0/99999999999.0/3.0/0.5 ms") << QString();
    QTest::newRow("windows average beyond a minute") << QByteArray("Minimum = 1ms, Maximum = 3ms, Average = 60001ms")
                                                     << QString();
    QTest::newRow("unknown host echoed with a time")
        << QByteArray("ping: time=99999999999ms: Name or service not known\n") << QStringLiteral("time=99999999999ms");
    QTest::newRow("host named like a time, no reply")
        << QByteArray("PING time=5ms (192.0.2.1) 56(84) bytes of data.\n\n--- time=5ms ping statistics ---\n"
                      "1 packets transmitted, 0 received, 100% packet loss, time 0ms\n")
        << QStringLiteral("time=5ms");
    QTest::newRow("windows, host named like a time")
        << QByteArray("Pinging a<1ms [192.0.2.1] with 32 bytes of data:\r\nRequest timed out.\r\n")
        << QStringLiteral("a<1ms");
}

// A figure that is not a real round trip must give no latency: never one that
// makes a dead node look like the fastest.
void NodeCatalogTest::pingOutputWithoutMeasurement()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, host);
    const std::optional<int> parsed = Latency::parsePingLatencyMs(output, host);
    QVERIFY2(!parsed, qPrintable(QString::number(parsed.value_or(0))));
}

void NodeCatalogTest::pingHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("probed");
    QTest::newRow("address") << "203.0.113.9" << true;
    QTest::newRow("name") << "jp-01.nodes.example" << true;
    QTest::newRow("ipv6 with zone") << "fe80::1%eth0" << true;
    QTest::newRow("option -t") << "-t" << false;
    QTest::newRow("option with value") << "-w9999" << false;
    QTest::newRow("inner blank") << "1.1.1.1 -t" << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("newline") << "a\nb" << false;
    QTest::newRow("fake latency") << "time=5ms" << false;
    QTest::newRow("empty") << "" << false;
}

void NodeCatalogTest::pingHost()
{
    QFETCH(QString, host);
    QFETCH(bool, probed);
    const Platform::PingCommand command = Platform::pingCommand(host, 1000);
    QCOMPARE(!command.program.isEmpty(), probed);
    if (!probed)
        return;
    QCOMPARE(command.arguments.last(), host);
    // ping reads the host as its operand, never as an option.
    QCOMPARE(command.arguments.at(command.arguments.size() - 2), QStringLiteral("--"));
}

void NodeCatalogTest::endpointSplitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host only") << "node.example" << "node.example" << 7;
    QTest::newRow("host and port") << " node.example:8443 " << "node.example" << 8443;
    QTest::newRow("port out of range") << "node.example:70000" << "node.example" << 7;
    QTest::newRow("port zero") << "node.example:0" << "node.example" << 7;
    QTest::newRow("bracketed v6 with port") << "[2001:db8::1]:8443" << "2001:db8::1" << 8443;
    QTest::newRow("bracketed v6 without port") << "[2001:db8::1]" << "2001:db8::1" << 7;
    QTest::newRow("bare v6") << "2001:db8::1" << "2001:db8::1" << 7;
    QTest::newRow("url") << "https://edge.example:9443/path" << "edge.example" << 9443;
    QTest::newRow("url without port") << "https://edge.example/path" << "edge.example" << 7;
    QTest::newRow("empty") << "   " << "" << 0;
    QTest::newRow("blank before the colon") << "example.com :443" << "example.com" << 443;
    QTest::newRow("blanks around the colon") << "example.com\t: 443" << "example.com" << 443;
    QTest::newRow("bracketed v6, blanks inside") << "[ 2001:db8::1 ]:8443" << "2001:db8::1" << 8443;
    QTest::newRow("blank inside the host") << "exa mple.com:443" << "" << 0;
    QTest::newRow("port without host") << " :443" << "" << 0;
}

void NodeCatalogTest::endpointSplitting()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    const Latency::Endpoint endpoint = Latency::parseSocketEndpoint(text, 7);
    QCOMPARE(endpoint.host, host);
    if (!host.isEmpty())
        QCOMPARE(int(endpoint.port), port);
}

void NodeCatalogTest::tcpEndpointOfNode_data()
{
    QTest::addColumn<QVariantMap>("node");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // 0: no endpoint

    QTest::newRow("outbound server and port") << QVariantMap{{"outbound", QVariantMap{{"server", "a.example"}, {"server_port", 443}}}}
                                              << "a.example" << 443;
    QTest::newRow("port as text on node") << QVariantMap{{"host", "h.example"}, {"port", "8080"}} << "h.example" << 8080;
    QTest::newRow("no port, no tls") << QVariantMap{{"outbound", QVariantMap{{"server", "a.example"}}}} << "" << 0;
    QTest::newRow("no port, tls") << QVariantMap{{"outbound", QVariantMap{{"server", "a.example"}, {"tls", QVariantMap{{"enabled", true}}}}}}
                                  << "a.example" << 443;
    QTest::newRow("port inside host text") << QVariantMap{{"outbound", QVariantMap{{"server", "a.example:2053"}}}} << "a.example" << 2053;
    QTest::newRow("invalid port skipped") << QVariantMap{{"outbound", QVariantMap{{"server", "a.example"}, {"server_port", 0}, {"port", 9000}}}}
                                          << "a.example" << 9000;
    QTest::newRow("no host") << QVariantMap{{"port", 443}} << "" << 0;
}

void NodeCatalogTest::tcpEndpointOfNode()
{
    QFETCH(QVariantMap, node);
    QFETCH(QString, host);
    QFETCH(int, port);
    const Latency::Endpoint endpoint = Latency::tcpEndpointForNode(node);
    QCOMPARE(endpoint.isValid(), port != 0);
    if (port) {
        QCOMPARE(endpoint.host, host);
        QCOMPARE(int(endpoint.port), port);
    }
}

void NodeCatalogTest::probeTimeouts_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<int>("ping");
    QTest::addColumn<int>("race");
    QTest::newRow("default") << QVariant() << 1800 << 1800;
    QTest::newRow("tiny") << QVariant(100) << 900 << 300;
    QTest::newRow("huge") << QVariant(20000) << 5000 << 5000;
    QTest::newRow("middle") << QVariant(600) << 900 << 600;
}

void NodeCatalogTest::probeTimeouts()
{
    QFETCH(QVariant, setting);
    QFETCH(int, ping);
    QFETCH(int, race);
    QVariantMap connectivity;
    if (setting.isValid())
        connectivity.insert(QStringLiteral("tcp_ping_timeout_ms"), setting);
    QCOMPARE(Latency::pingTimeoutMs(connectivity), ping);
    QCOMPARE(Latency::raceTimeoutMs(connectivity), race);
}

void NodeCatalogTest::candidates_data()
{
    QTest::addColumn<QVariantList>("nodes");
    QTest::addColumn<QVariantList>("countries");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("expected");

    const QVariantList catalogue{node("hk-1", "HK"), node("hk-2", "hk"), node("jp-1", "JP"), node("hk-3", "HK", 0, "offline"),
                                 node("hk-4", "HK", 0, "", true), node("hk-5", "HK")};
    QTest::newRow("country group first, then code")
        << catalogue << QVariantList{country("hk-2", {"hk-5", "hk-2", "hk-3"})} << "hk-2" << QStringList{"hk-5", "hk-2", "hk-1"};
    QTest::newRow("code only") << catalogue << QVariantList() << "hk-1" << QStringList{"hk-1", "hk-2", "hk-5"};
    QTest::newRow("unknown selection takes the first node") << catalogue << QVariantList() << "nope" << QStringList{"hk-1", "hk-2", "hk-5"};
    QTest::newRow("no code: the node itself") << QVariantList{node("x", "")} << QVariantList() << "x" << QStringList{"x"};
    QTest::newRow("unusable selection alone") << QVariantList{node("x", "", 0, "Offline")} << QVariantList() << "x" << QStringList();
    QTest::newRow("no nodes") << QVariantList() << QVariantList() << "x" << QStringList();
    QTest::newRow("duplicates and blank ids")
        << QVariantList{node("a", "US"), node("a", "US"), node(" ", "US")} << QVariantList{country("a", {"a", "a"})} << "a"
        << QStringList{"a"};
}

void NodeCatalogTest::candidates()
{
    QFETCH(QVariantList, nodes);
    QFETCH(QVariantList, countries);
    QFETCH(QString, selected);
    QFETCH(QStringList, expected);
    QCOMPARE(ids(NodeCatalog::connectionCandidates(nodes, countries, selected)), expected);
}

void NodeCatalogTest::countryAggregation_data()
{
    QTest::addColumn<QVariantList>("nodes");
    QTest::addColumn<int>("latency");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<int>("score");

    QTest::newRow("best of members") << QVariantList{node("a", "X", 120), node("b", "X", 45)} << 45 << "online" << "极佳" << 100;
    QTest::newRow("unknown but usable") << QVariantList{node("a", "X"), node("b", "X", 0, "offline")} << 0 << "online" << "未知" << 0;
    QTest::newRow("none usable") << QVariantList{node("a", "X", 30, "offline"), node("b", "X", 0, "", true)} << 30 << "offline" << "离线" << 0;
    QTest::newRow("members missing") << QVariantList{} << 0 << "offline" << "离线" << 0;
}

void NodeCatalogTest::countryAggregation()
{
    QFETCH(QVariantList, nodes);
    QFETCH(int, latency);
    QFETCH(QString, status);
    QFETCH(QString, quality);
    QFETCH(int, score);
    QVariantList countries{country(QString(), {" a ", "b", "", "ghost"})};
    NodeCatalog::recomputeCountryTelemetry(countries, nodes);
    const QVariantMap result = countries.first().toMap();
    QCOMPARE(result.value(QStringLiteral("latency")).toInt(), latency);
    QCOMPARE(result.value(QStringLiteral("status")).toString(), status);
    QCOMPARE(result.value(QStringLiteral("quality")).toString(), quality);
    QCOMPARE(result.value(QStringLiteral("qualityScore")).toInt(), score);
    // A second pass over unchanged data reports no change.
    QVERIFY(!NodeCatalog::recomputeCountryTelemetry(countries, nodes));
}

void NodeCatalogTest::latencySamples()
{
    QVariantList nodes{node("a", "X"), node("b", "X", 10)};
    QVERIFY(!NodeCatalog::applyLatencySample(nodes, QStringLiteral(" "), 10));
    QVERIFY(!NodeCatalog::applyLatencySample(nodes, QStringLiteral("a"), 0));
    QVERIFY(!NodeCatalog::applyLatencySample(nodes, QStringLiteral("a"), -3));
    QVERIFY(NodeCatalog::applyLatencySample(nodes, QStringLiteral("a"), 200));
    QCOMPARE(nodes.first().toMap().value(QStringLiteral("latency")).toInt(), 200);
    QCOMPARE(nodes.first().toMap().value(QStringLiteral("quality")).toString(), QStringLiteral("优秀"));
    QVERIFY(!NodeCatalog::applyLatencySample(nodes, QStringLiteral("a"), 200));
}

void NodeCatalogTest::selectionModeNormalization()
{
    QCOMPARE(NodeCatalog::normalizedNodeSelectionMode(QStringLiteral(" FIXED ")), QStringLiteral("fixed"));
    QCOMPARE(NodeCatalog::normalizedNodeSelectionMode(QStringLiteral("manual")), QStringLiteral("smart"));
    QCOMPARE(NodeCatalog::normalizedNodeSelectionMode(QString()), QStringLiteral("smart"));
}

QTEST_APPLESS_MAIN(NodeCatalogTest)
#include "tst_nodecatalog.moc"
