#include "configsafety.h"

#include "tunnel/configbuilder.h"
#include "tunnel/confignormalization.h"
#include "tunnel/engineversion.h"

#include "configguard.h"
#include "tunnel/configrepository.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace TunnelConfig;

namespace {

const QString kSecret = QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427");

QString dataPath(const QString &name)
{
    QString root = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (root.isEmpty())
        root = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    return root + QStringLiteral("/tests/data/") + name;
}

QByteArray readData(const QString &name)
{
    QFile file(dataPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QJsonObject object(const char *json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

// Compact JSON with sorted keys: equal values compare equal and a failure
// shows both sides.
QByteArray compact(const QJsonObject &value)
{
    return QJsonDocument(value).toJson(QJsonDocument::Compact);
}

QByteArray compact(const QJsonArray &value)
{
    return QJsonDocument(value).toJson(QJsonDocument::Compact);
}

QByteArray compact(const QJsonDocument &value)
{
    return value.toJson(QJsonDocument::Compact);
}

QVariantMap sampleNode()
{
    return QJsonDocument::fromJson(R"({
        "id": "jp-tokyo", "name": "Tokyo",
        "outbound": {"type": "vless", "tag": "proxy-jp", "server": "jp.example.net", "server_port": 443,
                     "uuid": "bf000d23-0752-40b4-affe-68f7707a9661", "flow": "xtls-rprx-vision",
                     "tls": {"enabled": true, "server_name": "jp.example.net"}}
    })").object().toVariantMap();
}

QVariantMap sampleSettings(const QString &routingMode)
{
    return QVariantMap{
        {QStringLiteral("interfaceName"), QStringLiteral("quillet-tun")},
        {QStringLiteral("mtu"), 1380},
        {QStringLiteral("routingMode"), routingMode},
        {QStringLiteral("logLevel"), QStringLiteral("warn")},
        // Present but without influence on the document.
        {QStringLiteral("dnsPrimary"), QStringLiteral("9.9.9.9")},
        {QStringLiteral("autoRoute"), false},
    };
}

QByteArray localDocument(const QVariantMap &node, const QVariantMap &settings)
{
    return ConfigRepository().buildConfigPreview(node, settings, kSecret).toUtf8();
}

// The devserver's answer for a node: each "{{NAME}}" (quotes included) becomes
// the JSON literal of its value.
QByteArray instantiateServerConfig(const QString &templateName, const QVariantMap &values)
{
    QByteArray text = readData(templateName);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QByteArray wrapped = QJsonDocument(QJsonArray{QJsonValue::fromVariant(it.value())}).toJson(QJsonDocument::Compact);
        text.replace("\"{{" + it.key().toUtf8() + "}}\"", wrapped.mid(1, wrapped.size() - 2));
    }
    return text;
}

QVariantMap templateValues()
{
    return QVariantMap{
        {QStringLiteral("NODE_ID"), QStringLiteral("sg-prime")},
        {QStringLiteral("SERVER_HOST"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("SERVER_PORT"), 18388},
        {QStringLiteral("PASSWORD"), QStringLiteral("8JCsPssfgS8tiRwiMlhARg==")},
        {QStringLiteral("CONTROLLER_ADDRESS"), QStringLiteral("127.0.0.1:19097")},
        {QStringLiteral("SECRET"), QStringLiteral("devserver-secret")},
    };
}

QStringList tagsOf(const QJsonArray &list)
{
    QStringList tags;
    for (const QJsonValue &entry : list)
        tags << entry.toObject().value(QLatin1String("tag")).toString();
    return tags;
}

} // namespace

class ConfigDocumentTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void goldenDocuments_data();
    void goldenDocuments();
    void routingMode_data();
    void routingMode();
    void proxyOutbound_data();
    void proxyOutbound();
    void tunAndLogSettings_data();
    void tunAndLogSettings();
    void httpsDnsServer_data();
    void httpsDnsServer();
    void normalization_data();
    void normalization();
    void normalizedDocumentPassesServiceCheck_data();
    void normalizedDocumentPassesServiceCheck();
    void repeatedKeyIsRefused_data();
    void repeatedKeyIsRefused();
    void browserQuicBlockRule_data();
    void browserQuicBlockRule();
    void ensureBrowserQuicBlockRulePosition_data();
    void ensureBrowserQuicBlockRulePosition();
    void clashApiSettings_data();
    void clashApiSettings();
    void producedDocumentsAreSafe_data();
    void producedDocumentsAreSafe();
    void safetyRulesRefuseHostileDocuments_data();
    void safetyRulesRefuseHostileDocuments();
    void serverTemplates_data();
    void serverTemplates();
    void engineVersionLine_data();
    void engineVersionLine();
};

void ConfigDocumentTest::goldenDocuments_data()
{
    QTest::addColumn<QString>("routingMode");
    QTest::addColumn<QString>("golden");
    QTest::newRow("smart") << QStringLiteral("smart") << QStringLiteral("golden_smart.json");
    QTest::newRow("global") << QStringLiteral("global") << QStringLiteral("golden_global.json");
}

// Set QUILLET_REGENERATE_GOLDEN=1 to rewrite the files after a deliberate
// change of the document; review the diff before keeping it.
void ConfigDocumentTest::goldenDocuments()
{
    QFETCH(QString, routingMode);
    QFETCH(QString, golden);
    const QByteArray built = localDocument(sampleNode(), sampleSettings(routingMode));

    if (qEnvironmentVariableIntValue("QUILLET_REGENERATE_GOLDEN") == 1) {
        QFile file(dataPath(golden));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(built);
    }

    const QByteArray expected = readData(golden);
    QVERIFY2(!expected.isEmpty(), qPrintable(dataPath(golden)));
    QCOMPARE(compact(QJsonDocument::fromJson(built)), compact(QJsonDocument::fromJson(expected)));
}

void ConfigDocumentTest::routingMode_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<QString>("mode");

    QTest::newRow("global in capitals with blanks") << QVariant(QStringLiteral("  GLOBAL \t")) << QStringLiteral("global");
    QTest::newRow("global") << QVariant(QStringLiteral("global")) << QStringLiteral("global");
    QTest::newRow("smart") << QVariant(QStringLiteral("smart")) << QStringLiteral("smart");
    QTest::newRow("empty") << QVariant(QString()) << QStringLiteral("smart");
    QTest::newRow("missing") << QVariant() << QStringLiteral("smart");
    QTest::newRow("another word") << QVariant(QStringLiteral("rule")) << QStringLiteral("smart");
    QTest::newRow("global as a prefix") << QVariant(QStringLiteral("globally")) << QStringLiteral("smart");
}

void ConfigDocumentTest::routingMode()
{
    QFETCH(QVariant, setting);
    QFETCH(QString, mode);
    QVariantMap settings;
    if (setting.isValid())
        settings.insert(QStringLiteral("routingMode"), setting);
    const bool smart = mode == QLatin1String("smart");

    QCOMPARE(routingModeFromSettings(settings), mode);
    QCOMPARE(singBoxConfigRequestPath(QStringLiteral("windows"), settings),
             QStringLiteral("/api/v1/config/singbox?platform=windows&routing_mode=%1").arg(mode));
    QCOMPARE(singBoxConfigRequestPath(QStringLiteral("linux"), settings),
             QStringLiteral("/api/v1/config/singbox?platform=linux&routing_mode=%1").arg(mode));

    const QJsonObject document = buildDesktopConfig(sampleNode(), settings, kSecret);
    const QJsonObject dns = document.value(QLatin1String("dns")).toObject();
    const QJsonObject route = document.value(QLatin1String("route")).toObject();
    const QJsonArray rules = route.value(QLatin1String("rules")).toArray();

    QStringList servers{QStringLiteral("bootstrap-dns"), QStringLiteral("remote-dns"), QStringLiteral("fallback-dns")};
    if (smart)
        servers << QStringLiteral("cn-direct-dns");
    QCOMPARE(tagsOf(dns.value(QLatin1String("servers")).toArray()), servers);
    QCOMPARE(dns.contains(QLatin1String("rules")), smart);
    QCOMPARE(route.contains(QLatin1String("rule_set")), smart);
    QCOMPARE(rules.size(), smart ? 7 : 3);
    QCOMPARE(compact(rules.at(0).toObject()), compact(object(R"({"action": "sniff"})")));
    QCOMPARE(compact(rules.at(1).toObject()), compact(object(R"({"protocol": "dns", "action": "hijack-dns"})")));
    QCOMPARE(compact(rules.at(2).toObject()), compact(object(R"({"network": "udp", "port": [443], "outbound": "block"})")));
    if (smart) {
        QCOMPARE(compact(rules.at(3).toObject()), compact(object(R"({"clash_mode": "Global", "action": "route", "outbound": "selected"})")));
        QCOMPARE(compact(rules.at(4).toObject()), compact(object(R"({"domain_suffix": [".cn"], "action": "route", "outbound": "direct"})")));
        QCOMPARE(compact(rules.at(6).toObject()), compact(object(R"({"rule_set": ["geoip-cn"], "action": "route", "outbound": "direct"})")));
        QCOMPARE(tagsOf(route.value(QLatin1String("rule_set")).toArray()),
                 (QStringList{QStringLiteral("geosite-cn"), QStringLiteral("geoip-cn")}));
    }
}

void ConfigDocumentTest::proxyOutbound_data()
{
    QTest::addColumn<QVariantMap>("node");
    QTest::addColumn<QJsonObject>("expected");

    QJsonObject tagged = QJsonObject::fromVariantMap(sampleNode().value(QStringLiteral("outbound")).toMap());
    tagged.insert(QStringLiteral("tag"), QStringLiteral("selected"));
    QTest::newRow("own tag replaced") << sampleNode() << tagged;
    QTest::newRow("no outbound") << QVariantMap{{QStringLiteral("id"), QStringLiteral("x")}}
                                 << object(R"({"type": "direct", "tag": "selected"})");
    QTest::newRow("empty outbound") << QVariantMap{{QStringLiteral("outbound"), QVariantMap()}}
                                    << object(R"({"type": "direct", "tag": "selected"})");
    QTest::newRow("outbound that is no map") << QVariantMap{{QStringLiteral("outbound"), QStringLiteral("vless://x")}}
                                             << object(R"({"type": "direct", "tag": "selected"})");
}

void ConfigDocumentTest::proxyOutbound()
{
    QFETCH(QVariantMap, node);
    QFETCH(QJsonObject, expected);
    const QJsonArray outbounds =
        buildDesktopConfig(node, sampleSettings(QStringLiteral("smart")), kSecret).value(QLatin1String("outbounds")).toArray();
    QCOMPARE(outbounds.size(), 3);
    QCOMPARE(compact(outbounds.at(0).toObject()), compact(expected));
    QCOMPARE(compact(outbounds.at(1).toObject()), compact(object(R"({"type": "direct", "tag": "direct"})")));
    QCOMPARE(compact(outbounds.at(2).toObject()), compact(object(R"({"type": "block", "tag": "block"})")));
}

void ConfigDocumentTest::tunAndLogSettings_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<int>("mtu");
    QTest::addColumn<QString>("interfaceName");
    QTest::addColumn<QString>("logLevel");

    QTest::newRow("defaults") << QVariantMap() << 1400 << QString() << QStringLiteral("info");
    QTest::newRow("numeric text")
        << QVariantMap{{QStringLiteral("mtu"), QStringLiteral("1280")}} << 1280 << QString() << QStringLiteral("info");
    QTest::newRow("mtu not a number")
        << QVariantMap{{QStringLiteral("mtu"), QStringLiteral("large")}} << 0 << QString() << QStringLiteral("info");
    QTest::newRow("level kept as written")
        << QVariantMap{{QStringLiteral("logLevel"), QStringLiteral(" Debug ")}, {QStringLiteral("interfaceName"), QStringLiteral("utun9")}}
        << 1400 << QStringLiteral("utun9") << QStringLiteral(" Debug ");
}

void ConfigDocumentTest::tunAndLogSettings()
{
    QFETCH(QVariantMap, settings);
    QFETCH(int, mtu);
    QFETCH(QString, interfaceName);
    QFETCH(QString, logLevel);

    const QJsonObject document = buildDesktopConfig(sampleNode(), settings, kSecret);
    const QJsonArray inbounds = document.value(QLatin1String("inbounds")).toArray();
    QCOMPARE(inbounds.size(), 1);
    const QJsonObject tun = inbounds.at(0).toObject();
    QCOMPARE(tun.value(QLatin1String("mtu")).toInt(-1), mtu);
    QVERIFY(tun.contains(QLatin1String("interface_name")));
    QCOMPARE(tun.value(QLatin1String("interface_name")).toString(), interfaceName);
    QCOMPARE(document.value(QLatin1String("log")).toObject().value(QLatin1String("level")).toString(), logLevel);
}

void ConfigDocumentTest::httpsDnsServer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("detour");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("plain address")
        << QStringLiteral(" 1.1.1.1 ") << QStringLiteral("selected")
        << object(R"({"type": "https", "tag": "t", "server": "1.1.1.1", "server_port": 443, "path": "/dns-query", "detour": "selected"})");
    QTest::newRow("url with port and path")
        << QStringLiteral("https://dns.example.net:8443/resolve") << QStringLiteral("selected")
        << object(R"({"type": "https", "tag": "t", "server": "dns.example.net", "server_port": 8443, "path": "/resolve", "detour": "selected"})");
    QTest::newRow("url without port and path")
        << QStringLiteral("https://dns.example.net") << QStringLiteral("selected")
        << object(R"({"type": "https", "tag": "t", "server": "dns.example.net", "server_port": 443, "path": "/dns-query", "detour": "selected"})");
    QTest::newRow("detour direct left out")
        << QStringLiteral("8.8.8.8") << QStringLiteral("direct")
        << object(R"({"type": "https", "tag": "t", "server": "8.8.8.8", "server_port": 443, "path": "/dns-query"})");
    QTest::newRow("empty detour left out")
        << QStringLiteral("8.8.8.8") << QString()
        << object(R"({"type": "https", "tag": "t", "server": "8.8.8.8", "server_port": 443, "path": "/dns-query"})");
    QTest::newRow("detour compared with case")
        << QStringLiteral("8.8.8.8") << QStringLiteral("Direct")
        << object(R"({"type": "https", "tag": "t", "server": "8.8.8.8", "server_port": 443, "path": "/dns-query", "detour": "Direct"})");
}

void ConfigDocumentTest::httpsDnsServer()
{
    QFETCH(QString, address);
    QFETCH(QString, detour);
    QFETCH(QJsonObject, expected);
    QCOMPARE(compact(makeHttpsDnsServer(QStringLiteral("t"), address, detour)), compact(expected));
}

void ConfigDocumentTest::normalization_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected"); // empty: the input, byte for byte

    QTest::newRow("nothing to change keeps bytes, order and layout")
        << QByteArray("{ \"route\":{\"rules\":[{\"network\":\"udp\",\"port\":\"443\",\"action\":\"reject\"},"
                      "{\"network\":\"tcp\",\"port\":443,\"outbound\":\"block\"}]},\n"
                      "   \"inbounds\":[{\"type\":\"tun\",\"tag\":\"tun-in\"},{\"type\":\"mixed\",\"sniff\":true}],"
                      "\"outbounds\":[{\"type\":\"direct\",\"tag\":\"dns-outbound\"}],"
                      "\"experimental\":{\"cache_file\":{\"path\":\"state/cache.db\"},\"clash_api\":{\"external_ui\":\"ui\"}}}\n")
        << QByteArray();
    QTest::newRow("malformed") << QByteArray("{\"inbounds\": [") << QByteArray();
    QTest::newRow("top level array") << QByteArray("[{\"type\": \"tun\", \"sniff\": true}]") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("capital TUN loses sniffing, other inbounds keep it")
        << QByteArray(R"({"inbounds": [{"type": "TUN", "tag": "t", "sniff": true, "sniff_override_destination": true},
                                         {"type": "mixed", "sniff": true}]})")
        << QByteArray(R"({"inbounds": [{"type": "TUN", "tag": "t"}, {"type": "mixed", "sniff": true}]})");
    QTest::newRow("key Type is matched exactly")
        << QByteArray(R"({"inbounds": [{"Type": "tun", "sniff": true}]})") << QByteArray();
    QTest::newRow("dns outbound in capitals dropped")
        << QByteArray(R"({"outbounds": [{"type": "DNS", "tag": "resolver"}, {"type": "direct", "tag": "direct"}]})")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "direct"}]})");
    QTest::newRow("dns-out tag in capitals dropped, a rule naming another tag stays")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "DNS-OUT"}, {"type": "block", "tag": "block"}],
                          "route": {"rules": [{"protocol": "dns", "outbound": "dns-out"}]}})")
        << QByteArray(R"({"outbounds": [{"type": "block", "tag": "block"}],
                          "route": {"rules": [{"protocol": "dns", "outbound": "dns-out"}]}})");
    QTest::newRow("legacy dns-out rule hands DNS to the engine")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "direct"}, {"type": "dns", "tag": "dns-out"}],
                          "route": {"rules": [{"action": "sniff"}, {"protocol": "dns", "outbound": "dns-out"},
                                              {"ip_is_private": true, "outbound": "direct"}]}})")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "direct"}],
                          "route": {"rules": [{"action": "sniff"}, {"protocol": "dns", "action": "hijack-dns"},
                                              {"ip_is_private": true, "outbound": "direct"}]}})");
    QTest::newRow("route action to a dns outbound keeps its match, loses its route options")
        << QByteArray(R"({"outbounds": [{"type": "dns", "tag": "resolver"}],
                          "route": {"rules": [{"port": [53], "network": "udp", "action": "route", "outbound": "resolver",
                                               "udp_connect": true, "override_port": 5353}]}})")
        << QByteArray(R"({"outbounds": [],
                          "route": {"rules": [{"port": [53], "network": "udp", "action": "hijack-dns"}]}})");
    QTest::newRow("logical rule to dns-out, and a final naming it")
        << QByteArray(R"({"outbounds": [{"type": "dns", "tag": "dns-out"}, {"type": "direct", "tag": "direct"}],
                          "route": {"final": "dns-out", "rules": [{"type": "logical", "mode": "or",
                              "rules": [{"protocol": "dns"}, {"port": 53}], "outbound": "dns-out"}]}})")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "direct"}],
                          "route": {"rules": [{"type": "logical", "mode": "or",
                              "rules": [{"protocol": "dns"}, {"port": 53}], "action": "hijack-dns"}]}})");
    QTest::newRow("rules to other outbounds and other actions are left alone")
        << QByteArray(R"({"outbounds": [{"type": "dns", "tag": "dns-out"}, {"type": "direct", "tag": "direct"}],
                          "route": {"final": "direct", "rules": [{"protocol": "dns", "outbound": "direct"},
                              {"protocol": "dns", "action": "reject", "outbound": "dns-out"}]}})")
        << QByteArray(R"({"outbounds": [{"type": "direct", "tag": "direct"}],
                          "route": {"final": "direct", "rules": [{"protocol": "dns", "outbound": "direct"},
                              {"protocol": "dns", "action": "reject", "outbound": "dns-out"}]}})");
    QTest::newRow("legacy wireguard outbound with peers becomes an endpoint")
        << QByteArray(R"({"outbounds": [{"type": "selector", "tag": "proxy", "outbounds": ["wg"]},
                              {"type": "wireguard", "tag": "wg", "local_address": ["10.7.0.2/32"], "private_key": "k",
                               "mtu": 1408, "reserved": [1, 2, 3], "gso": true, "network": "udp",
                               "domain_resolver": "local", "system_interface": false, "interface_name": "wg0",
                               "peers": [{"server": "203.0.113.1", "server_port": 51820, "public_key": "p",
                                          "allowed_ips": ["0.0.0.0/0"]},
                                         {"server": "203.0.113.2", "server_port": 51821, "public_key": "q",
                                          "pre_shared_key": "s", "reserved": [0, 0, 0]}]},
                              {"type": "direct", "tag": "direct"}]})")
        << QByteArray(R"({"outbounds": [{"type": "selector", "tag": "proxy", "outbounds": ["wg"]},
                              {"type": "direct", "tag": "direct"}],
                          "endpoints": [{"type": "wireguard", "tag": "wg", "address": ["10.7.0.2/32"], "private_key": "k",
                               "mtu": 1408, "domain_resolver": "local", "system": false, "name": "wg0",
                               "peers": [{"address": "203.0.113.1", "port": 51820, "public_key": "p",
                                          "allowed_ips": ["0.0.0.0/0"], "reserved": [1, 2, 3]},
                                         {"address": "203.0.113.2", "port": 51821, "public_key": "q",
                                          "pre_shared_key": "s", "reserved": [0, 0, 0]}]}]})");
    QTest::newRow("single-peer wireguard outbound joins the endpoints there")
        << QByteArray(R"({"endpoints": [{"type": "wireguard", "tag": "a", "address": ["10.0.0.2/32"], "private_key": "x"}],
                          "outbounds": [{"type": "WireGuard", "tag": "b", "server": "203.0.113.9", "server_port": 2408,
                               "local_address": ["172.16.0.2/32", "fd01::2/128"], "private_key": "k",
                               "peer_public_key": "p", "pre_shared_key": "s", "reserved": "AAAA", "workers": 2,
                               "detour": "direct"}]})")
        << QByteArray(R"({"endpoints": [{"type": "wireguard", "tag": "a", "address": ["10.0.0.2/32"], "private_key": "x"},
                              {"type": "wireguard", "tag": "b", "address": ["172.16.0.2/32", "fd01::2/128"],
                               "private_key": "k", "workers": 2, "detour": "direct",
                               "peers": [{"address": "203.0.113.9", "port": 2408, "public_key": "p",
                                          "pre_shared_key": "s", "reserved": "AAAA",
                                          "allowed_ips": ["0.0.0.0/0", "::/0"]}]}],
                          "outbounds": []})");
    QTest::newRow("endpoints and hijack-dns already: bytes kept")
        << QByteArray("{\"endpoints\":[{\"type\":\"wireguard\",\"tag\":\"wg\",\"peers\":[{\"address\":\"203.0.113.1\"}]}],\n"
                      "  \"outbounds\": [ {\"type\":\"direct\",\"tag\":\"direct\"} ],\n"
                      "  \"route\":{\"rules\":[{\"protocol\":\"dns\",\"action\":\"hijack-dns\"}],\"final\":\"wg\"}}\n")
        << QByteArray();
    QTest::newRow("ui download and a dotted ui folder removed, a plain one kept")
        << QByteArray(R"({"experimental": {"clash_api": {"external_ui": ".", "external_ui_download_url": "https://x/ui.zip",
                          "External_UI_Download_Detour": "direct"}, "cache_file": {"enabled": true}}})")
        << QByteArray(R"({"experimental": {"clash_api": {}, "cache_file": {"enabled": true}}})");
    QTest::newRow("nested port array with reject dropped")
        << QByteArray(R"({"route": {"final": "proxy", "rules": [{"action": "sniff"},
                          {"network": "udp", "port": [80, [8080, [443]]], "action": "reject"},
                          {"network": "udp", "port": 443, "outbound": "block"}]}})")
        << QByteArray(R"({"route": {"final": "proxy", "rules": [{"action": "sniff"}]}})");
    QTest::newRow("the text 443 is no port")
        << QByteArray(R"({"route": {"rules": [{"network": "udp", "port": ["443"], "action": "block"}]}})") << QByteArray();
    QTest::newRow("all three steps together")
        << QByteArray(R"({"inbounds": [{"type": "tun", "sniff": true}], "outbounds": [{"type": "dns", "tag": "dns-out"}],
                          "route": {"rules": [{"network": "udp", "port": [443], "action": "block"}]}})")
        << QByteArray(R"({"inbounds": [{"type": "tun"}], "outbounds": [], "route": {"rules": []}})");
    QTest::newRow("log output removed")
        << QByteArray(R"({"log": {"level": "info", "output": "/var/log/box.log"}})")
        << QByteArray(R"({"log": {"level": "info"}})");
    QTest::newRow("debug listener removed")
        << QByteArray(R"({"experimental": {"debug": {"listen": "0.0.0.0:6060"}, "cache_file": {"enabled": true}}})")
        << QByteArray(R"({"experimental": {"cache_file": {"enabled": true}}})");
    QTest::newRow("absolute cache path and climbing ui removed")
        << QByteArray(R"({"experimental": {"cache_file": {"enabled": true, "path": "C:\\Windows\\cache.db"},
                          "clash_api": {"external_controller": "127.0.0.1:9097", "external_ui": "ui/../../etc"}}})")
        << QByteArray(R"({"experimental": {"cache_file": {"enabled": true},
                          "clash_api": {"external_controller": "127.0.0.1:9097"}}})");
    QTest::newRow("rooted ui path removed")
        << QByteArray(R"({"experimental": {"clash_api": {"external_ui": "\\\\host\\share"}}})")
        << QByteArray(R"({"experimental": {"clash_api": {}}})");
    QTest::newRow("log output in mixed case removed")
        << QByteArray(R"({"Log": {"level": "info", "Output": "/var/log/box.log"}})")
        << QByteArray(R"({"Log": {"level": "info"}})");
    QTest::newRow("debug, cache and ui paths in mixed case removed")
        << QByteArray(R"({"EXPERIMENTAL": {"Debug": {"listen": "0.0.0.0:6060"},
                          "Cache_File": {"enabled": true, "PATH": "/etc/cache.db"},
                          "clash_API": {"external_controller": "127.0.0.1:9097", "External_UI": "../ui"}}})")
        << QByteArray(R"({"EXPERIMENTAL": {"Cache_File": {"enabled": true},
                          "clash_API": {"external_controller": "127.0.0.1:9097"}}})");
}

// What the normalizer leaves must pass the service's own check: otherwise the
// whole server document is refused at connect time.
void ConfigDocumentTest::normalizedDocumentPassesServiceCheck_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("log output") << QByteArray(R"({"log": {"level": "warn", "output": "box.log"}})");
    QTest::newRow("Log Output") << QByteArray(R"({"Log": {"level": "warn", "Output": "box.log"}})");
    QTest::newRow("LOG output, twice in other cases")
        << QByteArray(R"({"LOG": {"OUTPUT": "a.log", "level": "warn", "outPut": "/b.log"}})");
    QTest::newRow("Experimental Debug and an absolute Cache_File Path")
        << QByteArray(R"({"Experimental": {"Debug": {"listen": "127.0.0.1:6060"},
                          "Cache_File": {"enabled": true, "Path": "C:\\cache.db"}}})");
}

void ConfigDocumentTest::normalizedDocumentPassesServiceCheck()
{
    QFETCH(QByteArray, input);
    const QByteArray output = normalizeRemoteDesktopConfig(input);
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(output.toStdString());
    QVERIFY2(verdict.accepted, verdict.reason.c_str());
}

// A key twice in one object reads as the last value to the engine, as either
// to Qt: such a document is refused before anything is written.
void ConfigDocumentTest::repeatedKeyIsRefused_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("type twice in an inbound")
        << QByteArray(R"({"inbounds": [{"type": "tun", "tag": "t", "type": "mixed", "listen_port": 1080}]})");
    QTest::newRow("top-level key twice") << QByteArray(R"({"log": {"level": "info"}, "log": {"output": "/x"}})");
    QTest::newRow("twice, once written with an escape") << QByteArray(R"({"route": {"final": "a", "fin\u0061l": "b"}})");
}

void ConfigDocumentTest::repeatedKeyIsRefused()
{
    QFETCH(QByteArray, input);
    QString problem = QStringLiteral("stale");
    QCOMPARE(normalizeRemoteDesktopConfig(input, &problem), QByteArray());
    QVERIFY2(problem.contains(QLatin1String("repeated")), qPrintable(problem));
    // A sound document clears the problem.
    normalizeRemoteDesktopConfig(QByteArray(R"({"log": {"output": "x"}})"), &problem);
    QVERIFY(problem.isEmpty());
}

void ConfigDocumentTest::normalization()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QByteArray output = normalizeRemoteDesktopConfig(input);
    if (expected.isEmpty()) {
        QCOMPARE(output, input);
        return;
    }
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(output, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(compact(parsed), compact(QJsonDocument::fromJson(expected)));
    QVERIFY(output.contains('\n')); // indented
    QCOMPARE(ConfigRepository().buildRemoteConfigPreview(input), QString::fromUtf8(output));
}

void ConfigDocumentTest::browserQuicBlockRule_data()
{
    QTest::addColumn<QByteArray>("rule");
    QTest::addColumn<bool>("blocks");

    QTest::newRow("outbound block") << QByteArray(R"({"network": "udp", "port": [443], "outbound": "block"})") << true;
    QTest::newRow("action block") << QByteArray(R"({"network": "udp", "port": 443, "action": "block"})") << true;
    QTest::newRow("reject, 443 nested beside 80")
        << QByteArray(R"({"network": "udp", "port": [80, [443]], "action": "reject"})") << true;
    QTest::newRow("deeply nested") << QByteArray(R"({"network": "udp", "port": [[[[443]]]], "action": "reject"})") << true;
    QTest::newRow("443 written as a real number") << QByteArray(R"({"network": "udp", "port": 443.0, "action": "reject"})") << true;
    QTest::newRow("another network") << QByteArray(R"({"network": "tcp", "port": [80, [443]], "action": "reject"})") << false;
    QTest::newRow("network compared with case") << QByteArray(R"({"network": "UDP", "port": 443, "action": "reject"})") << false;
    QTest::newRow("port as text") << QByteArray(R"({"network": "udp", "port": "443", "action": "reject"})") << false;
    QTest::newRow("port as text in array") << QByteArray(R"({"network": "udp", "port": ["443"], "action": "reject"})") << false;
    QTest::newRow("port inside an object") << QByteArray(R"({"network": "udp", "port": [{"p": 443}], "action": "reject"})") << false;
    QTest::newRow("other port") << QByteArray(R"({"network": "udp", "port": [80, 8443], "action": "reject"})") << false;
    QTest::newRow("no port") << QByteArray(R"({"network": "udp", "action": "reject"})") << false;
    QTest::newRow("routed, not blocked") << QByteArray(R"({"network": "udp", "port": 443, "action": "route", "outbound": "proxy"})") << false;
    QTest::newRow("outbound compared with case") << QByteArray(R"({"network": "udp", "port": 443, "outbound": "Block"})") << false;
}

void ConfigDocumentTest::browserQuicBlockRule()
{
    QFETCH(QByteArray, rule);
    QFETCH(bool, blocks);
    const QJsonObject parsed = QJsonDocument::fromJson(rule).object();
    QVERIFY(!parsed.isEmpty());
    QCOMPARE(isBrowserQuicBlockRule(parsed), blocks);
}

void ConfigDocumentTest::ensureBrowserQuicBlockRulePosition_data()
{
    QTest::addColumn<QByteArray>("rules");
    QTest::addColumn<int>("position"); // -1: returned unchanged

    QTest::newRow("empty list") << QByteArray("[]") << 0;
    QTest::newRow("sniff, hijack, route")
        << QByteArray(R"([{"action": "sniff"}, {"protocol": "dns", "action": "hijack-dns"}, {"action": "route", "outbound": "direct"}])")
        << 2;
    QTest::newRow("no sniff or dns rule goes first") << QByteArray(R"([{"action": "route", "outbound": "direct"}])") << 0;
    QTest::newRow("after the last of them")
        << QByteArray(R"([{"action": "sniff"}, {"action": "route"}, {"protocol": "dns", "outbound": "dns-out"}, {"action": "route"}])")
        << 3;
    QTest::newRow("sniff last") << QByteArray(R"([{"action": "route"}, {"action": "sniff"}])") << 2;
    QTest::newRow("a block rule already there")
        << QByteArray(R"([{"action": "sniff"}, {"action": "route"}, {"network": "udp", "port": [443], "outbound": "block"}])") << -1;
    QTest::newRow("a reject rule already there")
        << QByteArray(R"([{"network": "udp", "port": [[443]], "action": "reject"}, {"action": "sniff"}])") << -1;
}

void ConfigDocumentTest::ensureBrowserQuicBlockRulePosition()
{
    QFETCH(QByteArray, rules);
    QFETCH(int, position);
    const QJsonArray input = QJsonDocument::fromJson(rules).array();
    const QJsonArray output = ensureBrowserQuicBlockRule(input);
    if (position < 0) {
        QCOMPARE(compact(output), compact(input));
        return;
    }
    QJsonArray expected = input;
    expected.insert(position, object(R"({"network": "udp", "port": [443], "outbound": "block"})"));
    QCOMPARE(compact(output), compact(expected));
}

void ConfigDocumentTest::clashApiSettings_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("url"); // empty: an empty map
    QTest::addColumn<QString>("secret");

    QTest::newRow("address with a trailing slash")
        << QByteArray(R"({"experimental": {"clash_api": {"external_controller": "127.0.0.1:9097/", "secret": "s1"}}})")
        << QStringLiteral("http://127.0.0.1:9097/configs") << QStringLiteral("s1");
    QTest::newRow("https path already ending in configs")
        << QByteArray(R"({"experimental": {"clash_api": {"external_controller": "https://ctl.example.net:9443/api/configs//"}}})")
        << QStringLiteral("https://ctl.example.net:9443/api/configs") << QString();
    QTest::newRow("path gets configs appended")
        << QByteArray(R"({"experimental": {"clash_api": {"external_controller": " http://127.0.0.1:9090/api/ ", "secret": "s"}}})")
        << QStringLiteral("http://127.0.0.1:9090/api/configs") << QStringLiteral("s");
    QTest::newRow("hyphenated key when the other is blank")
        << QByteArray(R"({"experimental": {"clash_api": {"external_controller": "  ", "external-controller": "127.0.0.1:9191", "secret": "s2"}}})")
        << QStringLiteral("http://127.0.0.1:9191/configs") << QStringLiteral("s2");
    QTest::newRow("no host") << QByteArray(R"({"experimental": {"clash_api": {"external_controller": ":9090"}}})") << QString() << QString();
    QTest::newRow("no address") << QByteArray(R"({"experimental": {"clash_api": {"secret": "s"}}})") << QString() << QString();
    QTest::newRow("no clash api") << QByteArray(R"({"experimental": {}})") << QString() << QString();
    QTest::newRow("malformed") << QByteArray("{\"experimental\":") << QString() << QString();
    QTest::newRow("top level array") << QByteArray("[]") << QString() << QString();
    QTest::newRow("the local document")
        << localDocument(sampleNode(), sampleSettings(QStringLiteral("smart")))
        << QStringLiteral("http://127.0.0.1:9097/configs") << kSecret;
}

void ConfigDocumentTest::clashApiSettings()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, url);
    QFETCH(QString, secret);
    const QVariantMap settings = clashApiSettingsFromConfig(config);
    if (url.isEmpty()) {
        QVERIFY2(settings.isEmpty(), qPrintable(settings.value(QStringLiteral("url")).toString()));
        return;
    }
    QCOMPARE(settings.size(), 2);
    QCOMPARE(settings.value(QStringLiteral("url")).toString(), url);
    QVERIFY(settings.contains(QStringLiteral("secret")));
    QCOMPARE(settings.value(QStringLiteral("secret")).toString(), secret);
}

void ConfigDocumentTest::producedDocumentsAreSafe_data()
{
    QTest::addColumn<QByteArray>("document");

    const QVariantMap bareNode{{QStringLiteral("id"), QStringLiteral("bare")}};
    QTest::newRow("local smart") << localDocument(sampleNode(), sampleSettings(QStringLiteral("smart")));
    QTest::newRow("local global") << localDocument(sampleNode(), sampleSettings(QStringLiteral("global")));
    QTest::newRow("local without outbound") << localDocument(bareNode, QVariantMap());
    QTest::newRow("server smart template")
        << normalizeRemoteDesktopConfig(instantiateServerConfig(QStringLiteral("server_config_template_smart.json"), templateValues()));
    QTest::newRow("server global template")
        << normalizeRemoteDesktopConfig(instantiateServerConfig(QStringLiteral("server_config_template_global.json"), templateValues()));
    QTest::newRow("server document with machine-reaching fields")
        << normalizeRemoteDesktopConfig(R"({
            "log": {"level": "debug", "output": "../../box.log"},
            "inbounds": [{"type": "tun", "tag": "tun-in"}],
            "outbounds": [{"type": "vmess", "tag": "proxy", "server": "a.example", "server_port": 443,
                           "transport": {"type": "ws", "path": "/ray"}}],
            "dns": {"servers": [{"type": "https", "tag": "d", "server": "1.1.1.1", "path": "/dns-query"}]},
            "experimental": {"debug": {"listen": "127.0.0.1:6060"},
                             "cache_file": {"enabled": true, "path": "/root/.cache/box.db"},
                             "clash_api": {"external_controller": "127.0.0.1:9097", "external_ui": "D:ui"}}})");
}

void ConfigDocumentTest::producedDocumentsAreSafe()
{
    QFETCH(QByteArray, document);
    const QStringList violations = ConfigSafety::violations(document);
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QStringLiteral("; "))));
}

void ConfigDocumentTest::safetyRulesRefuseHostileDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("refused");

    QTest::newRow("not json") << QByteArray("{") << true;
    QTest::newRow("log output, even relative") << QByteArray(R"({"log": {"output": "box.log"}})") << true;
    QTest::newRow("debug listener") << QByteArray(R"({"experimental": {"debug": {}}})") << true;
    QTest::newRow("tor outbound") << QByteArray(R"({"outbounds": [{"type": "Tor", "executable_path": "tor"}]})") << true;
    QTest::newRow("absolute cache path") << QByteArray(R"({"experimental": {"cache_file": {"path": "/etc/shadow"}}})") << true;
    QTest::newRow("drive letter ui") << QByteArray(R"({"experimental": {"clash_api": {"external_ui": "c:ui"}}})") << true;
    QTest::newRow("climbing rule-set path")
        << QByteArray(R"({"route": {"rule_set": [{"type": "local", "tag": "x", "path": "sets\\..\\..\\x.srs"}]}})") << true;
    QTest::newRow("absolute certificate in a tls block")
        << QByteArray(R"({"outbounds": [{"type": "trojan", "tls": {"certificate_path": "/etc/ssl/key.pem"}}]})") << true;
    QTest::newRow("key paths in an array")
        << QByteArray(R"({"inbounds": [{"type": "x", "tls": {"key_path": ["ok.pem", "\\\\server\\key"]}}]})") << true;
    QTest::newRow("dns server that is no list element still checked")
        << QByteArray(R"({"dns": {"fakeip": {"path": "/tmp/fake"}}})") << true;
    QTest::newRow("dns server url path") << QByteArray(R"({"dns": {"servers": [{"type": "https", "path": "/dns-query"}]}})") << false;
    QTest::newRow("transport url path")
        << QByteArray(R"({"outbounds": [{"type": "vless", "transport": {"type": "ws", "path": "/a/../b"}}]})") << false;
    QTest::newRow("relative paths") << QByteArray(R"({"experimental": {"cache_file": {"path": "a/b..c/cache.db"}}})") << false;
}

void ConfigDocumentTest::safetyRulesRefuseHostileDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, refused);
    QCOMPARE(!ConfigSafety::violations(document).isEmpty(), refused);
}

void ConfigDocumentTest::serverTemplates_data()
{
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<bool>("smart");
    QTest::newRow("smart") << QStringLiteral("server_config_template_smart.json") << true;
    QTest::newRow("global") << QStringLiteral("server_config_template_global.json") << false;
}

void ConfigDocumentTest::serverTemplates()
{
    QFETCH(QString, templateName);
    QFETCH(bool, smart);

    const QByteArray served = instantiateServerConfig(templateName, templateValues());
    QVERIFY(!served.contains("{{"));
    QJsonParseError error;
    QVERIFY(QJsonDocument::fromJson(served, &error).isObject());
    QVERIFY(served.contains("sg-prime")); // the client accepts a document that names its node

    const QJsonObject normalized = QJsonDocument::fromJson(normalizeRemoteDesktopConfig(served)).object();
    const QJsonObject tun = normalized.value(QLatin1String("inbounds")).toArray().at(0).toObject();
    QVERIFY(!tun.contains(QLatin1String("sniff")));
    QVERIFY(!tun.contains(QLatin1String("sniff_override_destination")));
    QCOMPARE(tagsOf(normalized.value(QLatin1String("outbounds")).toArray()),
             (QStringList{QStringLiteral("proxy"), QStringLiteral("sg-prime"), QStringLiteral("direct"), QStringLiteral("block")}));
    const QJsonObject ss = normalized.value(QLatin1String("outbounds")).toArray().at(1).toObject();
    QCOMPARE(ss.value(QLatin1String("server_port")).toInt(), 18388);
    const QJsonObject route = normalized.value(QLatin1String("route")).toObject();
    // The China rules in both modes, behind the "Global" mode switch; the mode picks where the engine starts.
    QCOMPARE(route.value(QLatin1String("rules")).toArray().size(), 4);
    QCOMPARE(route.value(QLatin1String("rules")).toArray().at(2).toObject().value(QLatin1String("clash_mode")).toString(),
             QStringLiteral("Global"));
    QCOMPARE(normalized.value(QLatin1String("experimental")).toObject().value(QLatin1String("clash_api")).toObject()
                 .value(QLatin1String("default_mode")).toString(),
             smart ? QStringLiteral("Rule") : QStringLiteral("Global"));

    const QVariantMap api = clashApiSettingsFromConfig(served);
    QCOMPARE(api.value(QStringLiteral("url")).toString(), QStringLiteral("http://127.0.0.1:19097/configs"));
    QCOMPARE(api.value(QStringLiteral("secret")).toString(), QStringLiteral("devserver-secret"));
}

void ConfigDocumentTest::engineVersionLine_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("line");
    const QString bin = QStringLiteral("/opt/q/bin/sing-box");
    QTest::newRow("1.12") << "sing-box version 1.12.24" << QString() << "sing-box version 1.12.24 binary=" + bin + "\n";
    QTest::newRow("1.13 with a trailing blank") << "sing-box version 1.13.2 \r" << QString()
                                               << "sing-box version 1.13.2 binary=" + bin + "\n";
    QTest::newRow("1.13 without a patch") << "sing-box version 1.13" << QString()
                                         << "sing-box version 1.13 binary=" + bin + "\n";
    QTest::newRow("1.14 is named unsupported")
        << "sing-box version 1.14.0-alpha.1" << QString()
        << "sing-box version 1.14.0-alpha.1 binary=" + bin + " (not a supported release: 1.12 or 1.13)\n";
    QTest::newRow("1.120 is not 1.12") << "sing-box version 1.120.0" << QString()
                                      << "sing-box version 1.120.0 binary=" + bin
            + " (not a supported release: 1.12 or 1.13)\n";
    QTest::newRow("an answer of another program")
        << "Usage: foo" << QString() << "sing-box version unknown: unexpected answer \"Usage: foo\" binary=" + bin + "\n";
    QTest::newRow("no engine") << QString() << "the engine could not be started"
                               << "sing-box version unknown: the engine could not be started binary=" + bin + "\n";
}

void ConfigDocumentTest::engineVersionLine()
{
    QFETCH(QString, answer);
    QFETCH(QString, problem);
    QFETCH(QString, line);
    QCOMPARE(EngineVersion::logLine(answer, problem, QStringLiteral("/opt/q/bin/sing-box")), line);
}

QTEST_APPLESS_MAIN(ConfigDocumentTest)
#include "tst_configdocument.moc"
