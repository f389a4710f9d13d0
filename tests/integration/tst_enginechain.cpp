#include "serviceinstall.h"
#include "testenvironment.h"
#include "tunnel/confignormalization.h"
#include "tunnel/configrepository.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QFile>
#include <QSignalSpy>
#include <QUrl>
#include <QUuid>
#include <QtTest>

// The whole road of a connection on this machine: the client writes the
// server's configuration into the shared data directory, the engine controller
// checks it with the engine and starts the service through quillet-servicectl,
// the service runs the engine, whose control API answers; stop brings it all
// down and the three logs tell what happened.
class EngineChainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void connectAndDisconnect();

private:
    static QByteArray fileText(const QString &path);

    TestEnvironment m_env;
    QScopedPointer<ServiceInstall> m_install;
    QString m_sourceDir;
};

QByteArray EngineChainTest::fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void EngineChainTest::initTestCase()
{
    m_sourceDir = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (m_sourceDir.isEmpty())
        m_sourceDir = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    // As the run command sets it up without the real engine: no bin/sing-box,
    // the stand-in named through TARN_SINGBOX_BINARY for the client and the service.
    m_install.reset(new ServiceInstall(m_env.path(QStringLiteral("install")), false));
    QVERIFY(m_install->isValid());
    qputenv("TARN_SINGBOX_BINARY", QUILLET_FAKE_ENGINE_PROGRAM);
    qputenv("QUILLET_SERVICECTL", m_install->servicectl().toLocal8Bit());
    qputenv("QUILLET_SERVICECTL_MODE", "user");
}

void EngineChainTest::cleanupTestCase()
{
    m_install.reset();
    for (const char *name : {"TARN_SINGBOX_BINARY", "QUILLET_SERVICECTL", "QUILLET_SERVICECTL_MODE"})
        qunsetenv(name);
}

void EngineChainTest::connectAndDisconnect()
{
    // 1. The server's document for a node, written by the client as the active configuration.
    const quint16 port = ServiceInstall::freePort();
    const QString secret = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QByteArray server = fileText(m_sourceDir + QStringLiteral("/tests/data/server_config_template_smart.json"));
    QVERIFY(!server.isEmpty());
    server.replace("\"{{SERVER_PORT}}\"", "8388")
        .replace("{{NODE_ID}}", "hk-01")
        .replace("{{SERVER_HOST}}", "127.0.0.1")
        .replace("{{PASSWORD}}", "bXktdGVzdC1rZXktMTIzNA==")
        .replace("{{CONTROLLER_ADDRESS}}", "127.0.0.1:" + QByteArray::number(port))
        .replace("{{SECRET}}", secret.toUtf8());
    ConfigRepository repository;
    const QString configPath = repository.writeRemoteConfig(server);
    QCOMPARE(configPath, TunnelConfig::activeConfigPath());
    QVERIFY(configPath.startsWith(m_env.programData()));

    // 2. Check and start.
    SingBoxProcessManager manager;
    QSignalSpy runningChanged(&manager, &SingBoxProcessManager::runningChanged);
    QVERIFY2(manager.start(configPath), qPrintable(manager.lastError() + QLatin1Char('\n') + manager.recentLog()));
    QVERIFY(manager.lastError().isEmpty());
    QVERIFY(manager.running());
    QCOMPARE(runningChanged.count(), 1);
    QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));

    // 3. The engine's control API, found the way the client finds it.
    const QVariantMap api = TunnelConfig::clashApiSettingsFromConfig(fileText(configPath));
    QCOMPARE(api.value(QStringLiteral("secret")).toString(), secret);
    QCOMPARE(QUrl(api.value(QStringLiteral("url")).toString()).port(), int(port));
    ServiceInstall::HttpAnswer version;
    QTRY_VERIFY_WITH_TIMEOUT(
        (version = ServiceInstall::httpGet(port, "/version", secret.toUtf8())).status == 200, 5000);
    QVERIFY(version.body.startsWith("{\"version\":\"sing-box "));
    const ServiceInstall::HttpAnswer configs = ServiceInstall::httpGet(port, "/configs", secret.toUtf8());
    QCOMPARE(configs.status, 200);
    QVERIFY(configs.body.contains("\"mode\":\"Rule\""));
    QCOMPARE(ServiceInstall::httpGet(port, "/version", QByteArray()).status, 401);

    // 4. Stop: the service and the engine are gone.
    manager.stop();
    QVERIFY(!manager.running());
    QCOMPARE(runningChanged.count(), 2);
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    QCOMPARE(ServiceInstall::httpGet(port, "/version", secret.toUtf8()).status, 0);

    // 5. The logs.
    const QString serviceLog = m_install->serviceLog();
    QVERIFY2(serviceLog.contains(QStringLiteral("] started sing-box with config: %1\n").arg(configPath)),
        qPrintable(serviceLog));
    QVERIFY2(serviceLog.endsWith(QLatin1String("] stopped sing-box\n")), qPrintable(serviceLog));
    QVERIFY2(m_install->engineLog().contains(QLatin1String("[0000] sing-box started (0.01s)")),
        qPrintable(m_install->engineLogPath() + QLatin1Char('\n') + m_install->engineLog() + serviceLog));
    const QString clientLog = QString::fromUtf8(fileText(DiagnosticLog::desktopDiagnosticLogPath()));
    for (const QString &line : {QStringLiteral("VPN start requested. config=%1 runningBefore=false\n").arg(configPath),
             QStringLiteral("Config preflight. exists=true size=%1 binary=%2\n")
                 .arg(QFileInfo(configPath).size())
                 .arg(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM)),
             QStringLiteral("Started Windows system VPN service with %1\n").arg(configPath),
             QStringLiteral("VPN stop requested. runningBefore=true\n"),
             QStringLiteral("Stopped Windows system VPN service\n")})
        QVERIFY2(clientLog.contains(line), qPrintable(line));
}

QTEST_GUILESS_MAIN(EngineChainTest)
#include "tst_enginechain.moc"
