#include "client/api/backendcontract.h"
#include "devservertestclient.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace Backend::Path;

namespace {

const char kNodesPath[] = "/api/v1/nodes?refresh=1";

QString configPath(const QString &mode)
{
    return QStringLiteral("/api/v1/config/singbox?platform=windows&routing_mode=%1").arg(mode);
}

QJsonObject byTag(const QJsonArray &list, const QString &tag, const QString &notType = QString())
{
    for (const QJsonValue &value : list) {
        const QJsonObject object = value.toObject();
        if (object.value(QStringLiteral("tag")).toString() == tag
            && object.value(QStringLiteral("type")).toString() != notType)
            return object;
    }
    return {};
}

QJsonObject byId(const QJsonArray &list, const QString &id)
{
    for (const QJsonValue &value : list) {
        if (value.toObject().value(QStringLiteral("id")).toString() == id)
            return value.toObject();
    }
    return {};
}

void collectStrings(const QJsonValue &value, QStringList *strings)
{
    if (value.isString()) {
        strings->append(value.toString());
    } else if (value.isArray()) {
        for (const QJsonValue &element : value.toArray())
            collectStrings(element, strings);
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            collectStrings(it.value(), strings);
    }
}

bool isRelativeInside(const QString &path)
{
    return !path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1Char('\\')) && !path.contains(QLatin1Char(':'))
        && !path.contains(QLatin1String(".."));
}

// A template that tries everything the engine must not do with the service's rights.
const char kHostileTemplate[] = R"({
  "log": {"level": "debug", "output": "/var/log/box.log"},
  "inbounds": [{"type": "tun", "tag": "hostile-in", "address": ["172.19.0.1/30"]}],
  "outbounds": [
    {"type": "selector", "tag": "proxy", "outbounds": ["{{NODE_ID}}"], "default": "{{NODE_ID}}"},
    {"type": "shadowsocks", "tag": "{{NODE_ID}}", "server": "{{SERVER_HOST}}", "server_port": "{{SERVER_PORT}}"},
    {"type": "tor", "tag": "tor-out", "executable_path": "/usr/bin/tor"},
    {"type": "direct", "tag": "direct"}
  ],
  "route": {"final": "proxy"},
  "experimental": {
    "debug": {"listen": "127.0.0.1:6060"},
    "cache_file": {"enabled": true, "path": "/root/.cache/box.db"},
    "clash_api": {"external_controller": "0.0.0.0:9090", "external_ui": "../../ui", "secret": ""}
  }
})";

} // namespace

class DevServerNodesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void countries_data();
    void countries();
    void demoEndpointsAreClosedLoopbackPorts();
    void selectNode_data();
    void selectNode();
    void setNodeEndpointMovesTheServedNode();
    void setNodeStatus();
    void engineConfig_data();
    void engineConfig();
    void engineConfigFollowsTheAccountsNode();

private:
    QString memberToken();

    TestEnvironment m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<DevServerTestClient> m_client;
};

void DevServerNodesTest::initTestCase()
{
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_client = std::make_unique<DevServerTestClient>(*m_server);
}

void DevServerNodesTest::cleanup()
{
    // Status changes are undone; moved endpoints stay (every test reads them fresh).
    const QJsonArray nodes
        = m_client->get(QLatin1String(kNodesPath), memberToken()).json().value(QStringLiteral("items")).toArray();
    for (const QJsonValue &node : nodes)
        m_server->setNodeStatus(
            node.toObject().value(QStringLiteral("id")).toString(), QStringLiteral("online"), false);
}

QString DevServerNodesTest::memberToken()
{
    return m_client->signIn(m_client->newAccount(QStringLiteral("pro-yearly")), DevServerTestClient::password());
}

void DevServerNodesTest::countries_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("count");

    QTest::newRow("Hong Kong") << "HK" << 3;
    QTest::newRow("Japan") << "JP" << 2;
    QTest::newRow("Singapore") << "SG" << 1;
    QTest::newRow("United States") << "US" << 2;
}

void DevServerNodesTest::countries()
{
    QFETCH(QString, code);
    QFETCH(int, count);

    const DevAnswer answer = m_client->get(QLatin1String(kNodesPath), memberToken());
    QCOMPARE(answer.status, 200);
    const QJsonArray items = answer.json().value(QStringLiteral("items")).toArray();
    const QJsonArray countries = answer.json().value(QStringLiteral("countries")).toArray();
    QCOMPARE(countries.size(), 4);
    QVERIFY(answer.json().value(QStringLiteral("selected_node_id")).isString());

    QJsonObject country;
    for (const QJsonValue &value : countries) {
        if (value.toObject().value(QStringLiteral("country_code")).toString() == code)
            country = value.toObject();
    }
    QVERIFY(!country.isEmpty());
    QCOMPARE(country.value(QStringLiteral("node_count")).toInt(), count);
    QCOMPARE(country.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    QCOMPARE(country.value(QStringLiteral("latency_ms")).toInt(), 0);

    QStringList members;
    for (const QJsonValue &value : items) {
        const QJsonObject node = value.toObject();
        if (node.value(QStringLiteral("country_code")).toString() != code)
            continue;
        members << node.value(QStringLiteral("id")).toString();
        // Unknown latency and no grade: the client measures and grades.
        QCOMPARE(node.value(QStringLiteral("latency_ms")).toInt(), 0);
        QCOMPARE(node.value(QStringLiteral("quality_label")).toString(), QString());
        QCOMPARE(node.value(QStringLiteral("country")).toString(), country.value(QStringLiteral("country")).toString());
        QCOMPARE(
            node.value(QStringLiteral("outbound")).toObject().value(QStringLiteral("tag")).toString(), members.last());
    }
    QStringList countryIds;
    for (const QJsonValue &id : country.value(QStringLiteral("node_ids")).toArray())
        countryIds << id.toString();
    QCOMPARE(countryIds, members);
    QVERIFY(members.contains(country.value(QStringLiteral("best_node_id")).toString()));

    // No node id occurs inside another, or the client's ownership check could be fooled.
    for (const QJsonValue &a : items) {
        for (const QJsonValue &b : items) {
            const QString idA = a.toObject().value(QStringLiteral("id")).toString();
            const QString idB = b.toObject().value(QStringLiteral("id")).toString();
            QVERIFY2(idA == idB || !idB.contains(idA), qPrintable(idA + QLatin1String(" in ") + idB));
        }
    }
}

void DevServerNodesTest::demoEndpointsAreClosedLoopbackPorts()
{
    // A fresh server: nothing here has been moved.
    DevServerRunner fresh;
    QVERIFY(fresh.isRunning());
    DevServerTestClient client(fresh);
    const QString token = client.signIn(client.newAccount(), DevServerTestClient::password());
    const QJsonArray items
        = client.get(QLatin1String(kNodesPath), token).json().value(QStringLiteral("items")).toArray();
    QCOMPARE(items.size(), 8);
    QSet<int> ports;
    for (const QJsonValue &value : items) {
        const QJsonObject node = value.toObject();
        const QJsonObject outbound = node.value(QStringLiteral("outbound")).toObject();
        QCOMPARE(outbound.value(QStringLiteral("server")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(node.value(QStringLiteral("meta")).toObject().value(QStringLiteral("host")).toString(),
            QStringLiteral("127.0.0.1"));
        const int port = outbound.value(QStringLiteral("server_port")).toInt();
        QVERIFY(port > 0 && port < 65536);
        ports.insert(port);

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(!socket.waitForConnected(2000));
        QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
    }
    QCOMPARE(ports.size(), 8);

    // Another host for every node when asked.
    DevServer::Options options;
    options.nodeHost = QStringLiteral("127.0.0.2");
    DevServerRunner elsewhere(options);
    QCOMPARE(elsewhere.node(QStringLiteral("jp-tokyo"))
                 .value(QStringLiteral("outbound"))
                 .toObject()
                 .value(QStringLiteral("server"))
                 .toString(),
        QStringLiteral("127.0.0.2"));
}

void DevServerNodesTest::selectNode_data()
{
    QTest::addColumn<QString>("nodeId");
    QTest::addColumn<bool>("disable");
    QTest::addColumn<int>("status");

    QTest::newRow("a node") << "jp-tokyo" << false << 200;
    QTest::newRow("with blanks") << " us-sanjose " << false << 200;
    QTest::newRow("unknown") << "mars-base" << false << 404;
    QTest::newRow("blank") << "" << false << 404;
    QTest::newRow("disabled") << "hk-shatin" << true << 404;
}

void DevServerNodesTest::selectNode()
{
    QFETCH(QString, nodeId);
    QFETCH(bool, disable);
    QFETCH(int, status);

    if (disable)
        QVERIFY(m_server->setNodeStatus(nodeId, QStringLiteral("online"), true));
    const QString token = memberToken();
    const QString bystander = memberToken();
    const DevAnswer answer = m_client->post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), nodeId}}, token);
    QCOMPARE(answer.status, status);

    const QString expected = status == 200 ? nodeId.trimmed() : QString();
    if (status != 200)
        QCOMPARE(answer.errorText(), QStringLiteral("node not found"));
    else
        QCOMPARE(answer.json().value(QStringLiteral("selected_node_id")).toString(), expected);

    // Remembered for the account, in the bootstrap and in the telemetry.
    QCOMPARE(m_client->get(QLatin1String(kBootstrap), token)
                 .json()
                 .value(QStringLiteral("user"))
                 .toObject()
                 .value(QStringLiteral("selected_node_id"))
                 .toString(),
        expected);
    QCOMPARE(
        m_client->get(QLatin1String(kNodesPath), token).json().value(QStringLiteral("selected_node_id")).toString(),
        expected);
    QCOMPARE(
        m_client->get(QLatin1String(kNodesPath), bystander).json().value(QStringLiteral("selected_node_id")).toString(),
        QString());
    if (status == 200)
        QVERIFY(m_client->get(configPath(QStringLiteral("smart")), token).body.contains(expected.toUtf8()));
}

void DevServerNodesTest::setNodeEndpointMovesTheServedNode()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QVERIFY(m_server->setNodeEndpoint(QStringLiteral("sg-prime"), QStringLiteral("127.0.0.1"), listener.serverPort()));

    const QString token = memberToken();
    const QJsonObject node
        = byId(m_client->get(QLatin1String(kNodesPath), token).json().value(QStringLiteral("items")).toArray(),
            QStringLiteral("sg-prime"));
    const QJsonObject outbound = node.value(QStringLiteral("outbound")).toObject();
    QCOMPARE(outbound.value(QStringLiteral("server_port")).toInt(), int(listener.serverPort()));
    QCOMPARE(outbound.value(QStringLiteral("server")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(node.value(QStringLiteral("meta")).toObject().value(QStringLiteral("host")).toString(),
        QStringLiteral("127.0.0.1"));
    QCOMPARE(m_server->node(QStringLiteral("sg-prime")), node);

    // The served endpoint is the real listener.
    QTcpSocket socket;
    socket.connectToHost(outbound.value(QStringLiteral("server")).toString(),
        quint16(outbound.value(QStringLiteral("server_port")).toInt()));
    QVERIFY(socket.waitForConnected(3000));
    QVERIFY(listener.waitForNewConnection(3000));

    // And the engine configuration for it points there too.
    QCOMPARE(
        m_client->post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), QStringLiteral("sg-prime")}}, token)
            .status,
        200);
    const QJsonObject config = m_client->get(configPath(QStringLiteral("global")), token).json();
    const QJsonObject proxy = byTag(
        config.value(QStringLiteral("outbounds")).toArray(), QStringLiteral("sg-prime"), QStringLiteral("selector"));
    QCOMPARE(proxy.value(QStringLiteral("server_port")).toInt(), int(listener.serverPort()));

    // The rest of the catalogue is untouched; nonsense is refused.
    QVERIFY(m_server->node(QStringLiteral("hk-smart"))
                .value(QStringLiteral("outbound"))
                .toObject()
                .value(QStringLiteral("server_port"))
                .toInt()
        != int(listener.serverPort()));
    QVERIFY(!m_server->setNodeEndpoint(QStringLiteral("mars-base"), QStringLiteral("127.0.0.1"), 4000));
    QVERIFY(!m_server->setNodeEndpoint(QStringLiteral("sg-prime"), QStringLiteral("127.0.0.1"), 0));
    QVERIFY(!m_server->setNodeEndpoint(QStringLiteral("sg-prime"), QStringLiteral("  "), 4000));
    QVERIFY(m_server->node(QStringLiteral("mars-base")).isEmpty());
}

void DevServerNodesTest::setNodeStatus()
{
    const QString token = memberToken();
    const auto country = [&](const QString &code) {
        for (const QJsonValue &value :
            m_client->get(QLatin1String(kNodesPath), token).json().value(QStringLiteral("countries")).toArray()) {
            if (value.toObject().value(QStringLiteral("country_code")).toString() == code)
                return value.toObject();
        }
        return QJsonObject();
    };

    QVERIFY(m_server->setNodeStatus(QStringLiteral("jp-tokyo"), QStringLiteral("offline"), false));
    QCOMPARE(m_server->node(QStringLiteral("jp-tokyo")).value(QStringLiteral("status")).toString(),
        QStringLiteral("offline"));
    // One usable member keeps the country online and becomes its best node.
    QCOMPARE(country(QStringLiteral("JP")).value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    QCOMPARE(
        country(QStringLiteral("JP")).value(QStringLiteral("best_node_id")).toString(), QStringLiteral("jp-osaka"));

    QVERIFY(m_server->setNodeStatus(QStringLiteral("jp-osaka"), QStringLiteral("online"), true));
    QCOMPARE(m_server->node(QStringLiteral("jp-osaka")).value(QStringLiteral("disabled")).toBool(), true);
    QCOMPARE(country(QStringLiteral("JP")).value(QStringLiteral("status")).toString(), QStringLiteral("offline"));

    // An offline node may still be chosen; a disabled one may not.
    QCOMPARE(
        m_client->post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), QStringLiteral("jp-tokyo")}}, token)
            .status,
        200);
    QCOMPARE(
        m_client->post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), QStringLiteral("jp-osaka")}}, token)
            .status,
        404);
    QVERIFY(!m_server->setNodeStatus(QStringLiteral("mars-base"), QStringLiteral("offline"), false));

    // Blank status means online again.
    QVERIFY(m_server->setNodeStatus(QStringLiteral("jp-tokyo"), QString(), false));
    QCOMPARE(m_server->node(QStringLiteral("jp-tokyo")).value(QStringLiteral("status")).toString(),
        QStringLiteral("online"));
}

void DevServerNodesTest::engineConfig_data()
{
    QTest::addColumn<QString>("templates"); // "source", "none", "hostile", "malformed"
    QTest::addColumn<QString>("mode");

    for (const char *templates : {"source", "none", "hostile", "malformed"}) {
        for (const char *mode : {"smart", "global"})
            QTest::addRow("%s templates, %s", templates, mode)
                << QString::fromLatin1(templates) << QString::fromLatin1(mode);
    }
}

void DevServerNodesTest::engineConfig()
{
    QFETCH(QString, templates);
    QFETCH(QString, mode);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DevServer::Options options;
    if (templates != QLatin1String("source"))
        options.configTemplateDir = dir.path();
    if (templates == QLatin1String("hostile") || templates == QLatin1String("malformed")) {
        QFile file(dir.filePath(QStringLiteral("server_config_template.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(templates == QLatin1String("hostile") ? QByteArray(kHostileTemplate) : QByteArray("{\"log\": "));
    }
    DevServerRunner server(options);
    QVERIFY(server.isRunning());
    DevServerTestClient client(server);
    const QString token
        = client.signIn(client.newAccount(QStringLiteral("pro-yearly")), DevServerTestClient::password());
    QCOMPARE(client.post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), QStringLiteral("jp-osaka")}}, token)
                 .status,
        200);

    if (templates == QLatin1String("malformed"))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ignoring template")));
    const DevAnswer answer = client.get(configPath(mode), token);
    QCOMPARE(answer.status, 200);
    QVERIFY(!answer.body.contains("{{"));
    const QJsonObject config = answer.json();
    QVERIFY(!config.isEmpty());

    // It names the node: the client accepts a configuration only then.
    QVERIFY(answer.body.contains("jp-osaka"));
    const QJsonArray outbounds = config.value(QStringLiteral("outbounds")).toArray();
    const QJsonObject selector = byTag(outbounds, QStringLiteral("proxy"));
    QCOMPARE(selector.value(QStringLiteral("default")).toString(), QStringLiteral("jp-osaka"));
    const QJsonObject proxy = byTag(outbounds, QStringLiteral("jp-osaka"), QStringLiteral("selector"));
    const QJsonObject catalogue = server.node(QStringLiteral("jp-osaka")).value(QStringLiteral("outbound")).toObject();
    QCOMPARE(proxy.value(QStringLiteral("type")).toString(), QStringLiteral("trojan"));
    QCOMPARE(
        proxy.value(QStringLiteral("server_port")).toInt(), catalogue.value(QStringLiteral("server_port")).toInt());
    QCOMPARE(proxy.value(QStringLiteral("server")).toString(), catalogue.value(QStringLiteral("server")).toString());

    // A control API on a loopback port that is free, with a secret.
    const QJsonObject clash
        = config.value(QStringLiteral("experimental")).toObject().value(QStringLiteral("clash_api")).toObject();
    const QString controller = clash.value(QStringLiteral("external_controller")).toString();
    QVERIFY2(controller.startsWith(QLatin1String("127.0.0.1:")), qPrintable(controller));
    const int port = controller.section(QLatin1Char(':'), 1).toInt();
    QVERIFY(port > 0 && port < 65536);
    QTcpServer probe;
    QVERIFY2(probe.listen(QHostAddress::LocalHost, quint16(port)), qPrintable(probe.errorString()));
    QVERIFY(clash.value(QStringLiteral("secret")).toString().size() >= 16);

    // Nothing that reaches outside the engine's own directory.
    QVERIFY(!config.value(QStringLiteral("log")).toObject().contains(QStringLiteral("output")));
    QVERIFY(!config.value(QStringLiteral("experimental")).toObject().contains(QStringLiteral("debug")));
    for (const QJsonValue &outbound : outbounds)
        QVERIFY(outbound.toObject().value(QStringLiteral("type")).toString() != QLatin1String("tor"));
    const QString cachePath = config.value(QStringLiteral("experimental"))
                                  .toObject()
                                  .value(QStringLiteral("cache_file"))
                                  .toObject()
                                  .value(QStringLiteral("path"))
                                  .toString();
    QVERIFY2(cachePath.isEmpty() || isRelativeInside(cachePath), qPrintable(cachePath));
    if (clash.contains(QStringLiteral("external_ui")))
        QVERIFY(isRelativeInside(clash.value(QStringLiteral("external_ui")).toString()));
    QStringList strings;
    collectStrings(config, &strings);
    for (const QString &text : std::as_const(strings))
        QVERIFY2(!text.contains(QLatin1String("..")), qPrintable(text));

    // The colleague-maintained templates, when present, are what is served.
    const QString sourceTemplate
        = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK "/tests/data/server_config_template_%1.json").arg(mode);
    if (templates == QLatin1String("source") && QFile::exists(sourceTemplate)) {
        QFile file(sourceTemplate);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList expectedTags;
        for (const QJsonValue &outbound :
            QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("outbounds")).toArray())
            expectedTags << outbound.toObject()
                                .value(QStringLiteral("tag"))
                                .toString()
                                .replace(QLatin1String("{{NODE_ID}}"), QLatin1String("jp-osaka"));
        QStringList tags;
        for (const QJsonValue &outbound : outbounds)
            tags << outbound.toObject().value(QStringLiteral("tag")).toString();
        QCOMPARE(tags, expectedTags);
    }

    if (templates == QLatin1String("hostile")) {
        QVERIFY(byTag(config.value(QStringLiteral("inbounds")).toArray(), QStringLiteral("hostile-in")).size() > 0);
        return;
    }
    // Both modes carry the China rules behind the engine's mode switch; the
    // routing mode picks the engine's starting mode.
    const QJsonObject route = config.value(QStringLiteral("route")).toObject();
    QVERIFY(route.contains(QStringLiteral("rule_set")));
    QVERIFY(answer.body.contains("\"clash_mode\": \"Global\""));
    QCOMPARE(config.value(QStringLiteral("experimental")).toObject().value(QStringLiteral("clash_api")).toObject()
                 .value(QStringLiteral("default_mode")).toString(),
        mode == QLatin1String("smart") ? QStringLiteral("Rule") : QStringLiteral("Global"));
    QCOMPARE(route.value(QStringLiteral("final")).toString(), QStringLiteral("proxy"));
    const QJsonObject tun = config.value(QStringLiteral("inbounds")).toArray().at(0).toObject();
    QCOMPARE(tun.value(QStringLiteral("type")).toString(), QStringLiteral("tun"));
}

void DevServerNodesTest::engineConfigFollowsTheAccountsNode()
{
    const QString token = memberToken();
    // No choice yet: the first node, where the client stands too.
    const DevAnswer first = m_client->get(QStringLiteral("/api/v1/config/singbox?platform=windows"), token);
    QCOMPARE(first.status, 200);
    QCOMPARE(byTag(first.json().value(QStringLiteral("outbounds")).toArray(), QStringLiteral("proxy"))
                 .value(QStringLiteral("default"))
                 .toString(),
        QStringLiteral("hk-smart"));

    QCOMPARE(
        m_client
            ->post(QLatin1String(kNodesSelect), {{QStringLiteral("node_id"), QStringLiteral("us-losangeles")}}, token)
            .status,
        200);
    const DevAnswer chosen = m_client->get(configPath(QStringLiteral("smart")), token);
    QVERIFY(chosen.body.contains("us-losangeles"));
    QVERIFY(!chosen.body.contains("hk-smart"));
    // A fresh control port and secret every time.
    const DevAnswer again = m_client->get(configPath(QStringLiteral("smart")), token);
    QVERIFY(again.json()
                .value(QStringLiteral("experimental"))
                .toObject()
                .value(QStringLiteral("clash_api"))
                .toObject()
                .value(QStringLiteral("secret"))
        != chosen.json()
               .value(QStringLiteral("experimental"))
               .toObject()
               .value(QStringLiteral("clash_api"))
               .toObject()
               .value(QStringLiteral("secret")));

    // Taken off sale after it was chosen.
    QVERIFY(m_server->setNodeStatus(QStringLiteral("us-losangeles"), QStringLiteral("online"), true));
    const DevAnswer gone = m_client->get(configPath(QStringLiteral("smart")), token);
    QCOMPARE(gone.status, 404);
    QCOMPARE(gone.errorText(), QStringLiteral("node not found"));
    QCOMPARE(m_client->get(configPath(QStringLiteral("smart"))).status, 401);
}

QTEST_GUILESS_MAIN(DevServerNodesTest)
#include "tst_devserver_nodes.moc"
