#include "serviceinstall.h"
#include "testenvironment.h"
#include "tunnel/confignormalization.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// The stand-in engine must behave like sing-box where the client and the
// service rely on it, or the other tests prove nothing: its check, its run
// and its control API.
class EngineStandInTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void check_data();
    void check();
    void corpusUnderEachVersion_data();
    void corpusUnderEachVersion();
    void versionIsTheOnePlayed_data();
    void versionIsTheOnePlayed();
    void controlApiListensOnlyAfterTheStart();
    void controlApi_data();
    void controlApi();
    void modeSwitchFollowsTheModeList();
    void trafficStreamsOneLineASecond_data();
    void trafficStreamsOneLineASecond();
    void runCreatesItsDirectoryAndEndsOnSigterm();
    void failuresAtStart_data();
    void failuresAtStart();

private:
    bool startEngine(QProcess &engine, const QByteArray &config);
    static QByteArray exchange(quint16 port, const QByteArray &request, int waitMs = 3000);
    QByteArray readData(const QString &name) const;

    TestEnvironment m_env;
    QString m_dataDir;
    quint16 m_port = 0;
    const QByteArray m_secret = "test-secret";
};

void EngineStandInTest::initTestCase()
{
    QString source = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (source.isEmpty())
        source = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    m_dataDir = QDir(source).filePath(QStringLiteral("tests/data"));
}

QByteArray EngineStandInTest::readData(const QString &name) const
{
    QFile file(QDir(m_dataDir).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool EngineStandInTest::startEngine(QProcess &engine, const QByteArray &config)
{
    m_port = ServiceInstall::freePort();
    QByteArray text = config;
    text.replace("PORT", QByteArray::number(m_port));
    QFile file(m_env.path(QStringLiteral("run.json")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    file.close();
    engine.setReadChannel(QProcess::StandardError);
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM),
        {QStringLiteral("run"), QStringLiteral("-D"), m_env.path(QStringLiteral("runtime")), QStringLiteral("-c"),
            file.fileName()});
    if (!engine.waitForStarted())
        return false;
    QElapsedTimer clock;
    clock.start();
    QByteArray errors;
    while (clock.elapsed() < 5000 && engine.state() == QProcess::Running) {
        engine.waitForReadyRead(100);
        errors += engine.readAllStandardError();
        if (errors.contains("sing-box started"))
            return true;
    }
    return false;
}

QByteArray EngineStandInTest::exchange(quint16 port, const QByteArray &request, int waitMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return QByteArray();
    socket.write(request);
    QByteArray response;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < waitMs && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(50);
        response += socket.readAll();
    }
    return response + socket.readAll();
}

void EngineStandInTest::check_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // a pattern for standard error

    const QStringList plain {QStringLiteral("--disable-color")};
    QTest::newRow("client document, smart") << readData(QStringLiteral("golden_smart.json")) << plain << 0 << QString();
    QTest::newRow("client document, global")
        << readData(QStringLiteral("golden_global.json")) << plain << 0 << QString();
    const QByteArray runnable = ServiceInstall::runnableConfig(9097, QStringLiteral("s"));
    QTest::newRow("runnable") << runnable << plain << 0 << QString();

    QByteArray server = readData(QStringLiteral("server_config_template_smart.json"));
    server.replace("\"{{SERVER_PORT}}\"", "8388").replace("{{", "").replace("}}", "");
    QTest::newRow("server document with its dns outbound")
        << server << plain << 1
        << QStringLiteral("^ERROR\\[0000\\] legacy special outbounds is deprecated in sing-box 1\\.11\\.0 .*\\n"
                          "FATAL\\[0000\\] to continuing using this feature, set environment variable "
                          "ENABLE_DEPRECATED_SPECIAL_OUTBOUNDS=true\\n$");

    QByteArray unknownField = runnable;
    unknownField.replace("\"auto_route\": true", "\"auto_route\": true, \"tun_speed\": 1");
    QTest::newRow("unknown field") << unknownField << plain << 1
                                   << QStringLiteral("^FATAL\\[0000\\] decode config at .*check\\.json: "
                                                     "inbounds\\[0\\]: json: unknown field \"tun_speed\"\\n$");
    QByteArray wrongType = runnable;
    wrongType.replace("\"mtu\": 1400", "\"mtu\": \"1400\"");
    QTest::newRow("wrong type")
        << wrongType << plain << 1
        << QStringLiteral("inbounds\\[0\\]\\.mtu: json: cannot unmarshal string into Go value of type uint32");
    QByteArray duplicate = runnable;
    duplicate.replace("\"tag\": \"block\"", "\"tag\": \"selected\"");
    QTest::newRow("duplicate tag")
        << duplicate << plain << 1
        << QStringLiteral("^FATAL\\[0000\\] decode config at .*check\\.json: duplicate outbound/endpoint tag: selected\\n$");
    QByteArray unknownType = runnable;
    unknownType.replace("\"type\": \"block\"", "\"type\": \"blackhole\"");
    QTest::newRow("unknown type") << unknownType << plain << 1
                                  << QStringLiteral("outbounds\\[1\\]: unknown outbound type: blackhole");
    QTest::newRow("syntax") << QByteArray("{\n  \"log\": {\n    \"level\": }\n}\n") << plain << 1
                            << QStringLiteral(": row 3, column \\d+\\n$");
    QTest::newRow("coloured by default") << unknownType << QStringList() << 1
                                         << QStringLiteral("^\\x1b\\[31mFATAL\\x1b\\[0m\\[0000\\] ");
}

void EngineStandInTest::check()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QVERIFY(!config.isEmpty());
    QFile file(m_env.path(QStringLiteral("check.json")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(config);
    file.close();
    QProcess engine;
    engine.setWorkingDirectory(m_env.path(QString()));
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM),
        QStringList {QStringLiteral("check"), QStringLiteral("-c"), file.fileName()} + arguments);
    QVERIFY(engine.waitForFinished(10000));
    const QString errors = QString::fromUtf8(engine.readAllStandardError());
    QCOMPARE(engine.exitCode(), exitCode);
    QVERIFY(engine.readAllStandardOutput().isEmpty());
    if (error.isEmpty())
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    else
        QVERIFY2(QRegularExpression(error).match(errors).hasMatch(), qPrintable(errors));
}

// The documents servers send, under the engine release each belongs to: the
// accepted corpus passes (a name ending ".since-1.13" only from 1.13 on), and
// the refused corpus fails with the engine's own lines, as its reasons list says.
void EngineStandInTest::corpusUnderEachVersion_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("environment"); // NAME=VALUE set for the run, or empty
    QTest::addColumn<bool>("normalize");
    QTest::addColumn<QString>("error"); // a pattern for standard error; empty: passes in silence

    const QList<QByteArray> versions {"1.12", "1.13"};
    const QDir accepted(m_dataDir + QStringLiteral("/accepted"));
    const QStringList names = accepted.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 30);
    for (const QString &name : names) {
        for (const QByteArray &version : versions) {
            const bool later = name.contains(QLatin1String(".since-1.13.")) && version == "1.12";
            QTest::addRow("%s accepted %s", version.constData(), qPrintable(name))
                << accepted.filePath(name) << version << QByteArray() << false
                << (later ? QStringLiteral("^FATAL\\[0000\\] decode config at .*: json: unknown field ") : QString());
        }
    }

    QFile reasons(m_dataDir + QStringLiteral("/refused/reasons.txt"));
    QVERIFY(reasons.open(QIODevice::ReadOnly | QIODevice::Text));
    int rows = 0;
    while (!reasons.atEnd()) {
        const QString line = QString::fromUtf8(reasons.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(QStringLiteral(" | "));
        QCOMPARE(parts.size(), 3);
        const QString path = m_dataDir + QStringLiteral("/refused/") + parts.at(0) + QStringLiteral(".json");
        QVERIFY2(QFile::exists(path), qPrintable(path));
        for (const QString &version : parts.at(1).split(QLatin1Char(','))) {
            QTest::addRow("%s refused %s", qPrintable(version), qPrintable(parts.at(0)))
                << path << version.toLatin1() << QByteArray() << false << parts.at(2);
            ++rows;
        }
    }
    QVERIFY(rows >= 10);

    // What normalization makes of the legacy forms runs on both releases.
    for (const char *name : {"wireguard-legacy-outbound", "dns-outbound-legacy-rule"}) {
        for (const QByteArray &version : versions)
            QTest::addRow("%s normalized %s", version.constData(), name)
                << m_dataDir + QStringLiteral("/refused/%1.json").arg(QLatin1String(name)) << version << QByteArray()
                << true << QString();
    }

    // A deprecation only warns when its variable says to go on (any true of
    // Go's), and a removal cannot be switched back on.
    const QString legacyDns = m_dataDir + QStringLiteral("/refused/urltest-group-legacy-dns.json");
    const QString dnsOut = m_dataDir + QStringLiteral("/refused/dns-outbound-legacy-rule.json");
    QTest::newRow("1.12 legacy DNS servers warn") << legacyDns << QByteArray("1.12") << QByteArray() << false
                                                  << QStringLiteral("^WARN\\[0000\\] legacy DNS servers is deprecated "
                                                                    "in sing-box 1\\.12\\.0 and will be removed in "
                                                                    "sing-box 1\\.14\\.0, [^\\n]*\\n$");
    QTest::newRow("1.13 legacy DNS servers, enabled by T")
        << legacyDns << QByteArray("1.13") << QByteArray("ENABLE_DEPRECATED_LEGACY_DNS_SERVERS=T") << false
        << QStringLiteral("^WARN\\[0000\\] legacy DNS servers is deprecated [^\\n]*\\n$");
    QTest::newRow("1.13 legacy DNS servers, yes is no true")
        << legacyDns << QByteArray("1.13") << QByteArray("ENABLE_DEPRECATED_LEGACY_DNS_SERVERS=yes") << false
        << QStringLiteral("\\nFATAL\\[0000\\] to continuing using this feature");
    QTest::newRow("1.12 dns outbound, enabled by 1")
        << dnsOut << QByteArray("1.12") << QByteArray("ENABLE_DEPRECATED_SPECIAL_OUTBOUNDS=1") << false
        << QStringLiteral("^WARN\\[0000\\] legacy special outbounds is deprecated [^\\n]*\\n$");
    QTest::newRow("1.13 dns outbound stays removed")
        << dnsOut << QByteArray("1.13") << QByteArray("ENABLE_DEPRECATED_SPECIAL_OUTBOUNDS=true") << false
        << QStringLiteral("dns outbound is deprecated in sing-box 1\\.11\\.0 and removed in sing-box 1\\.13\\.0");
}

void EngineStandInTest::corpusUnderEachVersion()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, environment);
    QFETCH(bool, normalize);
    QFETCH(QString, error);

    QFile source(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray config = source.readAll();
    if (normalize)
        config = TunnelConfig::normalizeRemoteDesktopConfig(config);
    QFile file(m_env.path(QStringLiteral("corpus.json")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(config);
    file.close();

    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("QUILLET_FAKE_ENGINE_VERSION"), QString::fromLatin1(version));
    if (!environment.isEmpty()) {
        const qsizetype equals = environment.indexOf('=');
        variables.insert(QString::fromLatin1(environment.left(equals)), QString::fromLatin1(environment.mid(equals + 1)));
    }
    QProcess engine;
    engine.setProcessEnvironment(variables);
    engine.setWorkingDirectory(m_env.path(QString()));
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM),
        {QStringLiteral("check"), QStringLiteral("-c"), file.fileName(), QStringLiteral("--disable-color")});
    QVERIFY(engine.waitForFinished(10000));
    const QString errors = QString::fromUtf8(engine.readAllStandardError());
    const bool passes = error.isEmpty() || error.startsWith(QLatin1String("^WARN"));
    QVERIFY2(engine.exitCode() == (passes ? 0 : 1), qPrintable(errors));
    if (error.isEmpty())
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    else
        QVERIFY2(QRegularExpression(error).match(errors).hasMatch(), qPrintable(errors));
}

void EngineStandInTest::versionIsTheOnePlayed_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("default") << QByteArray() << 0 << QStringLiteral("sing-box version 1.12.24\n");
    QTest::newRow("1.12") << QByteArray("1.12") << 0 << QStringLiteral("sing-box version 1.12.24\n");
    QTest::newRow("1.13") << QByteArray("1.13") << 0 << QStringLiteral("sing-box version 1.13.2\n");
    QTest::newRow("1.14 is not played") << QByteArray("1.14") << 1 << QString();
}

void EngineStandInTest::versionIsTheOnePlayed()
{
    QFETCH(QByteArray, version);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.remove(QStringLiteral("QUILLET_FAKE_ENGINE_VERSION"));
    if (!version.isEmpty())
        variables.insert(QStringLiteral("QUILLET_FAKE_ENGINE_VERSION"), QString::fromLatin1(version));
    QProcess engine;
    engine.setProcessEnvironment(variables);
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM), {QStringLiteral("version")});
    QVERIFY(engine.waitForFinished(5000));
    QCOMPARE(engine.exitCode(), exitCode);
    if (!output.isEmpty())
        QVERIFY(QString::fromUtf8(engine.readAllStandardOutput()).startsWith(output));
}

// The control API is the last thing the engine starts: right after the
// process begins nobody listens; "sing-box started" comes once it does.
void EngineStandInTest::controlApiListensOnlyAfterTheStart()
{
    const quint16 port = ServiceInstall::freePort();
    QFile file(m_env.path(QStringLiteral("delay.json")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(ServiceInstall::runnableConfig(port, QString::fromLatin1(m_secret)));
    file.close();
    qputenv("QUILLET_FAKE_ENGINE_START_DELAY_MS", "1500");
    QProcess engine;
    engine.setReadChannel(QProcess::StandardError);
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM),
        {QStringLiteral("run"), QStringLiteral("-D"), m_env.path(QStringLiteral("runtime")), QStringLiteral("-c"),
            file.fileName(), QStringLiteral("--disable-color")});
    qunsetenv("QUILLET_FAKE_ENGINE_START_DELAY_MS");
    QVERIFY(engine.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(300);
    QTcpSocket early;
    early.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!early.waitForConnected(500) || clock.elapsed() >= 1400);
    QByteArray errors;
    while (clock.elapsed() < 8000 && !errors.contains("sing-box started")) {
        engine.waitForReadyRead(100);
        errors += engine.readAllStandardError();
    }
    QVERIFY2(errors.contains("sing-box started"), errors.constData());
    QVERIFY(clock.elapsed() >= 1400);
    QVERIFY(exchange(port, "GET /version HTTP/1.0\r\nAuthorization: Bearer test-secret\r\n\r\n")
                .contains("\"version\":\"sing-box 1.12.24\""));
    engine.terminate();
    QVERIFY(engine.waitForFinished(5000));
}

void EngineStandInTest::controlApi_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("response"); // a pattern for the whole answer

    const QByteArray auth = "Authorization: Bearer test-secret\r\n";
    QTest::newRow("no token")
        << QByteArray("GET /version HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        << QStringLiteral("^HTTP/1.1 401 Unauthorized\\r\\n.*\\r\\n\\r\\n\\{\"message\":\"Unauthorized\"\\}$");
    QTest::newRow("wrong token") << QByteArray("GET / HTTP/1.0\r\nAuthorization: Bearer test-secre\r\n\r\n")
                                 << QStringLiteral("^HTTP/1.1 401 ");
    QTest::newRow("token without Bearer")
        << QByteArray("GET / HTTP/1.0\r\nAuthorization: test-secret\r\n\r\n") << QStringLiteral("^HTTP/1.1 401 ");
    QTest::newRow("hello") << QByteArray("GET / HTTP/1.0\r\n" + auth + "\r\n")
                           << QStringLiteral("^HTTP/1.1 200 OK\\r\\n.*\\r\\n\\r\\n\\{\"hello\":\"clash\"\\}$");
    QTest::newRow("version")
        << QByteArray("GET /version HTTP/1.0\r\n" + auth + "\r\n")
        << QStringLiteral("\\r\\n\\r\\n\\{\"version\":\"sing-box 1\\.12\\.\\d+\",\"premium\":true,\"meta\":true\\}$");
    QTest::newRow("configs") << QByteArray("GET /configs HTTP/1.0\r\n" + auth
        + "\r\n") << QStringLiteral("^HTTP/1.1 200 OK\\r\\n.*\"mode\":\"Rule\",\"mode-list\":\\[\"Rule\"\\]");
    QTest::newRow("patch") << QByteArray(
        "PATCH /configs HTTP/1.0\r\n" + auth + "Content-Length: 15\r\n\r\n{\"mode\":\"rule\"}")
                           << QStringLiteral("^HTTP/1.1 204 No Content\\r\\n(Connection: close\\r\\n)?\\r\\n$");
    QTest::newRow("patch, broken body") << QByteArray(
        "PATCH /configs HTTP/1.0\r\n" + auth + "Content-Length: 7\r\n\r\n{mode: ")
                                        << QStringLiteral(
                                               "^HTTP/1.1 400 Bad Request\\r\\n.*\\{\"message\":\"Body invalid\"\\}$");
    QTest::newRow("put") << QByteArray("PUT /configs HTTP/1.0\r\n" + auth + "Content-Length: 2\r\n\r\n{}")
                         << QStringLiteral("^HTTP/1.1 204 ");
    QTest::newRow("unknown path") << QByteArray("GET /proxies/x HTTP/1.0\r\n" + auth + "\r\n")
                                  << QStringLiteral("^HTTP/1.1 404 Not Found\\r\\n.*404 page not found\\n$");
}

void EngineStandInTest::controlApi()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, response);

    QByteArray config = ServiceInstall::runnableConfig(0, QString::fromLatin1(m_secret));
    config.replace("127.0.0.1:0", "127.0.0.1:PORT");
    QProcess engine;
    QVERIFY(startEngine(engine, config));
    const QByteArray answer = exchange(m_port, request);
    QVERIFY2(QRegularExpression(response, QRegularExpression::DotMatchesEverythingOption)
                 .match(QString::fromUtf8(answer))
                 .hasMatch(),
        answer.constData());
    engine.terminate();
    QVERIFY(engine.waitForFinished(5000));
}

void EngineStandInTest::modeSwitchFollowsTheModeList()
{
    // The engine offers the modes its rules name: "global" only exists when a rule says so.
    QByteArray config = ServiceInstall::runnableConfig(0, QString::fromLatin1(m_secret));
    config.replace("127.0.0.1:0", "127.0.0.1:PORT");
    config.replace(
        "\"action\": \"sniff\"", "\"action\": \"sniff\"}, {\"clash_mode\": \"Global\", \"outbound\": \"selected\"");
    QProcess engine;
    QVERIFY(startEngine(engine, config));
    const QByteArray auth = "Authorization: Bearer test-secret\r\n";
    const auto mode = [&] {
        const QByteArray answer = exchange(m_port, "GET /configs HTTP/1.0\r\n" + auth + "\r\n");
        return QRegularExpression(QStringLiteral("\"mode\":\"(\\w+)\"")).match(QString::fromUtf8(answer)).captured(1);
    };
    const auto patch = [&](const QByteArray &body) {
        return exchange(m_port,
            "PATCH /configs HTTP/1.0\r\n" + auth + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
                + body);
    };
    QCOMPARE(mode(), QStringLiteral("Rule"));
    QVERIFY(patch("{\"mode\":\"global\"}").startsWith("HTTP/1.1 204"));
    QCOMPARE(mode(), QStringLiteral("Global"));
    QVERIFY(patch("{\"mode\":\"direct\"}").startsWith("HTTP/1.1 204"));
    QCOMPARE(mode(), QStringLiteral("Global"));
    QVERIFY(exchange(m_port, "PUT /configs HTTP/1.0\r\n" + auth + "Content-Length: 15\r\n\r\n{\"mode\":\"rule\"}")
                .startsWith("HTTP/1.1 204"));
    QCOMPARE(mode(), QStringLiteral("Global"));
    engine.terminate();
    QVERIFY(engine.waitForFinished(5000));
}

void EngineStandInTest::trafficStreamsOneLineASecond_data()
{
    QTest::addColumn<bool>("noTraffic");
    QTest::newRow("traffic") << false;
    QTest::newRow("no traffic") << true;
}

void EngineStandInTest::trafficStreamsOneLineASecond()
{
    QFETCH(bool, noTraffic);
    if (noTraffic)
        qputenv("QUILLET_FAKE_ENGINE_NO_TRAFFIC", "1");
    QByteArray config = ServiceInstall::runnableConfig(0, QString::fromLatin1(m_secret));
    config.replace("127.0.0.1:0", "127.0.0.1:PORT");
    QProcess engine;
    const bool started = startEngine(engine, config);
    qunsetenv("QUILLET_FAKE_ENGINE_NO_TRAFFIC");
    QVERIFY(started);

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    QVERIFY(socket.waitForConnected(2000));
    socket.write("GET /traffic HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer test-secret\r\n\r\n");
    QElapsedTimer clock;
    clock.start();
    QByteArray stream;
    qint64 firstLineAt = -1;
    qint64 firstByteAt = -1;
    while (clock.elapsed() < 2600) {
        socket.waitForReadyRead(50);
        stream += socket.readAll();
        if (firstByteAt < 0 && !stream.isEmpty())
            firstByteAt = clock.elapsed();
        if (firstLineAt < 0 && stream.contains("{\"up\""))
            firstLineAt = clock.elapsed();
    }
    // Not even the headers come before the first tick.
    QVERIFY2(firstByteAt >= 800, "the answer's head comes with the first reading");
    QVERIFY2(
        stream.startsWith("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"),
        stream.constData());
    QVERIFY2(firstLineAt >= 800, "the first reading comes after about a second");
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    const QRegularExpression reading(QStringLiteral("\\r\\n\\{\"up\":(\\d+),\"down\":(\\d+)\\}\\n\\r\\n"));
    auto it = reading.globalMatch(QString::fromUtf8(stream));
    int lines = 0;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        // Real byte counts: nothing has moved by the first tick.
        const bool zero = match.captured(1) == QLatin1String("0") && match.captured(2) == QLatin1String("0");
        QCOMPARE(zero, noTraffic || lines == 0);
        ++lines;
    }
    QCOMPARE(lines, 2);
    socket.abort();
    engine.terminate();
    QVERIFY(engine.waitForFinished(5000));
}

void EngineStandInTest::runCreatesItsDirectoryAndEndsOnSigterm()
{
    QByteArray config = ServiceInstall::runnableConfig(0, QString::fromLatin1(m_secret));
    config.replace("127.0.0.1:0", "127.0.0.1:PORT");
    QDir(m_env.path(QStringLiteral("runtime"))).removeRecursively();
    QProcess engine;
    QVERIFY(startEngine(engine, config));
    // Relative paths of the document land in the -D directory.
    QVERIFY(QFile::exists(m_env.path(QStringLiteral("runtime/cache.db"))));
    engine.terminate();
    QVERIFY(engine.waitForFinished(5000));
    QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
    QCOMPARE(engine.exitCode(), 0);
}

void EngineStandInTest::failuresAtStart_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("minimumMs");

    QTest::newRow("told to fail") << QByteArray("QUILLET_FAKE_ENGINE_FAIL_START") << false
                                  << QStringLiteral("FATAL[0000] start service: ") << 0;
    QTest::newRow("control API port taken")
        << QByteArray() << true << QStringLiteral("bind: address already in use") << 0;
    QTest::newRow("told to end after a second")
        << QByteArray("QUILLET_FAKE_ENGINE_EXIT_AFTER") << false << QStringLiteral("FATAL[0001] ") << 900;
}

void EngineStandInTest::failuresAtStart()
{
    QFETCH(QByteArray, variable);
    QFETCH(bool, portTaken);
    QFETCH(QString, error);
    QFETCH(int, minimumMs);

    QTcpServer blocker;
    if (portTaken)
        QVERIFY(blocker.listen(QHostAddress::LocalHost, 0));
    const quint16 port = portTaken ? blocker.serverPort() : ServiceInstall::freePort();
    QFile file(m_env.path(QStringLiteral("fail.json")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(ServiceInstall::runnableConfig(port, QStringLiteral("s")));
    file.close();
    if (!variable.isEmpty())
        qputenv(variable.constData(), "1");
    QElapsedTimer clock;
    clock.start();
    QProcess engine;
    engine.start(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM),
        {QStringLiteral("run"), QStringLiteral("-D"), m_env.path(QStringLiteral("runtime")), QStringLiteral("-c"),
            file.fileName(), QStringLiteral("--disable-color")});
    const bool finished = engine.waitForFinished(5000);
    if (!variable.isEmpty())
        qunsetenv(variable.constData());
    QVERIFY(finished);
    QCOMPARE(engine.exitCode(), 1);
    QVERIFY(clock.elapsed() >= minimumMs);
    const QString errors = QString::fromUtf8(engine.readAllStandardError());
    QVERIFY2(errors.contains(error), qPrintable(errors));
}

QTEST_GUILESS_MAIN(EngineStandInTest)
#include "tst_enginestandin.moc"
