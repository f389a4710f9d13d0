#include "serviceinstall.h"
#include "testenvironment.h"

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
        << QStringLiteral("^FATAL\\[0000\\] create service: initialize outbound\\[4\\]: dns outbound is deprecated");

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
        << QStringLiteral("^FATAL\\[0000\\] create service: duplicate outbound/endpoint tag: selected\\n$");
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
    while (clock.elapsed() < 2600) {
        socket.waitForReadyRead(50);
        stream += socket.readAll();
        if (firstLineAt < 0 && stream.contains("{\"up\""))
            firstLineAt = clock.elapsed();
    }
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
        ++lines;
        QCOMPARE(match.captured(1) == QLatin1String("0") && match.captured(2) == QLatin1String("0"), noTraffic);
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
