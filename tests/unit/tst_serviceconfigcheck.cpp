#include "configguard.h"
#include "jsonreader.h"
#include "servicecommon.h"

#include "tunnel/configbuilder.h"
#include "tunnel/configrepository.h"
#include "tunnel/confignormalization.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>

#include <string>
#include <vector>

// The service's guard against configurations that would make the privileged
// engine touch the machine, its JSON reader, and the helpers both service
// programs share.
class ServiceConfigCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostileDocumentIsRefused_data();
    void hostileDocumentIsRefused();
    void clientDocumentIsAccepted_data();
    void clientDocumentIsAccepted();
    void refusalNamesTheReason_data();
    void refusalNamesTheReason();
    void holeIsRefusedAtItsPlace_data();
    void holeIsRefusedAtItsPlace();
    void unsafePath_data();
    void unsafePath();
    void jsonSyntax_data();
    void jsonSyntax();
    void jsonDecodesEscapes();
    void jsonLimits();
    void quoting_data();
    void quoting();
    void engineCommandLineQuotesEveryPath();
    void directoryPrefixes_data();
    void directoryPrefixes();
    void directoryOfModulePath_data();
    void directoryOfModulePath();
    void logLinePrefix();

private:
    static QByteArray readFile(const QString &path);
    QString m_dataDir;
};

QByteArray ServiceConfigCheckTest::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ServiceConfigCheckTest::initTestCase()
{
    QString source = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (source.isEmpty())
        source = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    m_dataDir = QDir(source).filePath(QStringLiteral("tests/data"));
    const QStringList hostile = QDir(m_dataDir + QStringLiteral("/hostile")).entryList({QStringLiteral("*.json")});
    QVERIFY2(hostile.size() >= 100, qPrintable(QStringLiteral("only %1 hostile documents").arg(hostile.size())));
    const QStringList accepted = QDir(m_dataDir + QStringLiteral("/accepted")).entryList({QStringLiteral("*.json")});
    QVERIFY2(accepted.size() >= 15, qPrintable(QStringLiteral("only %1 server documents").arg(accepted.size())));
}

void ServiceConfigCheckTest::hostileDocumentIsRefused_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(m_dataDir + QStringLiteral("/hostile"));
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void ServiceConfigCheckTest::hostileDocumentIsRefused()
{
    QFETCH(QString, path);
    const QByteArray bytes = readFile(path);
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(bytes.toStdString());
    QVERIFY2(!verdict.accepted, qPrintable(path));
    QVERIFY(!verdict.reason.empty());
    // One line, printable: it goes into service.log as it is.
    for (const char c : verdict.reason)
        QVERIFY2(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, verdict.reason.c_str());
}

void ServiceConfigCheckTest::clientDocumentIsAccepted_data()
{
    QTest::addColumn<QByteArray>("document");

    for (const char *name : {"golden_smart.json", "golden_global.json"})
        QTest::newRow(name) << readFile(m_dataDir + QLatin1Char('/') + QLatin1String(name));

    // Servers' documents across protocols and transports, as sent and as the client writes them.
    const QDir accepted(m_dataDir + QStringLiteral("/accepted"));
    for (const QString &name : accepted.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        const QByteArray sent = readFile(accepted.filePath(name));
        QTest::addRow("server %s", qPrintable(name)) << sent;
        QTest::addRow("normalized %s", qPrintable(name)) << TunnelConfig::normalizeRemoteDesktopConfig(sent);
    }
    // What only the engine refuses (a legacy form, a field of another version, a
    // missing file) acts on nothing: the service lets it through to the engine's word.
    const QDir refused(m_dataDir + QStringLiteral("/refused"));
    for (const QString &name : refused.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        const QByteArray sent = readFile(refused.filePath(name));
        QTest::addRow("engine refuses %s", qPrintable(name)) << sent;
        QTest::addRow("engine refuses, normalized %s", qPrintable(name))
            << TunnelConfig::normalizeRemoteDesktopConfig(sent);
    }

    // The server's documents as the client writes them: normalized.
    ConfigRepository repository;
    for (const char *name : {"server_config_template_smart.json", "server_config_template_global.json"}) {
        QByteArray server = readFile(m_dataDir + QLatin1Char('/') + QLatin1String(name));
        // Filled in as the server fills them: a loopback control API, a port number.
        server.replace("\"{{SERVER_PORT}}\"", "443")
            .replace("{{CONTROLLER_ADDRESS}}", "127.0.0.1:9097")
            .replace("{{", "")
            .replace("}}", "");
        QTest::newRow(name) << repository.buildRemoteConfigPreview(server).toUtf8();
    }

    // The local builder with the outbound forms nodes come with.
    const QVariantMap ws {{QStringLiteral("type"), QStringLiteral("vless")},
        {QStringLiteral("server"), QStringLiteral("203.0.113.9")}, {QStringLiteral("server_port"), 443},
        {QStringLiteral("uuid"), QStringLiteral("3b5c5c36-4bb5-4b8f-9cf2-2f0c3e0f6f11")},
        {QStringLiteral("tls"),
            QVariantMap {
                {QStringLiteral("enabled"), true}, {QStringLiteral("server_name"), QStringLiteral("cdn.example")}}},
        {QStringLiteral("transport"),
            QVariantMap {{QStringLiteral("type"), QStringLiteral("ws")},
                {QStringLiteral("path"), QStringLiteral("/ray?ed=2048")}}}};
    const QVariantMap hysteria {{QStringLiteral("type"), QStringLiteral("hysteria2")},
        {QStringLiteral("server"), QStringLiteral("203.0.113.10")}, {QStringLiteral("server_port"), 8443},
        {QStringLiteral("password"), QStringLiteral("p")},
        {QStringLiteral("tls"), QVariantMap {{QStringLiteral("enabled"), true}}}};
    for (const QString &mode : {QStringLiteral("smart"), QStringLiteral("global")}) {
        const QVariantMap settings {{QStringLiteral("routingMode"), mode}};
        for (const QVariantMap &outbound : {ws, hysteria, QVariantMap()}) {
            const QJsonObject document = TunnelConfig::buildDesktopConfig(
                {{QStringLiteral("outbound"), outbound}}, settings, QStringLiteral("secret"));
            QTest::addRow("built %s %s", qPrintable(mode),
                qPrintable(outbound.value(QStringLiteral("type"), QStringLiteral("none")).toString()))
                << QJsonDocument(document).toJson();
        }
    }

    // The legacy addresses that only send queries out, and the lowest unprivileged control port.
    QTest::newRow("legacy addresses and port 1024") << QByteArray(
        R"({"dns": {"servers": [{"tag": "a", "address": "223.5.5.5"}, {"tag": "b", "address": "2001:4860:4860::8888"},
                                {"tag": "c", "address": "local"}, {"tag": "d", "address": "https://dns.google/dns-query"},
                                {"tag": "e", "address": "QUIC://dns.adguard.com"}, {"tag": "f", "address": "h3://1.1.1.1"},
                                {"tag": "g", "address": "tls://[2606:4700::1111]:853"}]},
            "ntp": {"enabled": true, "write_to_system": false},
            "experimental": {"clash_api": {"external_controller": "[::1]:1024", "secret": "s", "external_ui": "Meta_ui-2"}}})");

    // URL paths of DNS-over-HTTPS servers, HTTP proxies and transports are not files.
    QTest::newRow("url paths") << QByteArray(
        R"({"dns": {"servers": [{"type": "h3", "tag": "d", "server": "1.1.1.1", "path": "/dns-query"}]},
            "outbounds": [{"type": "http", "tag": "h", "server": "203.0.113.1", "server_port": 80, "path": "/proxy"},
                          {"type": "trojan", "tag": "t", "server": "203.0.113.2", "server_port": 443, "password": "p",
                           "transport": {"type": "httpupgrade", "host": "a", "path": "/up"}}],
            "route": {"rule_set": [{"type": "local", "tag": "l", "format": "binary", "path": "rules/cn.srs"}]}})");
}

void ServiceConfigCheckTest::clientDocumentIsAccepted()
{
    QFETCH(QByteArray, document);
    QVERIFY(!document.isEmpty());
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(document.toStdString());
    QVERIFY2(verdict.accepted, verdict.reason.c_str());
}

void ServiceConfigCheckTest::refusalNamesTheReason_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("reason");
    QTest::newRow("log output") << QByteArray(R"({"log": {"output": "x.log"}})") << "log.output is set";
    QTest::newRow("debug") << QByteArray(R"({"experimental": {"debug": {}}})") << "experimental.debug is set";
    QTest::newRow("tor in capitals") << QByteArray(R"({"outbounds": [{"type": "direct"}, {"type": "TOR"}]})")
                                     << "outbounds[1] is a tor outbound";
    QTest::newRow("absolute cache")
        << QByteArray(R"({"experimental": {"cache_file": {"path": "/etc/shadow"}}})")
        << "experimental.cache_file.path names a file outside the engine's working directory";
    QTest::newRow("array element") << QByteArray(R"({"dns": {"servers": [{"type": "hosts", "path": ["a", "../b"]}]}})")
                                   << "dns.servers[0].path[1] names a file outside";
    QTest::newRow("syntax") << QByteArray("{\"log\": }")
                            << "the config is not valid JSON (unexpected character at byte 8)";
    QTest::newRow("not an object") << QByteArray("\"text\"") << "the config is not a JSON object";
    QTest::newRow("repeated type")
        << QByteArray(R"({"inbounds": [{"type": "tun", "tag": "t", "type": "mixed", "listen_port": 1080}]})")
        << "the config is not valid JSON (duplicate key";
    QTest::newRow("type repeated in another case")
        << QByteArray(R"({"inbounds": [{"type": "tun", "tag": "t", "Type": "mixed"}]})")
        << "inbounds[0].Type repeats a key that differs only in case";
    QTest::newRow("top-level key repeated in another case")
        << QByteArray(R"({"route": {}, "Route": {}})") << "Route repeats a key that differs only in case";
    QTest::newRow("mixed-case log output") << QByteArray(R"({"Log": {"Output": "x.log"}})") << "log.output is set";
    QTest::newRow("legacy address as a number")
        << QByteArray(R"({"dns": {"servers": [{"tag": "a", "address": 53}]}})")
        << "dns.servers[0].address is not a DNS server address";
    QTest::newRow("legacy address without a host") << QByteArray(R"({"dns": {"servers": [{"address": "udp://"}]}})")
                                                   << "dns.servers[0].address is not a DNS server address";
    QTest::newRow("control api one below 1024")
        << QByteArray(R"({"experimental": {"clash_api": {"external_controller": "127.0.0.1:1023", "secret": "s"}}})")
        << "experimental.clash_api.external_controller uses a port below 1024";
    QTest::newRow("certificate store none") << QByteArray(R"({"certificate": {"store": "none"}})")
                                            << "certificate.store is not one of the values";
    QTest::newRow("certificate file beside a store")
        << QByteArray(R"({"certificate": {"store": "system", "certificate_path": ["ca.pem"]}})")
        << "certificate.certificate_path is not a field";
    QTest::newRow("ntp writing the clock as text") << QByteArray(R"({"ntp": {"enabled": true, "write_to_system": "false"}})")
                                                   << "ntp.write_to_system must be false";
    QTest::newRow("wireguard endpoint listening")
        << QByteArray(R"({"endpoints": [{"type": "wireguard", "tag": "w", "listen_port": 51820}]})")
        << "endpoints[0].listen_port is not a field";
    QTest::newRow("tailscale endpoint") << QByteArray(R"({"endpoints": [{"type": "tailscale", "tag": "t"}]})")
                                        << "endpoints[0].type names a type the service does not let the engine run";
}

void ServiceConfigCheckTest::refusalNamesTheReason()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, reason);
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(document.toStdString());
    QVERIFY(!verdict.accepted);
    QVERIFY2(QString::fromStdString(verdict.reason).startsWith(reason), verdict.reason.c_str());
}

// Fields the engine turns into a file write, an unauthenticated folder, a
// system port or a path of the environment's choosing, each refused where it sits.
void ServiceConfigCheckTest::holeIsRefusedAtItsPlace_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");
    const QString ui = QStringLiteral("experimental.clash_api.external_ui must be one plain folder name");
    const QString env = QStringLiteral(" names a file through an environment variable");
    const QString dhcp = QStringLiteral(" is not a DNS server address the service lets the engine use");
    const QString port = QStringLiteral("experimental.clash_api.external_controller uses a port below 1024");
    QTest::newRow("ui download url") << "clash-api-external-ui-download-url"
                                     << "experimental.clash_api.external_ui_download_url is not a field";
    QTest::newRow("ui download detour") << "clash-api-external-ui-download-detour"
                                        << "experimental.clash_api.external_ui_download_detour is not a field";
    QTest::newRow("ui dot") << "external-ui-dot" << ui;
    QTest::newRow("ui dot dot") << "external-ui-dotdot" << ui;
    QTest::newRow("ui subfolder") << "external-ui-subfolder" << ui;
    QTest::newRow("ui home variable") << "external-ui-env-home" << ui;
    QTest::newRow("ui windows variable") << "external-ui-windows-env" << ui;
    QTest::newRow("ui absolute") << "external-ui-absolute" << ui;
    QTest::newRow("cache braces variable") << "cache-file-env-braces" << "experimental.cache_file.path" + env;
    QTest::newRow("hosts home variable") << "dns-hosts-path-env" << "dns.servers[3].path" + env;
    QTest::newRow("hosts windows variable") << "dns-hosts-path-windows-env" << "dns.servers[3].path[1]" + env;
    QTest::newRow("local rule set variable") << "rule-set-local-env" << "route.rule_set[2].path" + env;
    QTest::newRow("legacy dhcp auto") << "legacy-dns-dhcp-auto" << "dns.servers[1].address" + dhcp;
    QTest::newRow("legacy dhcp capitals") << "legacy-dns-dhcp-interface-capitals" << "dns.servers[1].address" + dhcp;
    QTest::newRow("legacy rcode") << "legacy-dns-unknown-scheme" << "dns.servers[0].address" + dhcp;
    QTest::newRow("control api on 53") << "clash-api-privileged-port" << port;
    QTest::newRow("control api on ipv6 80") << "clash-api-ipv6-privileged-port" << port;
}

void ServiceConfigCheckTest::holeIsRefusedAtItsPlace()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);
    const QByteArray bytes = readFile(m_dataDir + QStringLiteral("/hostile/") + file + QStringLiteral(".json"));
    QVERIFY(!bytes.isEmpty());
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(bytes.toStdString());
    QVERIFY(!verdict.accepted);
    QVERIFY2(QString::fromStdString(verdict.reason).startsWith(reason), verdict.reason.c_str());
}

void ServiceConfigCheckTest::unsafePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("unsafe");
    QTest::newRow("plain file") << "cache.db" << false;
    QTest::newRow("subfolder") << "ui/dist" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dots in a name") << "a..b/..c" << false;
    QTest::newRow("single dot") << "./cache.db" << false;
    QTest::newRow("root") << "/etc/passwd" << true;
    QTest::newRow("backslash root") << "\\Windows" << true;
    QTest::newRow("drive") << "c:cache.db" << true;
    QTest::newRow("drive upper") << "D:\\x" << true;
    QTest::newRow("parent") << ".." << true;
    QTest::newRow("parent inside") << "ui/../../x" << true;
    QTest::newRow("parent backslash") << "ui\\..\\x" << true;
    QTest::newRow("trailing parent") << "ui/.." << true;
}

void ServiceConfigCheckTest::unsafePath()
{
    QFETCH(QString, path);
    QFETCH(bool, unsafe);
    QCOMPARE(QuilletService::isUnsafeRelativePath(path.toStdString()), unsafe);
}

void ServiceConfigCheckTest::jsonSyntax_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("object") << QByteArray(" {\"a\": [1, -2.5e+3, true, false, null, \"x\"]} \n") << true;
    QTest::newRow("empty containers") << QByteArray("{\"a\": {}, \"b\": []}") << true;
    QTest::newRow("scalar top level") << QByteArray("0") << true;
    QTest::newRow("unicode text") << QByteArray("[\"岚舟 ✓ \xf0\x9f\x9a\x80\"]") << true;
    QTest::newRow("surrogate pair") << QByteArray("[\"\\ud83d\\ude80\"]") << true;
    QTest::newRow("leading zero") << QByteArray("[012]") << false;
    QTest::newRow("bare minus") << QByteArray("[-]") << false;
    QTest::newRow("dot without digits") << QByteArray("[1.]") << false;
    QTest::newRow("exponent without digits") << QByteArray("[1e]") << false;
    QTest::newRow("plus sign") << QByteArray("[+1]") << false;
    QTest::newRow("trailing comma array") << QByteArray("[1,]") << false;
    QTest::newRow("trailing comma object") << QByteArray("{\"a\":1,}") << false;
    QTest::newRow("missing colon") << QByteArray("{\"a\" 1}") << false;
    QTest::newRow("unquoted key") << QByteArray("{a: 1}") << false;
    QTest::newRow("bad literal") << QByteArray("[tru]") << false;
    QTest::newRow("bad escape") << QByteArray("[\"\\x41\"]") << false;
    QTest::newRow("short unicode escape") << QByteArray("[\"\\u12\"]") << false;
    QTest::newRow("low surrogate first") << QByteArray("[\"\\udc00\"]") << false;
    QTest::newRow("high surrogate alone") << QByteArray("[\"\\ud800x\"]") << false;
    QTest::newRow("raw tab") << QByteArray("[\"a\tb\"]") << false;
    QTest::newRow("overlong encoding") << QByteArray("[\"\xc0\xaf\"]") << false;
    QTest::newRow("encoded surrogate") << QByteArray("[\"\xed\xa0\x80\"]") << false;
    QTest::newRow("beyond unicode") << QByteArray("[\"\xf4\x90\x80\x80\"]") << false;
    QTest::newRow("cut sequence") << QByteArray("[\"\xe5\xb2\"]") << false;
    QTest::newRow("two values") << QByteArray("1 2") << false;
    QTest::newRow("nothing") << QByteArray("   ") << false;
    QTest::newRow("unterminated") << QByteArray("{\"a\": [1, 2") << false;
    QTest::newRow("repeated key") << QByteArray("{\"type\": \"tun\", \"type\": \"direct\"}") << false;
    QTest::newRow("repeated key, nested in an array")
        << QByteArray("[{\"a\": {\"b\": 1, \"c\": 2, \"b\": 1}}]") << false;
    QTest::newRow("repeated key spelled with an escape") << QByteArray("{\"type\": 1, \"typ\\u0065\": 2}") << false;
    QTest::newRow("same key in sibling objects") << QByteArray("[{\"a\": 1}, {\"a\": 2}]") << true;
    QTest::newRow("keys differing in case") << QByteArray("{\"Type\": 1, \"type\": 2}") << true;
    QTest::newRow("number beyond a double") << QByteArray("[1e400]") << false;
    QTest::newRow("negative number beyond a double") << QByteArray("[-2.5e309]") << false;
    QTest::newRow("largest double") << QByteArray("[1.7976931348623157e308, 1e-400, 123456789012345678901234567890]")
                                    << true;
}

void ServiceConfigCheckTest::jsonSyntax()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const QuilletService::JsonParseResult result = QuilletService::parseJson(text.toStdString());
    QVERIFY2(result.ok == valid, result.error.c_str());
    if (!valid)
        QVERIFY(!result.error.empty());
}

void ServiceConfigCheckTest::jsonDecodesEscapes()
{
    const QuilletService::JsonParseResult result
        = QuilletService::parseJson(R"({"\u006Fut\/put": "a\"b\\c\n", "k": 1, "K": "\ud83d\ude80\u00e9"})");
    QVERIFY(result.ok);
    const auto &members = result.value.members;
    QCOMPARE(members.size(), std::size_t(3));
    QCOMPARE(members[0].first, std::string("out/put"));
    QCOMPARE(members[0].second.text, std::string("a\"b\\c\n"));
    QCOMPARE(members[1].second.type, QuilletService::JsonValue::Type::Number);
    QCOMPARE(members[1].second.text, std::string("1"));
    QCOMPARE(members[2].second.text, std::string("\xf0\x9f\x9a\x80\xc3\xa9"));
}

void ServiceConfigCheckTest::jsonLimits()
{
    QuilletService::JsonLimits limits;
    limits.maxDepth = 4;
    QVERIFY(QuilletService::parseJson("[[[[1]]]]", limits).ok);
    QVERIFY(!QuilletService::parseJson("[[[[[1]]]]]", limits).ok);
    QVERIFY(!QuilletService::parseJson("{\"a\":{\"b\":{\"c\":{\"d\":{}}}}}", limits).ok);

    limits = QuilletService::JsonLimits();
    limits.maxValues = 10;
    QVERIFY(QuilletService::parseJson("[1,2,3,4,5,6,7,8,9]", limits).ok);
    QVERIFY(!QuilletService::parseJson("[1,2,3,4,5,6,7,8,9,10]", limits).ok);

    limits = QuilletService::JsonLimits();
    limits.maxBytes = 8;
    QVERIFY(QuilletService::parseJson("[1, 2]  ", limits).ok);
    QVERIFY(!QuilletService::parseJson("[1, 2]   ", limits).ok);

    // The defaults hold a deep hostile document without exhausting the stack.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    QVERIFY(!QuilletService::parseJson(deep).ok);
}

void ServiceConfigCheckTest::quoting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << "C:\\Program Files\\Quillet\\bin\\sing-box.exe"
                           << "\"C:\\Program Files\\Quillet\\bin\\sing-box.exe\"";
    QTest::newRow("quote inside") << "C:\\a\"b\\c"
                                  << "\"C:\\a\\\"b\\c\"";
    QTest::newRow("trailing backslash") << "C:\\dir\\"
                                        << "\"C:\\dir\\\"";
    QTest::newRow("empty") << ""
                           << "\"\"";
}

void ServiceConfigCheckTest::quoting()
{
    QFETCH(QString, text);
    QFETCH(QString, quoted);
    QCOMPARE(QString::fromStdString(QuilletService::quote(text.toStdString())), quoted);
    QCOMPARE(QString::fromStdWString(QuilletService::quote(text.toStdWString())), quoted);
}

void ServiceConfigCheckTest::engineCommandLineQuotesEveryPath()
{
    const std::wstring line = QuilletService::engineCommandLine(std::wstring(L"C:\\Q\\bin\\sing-box.exe"),
        std::wstring(L"C:\\ProgramData\\Quillet\\runtime"), std::wstring(L"C:\\Data\\\"x\\configs\\active.json"));
    QCOMPARE(QString::fromStdWString(line),
        QStringLiteral("\"C:\\Q\\bin\\sing-box.exe\" run -D \"C:\\ProgramData\\Quillet\\runtime\" -c "
                       "\"C:\\Data\\\\\"x\\configs\\active.json\""));
}

void ServiceConfigCheckTest::directoryPrefixes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("created");
    QTest::newRow("windows") << "C:\\ProgramData\\Quillet\\runtime"
                             << QStringList {"C:\\", "C:\\ProgramData\\", "C:\\ProgramData\\Quillet\\",
                                    "C:\\ProgramData\\Quillet\\runtime"};
    QTest::newRow("posix") << "/var/lib/quillet" << QStringList {"/", "/var/", "/var/lib/", "/var/lib/quillet"};
    QTest::newRow("mixed") << "a/b\\c" << QStringList {"a/", "a/b\\", "a/b\\c"};
    QTest::newRow("empty") << "" << QStringList();
}

void ServiceConfigCheckTest::directoryPrefixes()
{
    QFETCH(QString, path);
    QFETCH(QStringList, created);
    QStringList seen;
    QuilletService::forEachDirectoryPrefix(
        path.toStdString(), [&seen](const std::string &prefix) { seen << QString::fromStdString(prefix); });
    QCOMPARE(seen, created);
}

void ServiceConfigCheckTest::directoryOfModulePath_data()
{
    QTest::addColumn<QString>("modulePath");
    QTest::addColumn<QString>("directory");
    QTest::newRow("windows") << "C:\\Program Files\\Quillet\\quillet-vpn-service.exe"
                             << "C:\\Program Files\\Quillet";
    QTest::newRow("posix") << "/opt/quillet/quillet-vpn-service"
                           << "/opt/quillet";
    QTest::newRow("forward slashes on windows") << "C:/Quillet/svc.exe"
                                                << "C:/Quillet";
    QTest::newRow("bare name") << "quillet-vpn-service"
                               << ".";
}

void ServiceConfigCheckTest::directoryOfModulePath()
{
    QFETCH(QString, modulePath);
    QFETCH(QString, directory);
    QCOMPARE(QString::fromStdString(QuilletService::directoryOf(modulePath.toStdString())), directory);
}

void ServiceConfigCheckTest::logLinePrefix()
{
    QCOMPARE(QString::fromStdString(QuilletService::logLinePrefix(2026, 1, 2, 3, 4, 5)),
        QStringLiteral("[2026-01-02 03:04:05] "));
    QCOMPARE(QString::fromStdString(QuilletService::logLinePrefix(2026, 12, 31, 23, 59, 59)),
        QStringLiteral("[2026-12-31 23:59:59] "));
}

QTEST_APPLESS_MAIN(ServiceConfigCheckTest)
#include "tst_serviceconfigcheck.moc"
