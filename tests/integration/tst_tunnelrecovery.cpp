#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "serviceinstall.h"
#include "testenvironment.h"
#include "testaccounts.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

const QString kDroppedStatus = QStringLiteral("连接已中断，请检查网络后重试。");
const QString kReconnectingStatus = QStringLiteral("连接已中断，正在重新连接...");
const QString kRestartLine = QStringLiteral("Restarting tunnel after a drop: node_id=");

} // namespace

// A connected tunnel that breaks (the engine ends, the check target stalls, the
// network goes), and the connection the client starts by itself at start:
// the development backend, quillet-servicectl, the service and the stand-in engine.
class TunnelRecoveryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void autoConnectAtStart_data();
    void autoConnectAtStart();
    void engineEnds_data();
    void engineEnds();
    void stalledProbeTwiceRestarts();
    void unreachableNetworkWaits();
    void threeFailedRestartsGiveUp();
    void loginEntryFollowsTheSetting();

private:
    std::unique_ptr<AppController> newController();
    void signIn(AppController &controller, const QString &email, const QString &password);
    void storeSession(const QString &email, const QString &password);
    bool connectAndWait(AppController &controller);
    QString logSinceStart() const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<ServiceInstall> m_install;
    qint64 m_logOffset = 0;
};

void TunnelRecoveryTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_install = std::make_unique<ServiceInstall>(m_env->path(QStringLiteral("install")), true);
    QVERIFY(m_install->isValid());
    qputenv("TARN_SINGBOX_BINARY", QUILLET_FAKE_ENGINE_PROGRAM);
    qputenv("QUILLET_SERVICECTL", m_install->servicectl().toLocal8Bit());
    qputenv("QUILLET_SERVICECTL_MODE", "user");
}

void TunnelRecoveryTest::cleanupTestCase()
{
    m_install.reset();
    for (const char *name : {"TARN_SINGBOX_BINARY", "QUILLET_SERVICECTL", "QUILLET_SERVICECTL_MODE", "TARN_API_BASE_URL",
                             "QUILLET_FAKE_ENGINE_EXIT_AFTER", "QUILLET_FAKE_ENGINE_FAIL_START"})
        qunsetenv(name);
}

void TunnelRecoveryTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    qunsetenv("QUILLET_FAKE_ENGINE_FAIL_START");
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    m_server->clearFaults();
    m_server->run([](DevServer &server) { server.setConnectivityOverride({}); });
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();
}

void TunnelRecoveryTest::cleanup()
{
    qunsetenv("QUILLET_FAKE_ENGINE_FAIL_START");
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    m_server->clearFaults();
    m_install->stopEverything();
}

std::unique_ptr<AppController> TunnelRecoveryTest::newController()
{
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(fastTimings());
    SingBoxProcessManager::Timings engine;
    engine.pollInterval = 200;
    engine.startPolls = 15;
    engine.adapterReleaseDelay = 100;
    controller->engineController()->setTimingsForTesting(engine);
    // Checks only when a test asks (or the network changes); short re-check and back-offs.
    controller->setHealthTimingsForTesting(600000, 300, {200, 200, 200});
    controller->setStartupRetryDelaysForTesting(300, 1200);
    return controller;
}

void TunnelRecoveryTest::signIn(AppController &controller, const QString &email, const QString &password)
{
    controller.signIn(email, password);
    QTRY_VERIFY_WITH_TIMEOUT(controller.loggedIn() && !controller.busy(), 15000);
}

void TunnelRecoveryTest::storeSession(const QString &email, const QString &password)
{
    auto first = newController();
    signIn(*first, email, password);
    QTRY_VERIFY_WITH_TIMEOUT(first->bootstrapReady(), 15000);
    QVERIFY(store().contains(QStringLiteral("session/token")));
}

bool TunnelRecoveryTest::connectAndWait(AppController &controller)
{
    controller.requestDashboardConnectionToggle();
    if (!QTest::qWaitFor([&] { return controller.vpnPhase() == QLatin1String("connected"); }, 40000))
        qWarning().noquote() << "phase" << controller.vpnPhase() << controller.statusText() << controller.apiError();
    return controller.vpnPhase() == QLatin1String("connected");
}

QString TunnelRecoveryTest::logSinceStart() const
{
    QFile file(DiagnosticLog::desktopDiagnosticLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    file.seek(qMin(m_logOffset, file.size()));
    return QString::fromUtf8(file.readAll());
}

void TunnelRecoveryTest::autoConnectAtStart_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("settingOn");
    QTest::addColumn<int>("bootstrapFaults");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("status");

    QTest::newRow("on") << "member" << true << 0 << true << QStringLiteral("已连接");
    QTest::newRow("off") << "member" << false << 0 << false << QStringLiteral("未连接");
    QTest::newRow("member-less: no dialog, the status says why")
        << "trial" << true << 0 << false << QStringLiteral("未购买套餐，未自动连接。");
    QTest::newRow("offline at start, then back: once") << "member" << true << 2 << true << QStringLiteral("已连接");
}

void TunnelRecoveryTest::autoConnectAtStart()
{
    QFETCH(QString, account);
    QFETCH(bool, settingOn);
    QFETCH(int, bootstrapFaults);
    QFETCH(bool, connects);
    QFETCH(QString, status);

    if (account == QLatin1String("trial"))
        storeSession(kTrialEmail, kTrialPassword);
    else
        storeSession(kMemberEmail, kMemberPassword);
    store().setValue(QStringLiteral("settings/auto_connect"), settingOn);
    if (bootstrapFaults > 0)
        m_server->setFault(QStringLiteral("/api/v1/bootstrap"), DevServer::Fault::withStatus(503, QString(), 100));

    auto controller = newController();
    QCOMPARE(controller->autoConnect(), settingOn);
    if (bootstrapFaults > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(controller->backendOffline(), 20000);
        QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
        // Another failed round, then the backend answers again.
        QSignalSpy retried(controller->startupRetryTimer(), &QTimer::timeout);
        QVERIFY(retried.wait(5000));
        QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
        m_server->clearFaults();
    }
    if (connects) {
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 60000);
        QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(controller->bootstrapReady(), 20000);
        QTest::qWait(1500);
        QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
        QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), status, 5000);
    QVERIFY(!controller->membershipDialogVisible());
    // Later successful bootstraps (a resync) never start a second one.
    QTest::qWait(500);
    const QString log = logSinceStart();
    QCOMPARE(int(log.count(QLatin1String("Auto-connect at start: "))), connects ? 1 : 0);
    QCOMPARE(int(log.count(QLatin1String("VPN connect request: "))), connects ? 1 : 0);

    // A second controller finds the tunnel running and leaves it alone.
    if (connects) {
        controller.reset();
        m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();
        auto second = newController();
        QTRY_VERIFY_WITH_TIMEOUT(second->autoConnectTried(), 20000);
        QVERIFY(logSinceStart().contains(QLatin1String("Auto-connect skipped: a tunnel is already running.")));
        QVERIFY(!logSinceStart().contains(QLatin1String("VPN connect request: ")));
        QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
    }
}

void TunnelRecoveryTest::engineEnds_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<bool>("serviceStopped");
    QTest::newRow("engine ends: restart, notify") << true << true << false;
    QTest::newRow("engine ends: restart, quiet") << true << false << false;
    QTest::newRow("engine ends: no restart, failed with the text") << false << true << false;
    QTest::newRow("service stopped from outside: restart") << true << true << true;
}

// Smart mode: the restart goes to the node that was connected, not to a new race.
void TunnelRecoveryTest::engineEnds()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, notify);
    QFETCH(bool, serviceStopped);
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->setSetting(QStringLiteral("reconnect_on_drop"), reconnect);
    controller->setSetting(QStringLiteral("notify_on_drop"), notify);
    QSignalSpy notifications(controller.get(), &AppController::trayNotificationRequested);
    QSignalSpy icon(controller.get(), &AppController::trayIconConnectedChanged);

    // Long enough for the whole connect with its probe on a loaded machine.
    if (!serviceStopped)
        qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "10");
    QVERIFY(connectAndWait(*controller));
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    QVERIFY(controller->trayIconConnected());
    const QString node = controller->selectedNodeId();
    QVERIFY(!node.isEmpty());
    QCOMPARE(controller->nodeSelectionMode(), QStringLiteral("smart"));
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();

    // The engine ends by itself a few seconds after it started, or someone stops the service.
    if (serviceStopped)
        QCOMPARE(m_install->control(QStringLiteral("stop")).exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(controller->vpnPhase() != QLatin1String("connected"), 20000);
    if (reconnect) {
        QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(kRestartLine + node), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 40000);
        QCOMPARE(controller->selectedNodeId(), node);
        QCOMPARE(controller->statusText(), QStringLiteral("已连接"));
        QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
        QTRY_VERIFY_WITH_TIMEOUT(!controller->tunnelRecoveryActive(), 2000);
        const QString log = logSinceStart();
        QCOMPARE(int(log.count(kRestartLine)), 1);
        QVERIFY2(log.contains(QStringLiteral("direct_node=true")), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("Tunnel restored: node_id=%1 after 1 restart(s).").arg(node)));
        QVERIFY(!controller->tunnelRecoveryActive());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("failed"), 20000);
        QCOMPARE(controller->statusText(), kDroppedStatus);
        QVERIFY(!logSinceStart().contains(kRestartLine));
    }
    QVERIFY(!controller->busy());
    QCOMPARE(notifications.size(), notify ? 1 : 0);
    if (notify) {
        QCOMPARE(notifications.first().at(0).toString(), QStringLiteral("岚舟"));
        QVERIFY(notifications.first().at(1).toString().contains(controller->currentNodeName()));
    }
    // Connected, then not, then (restarted) connected again.
    QCOMPARE(icon.size(), reconnect ? 3 : 2);
    QCOMPARE(controller->trayIconConnected(), reconnect);
}

void TunnelRecoveryTest::stalledProbeTwiceRestarts()
{
    m_server->run([](DevServer &server) { server.setConnectivityOverride({{QStringLiteral("probe_timeout_ms"), 1000}}); });
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy() && controller->selectedNodeId() == QLatin1String("hk-kowloon"), 5000);
    QVERIFY(connectAndWait(*controller));
    QSignalSpy notifications(controller.get(), &AppController::trayNotificationRequested);

    // A healthy check first: nothing happens.
    controller->runTunnelHealthCheck();
    QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
    QVERIFY(logSinceStart().contains(QLatin1String("control_api=true probe=true failures=0")));

    // The check target stalls past the probe's limit, for Qt and for curl, until the restart:
    // a fixed count of stalled requests could be used up by a resend on a slow machine.
    m_server->setFault(QStringLiteral("/generate_204"), DevServer::Fault::delayed(2500, 50));
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();
    controller->runTunnelHealthCheck();
    QVERIFY(logSinceStart().contains(QLatin1String("probe=false failures=1")));
    QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
    QVERIFY(!logSinceStart().contains(kRestartLine));
    // The re-check follows by itself a moment later, and the second failure restarts.
    QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(kRestartLine + QStringLiteral("hk-kowloon attempt=1/3")), 30000);
    m_server->clearFaults();
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 40000);
    QCOMPARE(controller->selectedNodeId(), QStringLiteral("hk-kowloon"));
    QCOMPARE(int(logSinceStart().count(kRestartLine)), 1);
    QCOMPARE(notifications.size(), 1);
}

void TunnelRecoveryTest::unreachableNetworkWaits()
{
    m_server->run([](DevServer &server) { server.setConnectivityOverride({{QStringLiteral("probe_timeout_ms"), 1000}}); });
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy() && controller->selectedNodeId() == QLatin1String("hk-kowloon"), 5000);
    qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "8");
    QVERIFY(connectAndWait(*controller));
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();

    // Offline: checks count nothing, even with a stalled target.
    controller->onNetworkStateChanged(false);
    m_server->setFault(QStringLiteral("/generate_204"), DevServer::Fault::delayed(2500, 4));
    controller->runTunnelHealthCheck();
    controller->runTunnelHealthCheck();
    QVERIFY(logSinceStart().contains(QLatin1String("Tunnel health check waits: the network is unreachable.")));
    m_server->clearFaults();

    // The engine ends meanwhile: the restart waits for the network.
    QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(QLatin1String("Tunnel restart waits: the network is unreachable.")), 20000);
    QTest::qWait(1000);
    QVERIFY(!logSinceStart().contains(kRestartLine));
    QCOMPARE(controller->vpnPhase(), QStringLiteral("connecting"));
    QCOMPARE(controller->statusText(), kReconnectingStatus);
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));

    controller->onNetworkStateChanged(true);
    QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(kRestartLine + QStringLiteral("hk-kowloon attempt=1/3")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 40000);
    QCOMPARE(int(logSinceStart().count(kRestartLine)), 1);
}

void TunnelRecoveryTest::threeFailedRestartsGiveUp()
{
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy() && controller->selectedNodeId() == QLatin1String("hk-kowloon"), 5000);
    QSignalSpy notifications(controller.get(), &AppController::trayNotificationRequested);
    qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "6");
    QVERIFY(connectAndWait(*controller));
    // Every start from now on fails.
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    qputenv("QUILLET_FAKE_ENGINE_FAIL_START", "1");
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();

    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), kDroppedStatus, 120000);
    QCOMPARE(controller->vpnPhase(), QStringLiteral("failed"));
    QCOMPARE(controller->apiError(), kDroppedStatus);
    QVERIFY(!controller->busy());
    QVERIFY(!controller->tunnelRecoveryActive());
    const QString log = logSinceStart();
    QCOMPARE(int(log.count(kRestartLine)), 3);
    for (int attempt = 1; attempt <= 3; ++attempt)
        QVERIFY(log.contains(kRestartLine + QStringLiteral("hk-kowloon attempt=%1/3").arg(attempt)));
    QVERIFY(log.contains(QLatin1String("Tunnel gave up (restart failed): restarts=3")));
    QCOMPARE(notifications.size(), 1);
    // Nothing more is tried.
    QTest::qWait(1000);
    QCOMPARE(int(logSinceStart().count(kRestartLine)), 3);
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
}

void TunnelRecoveryTest::loginEntryFollowsTheSetting()
{
    const QString entry = m_env->path(QStringLiteral("config/autostart/quillet-desktop.desktop"));
    QFile::remove(entry);
    auto controller = newController();
    QVERIFY(!controller->launchAtLogin());
    QSignalSpy changed(controller.get(), &AppController::settingsChanged);

    controller->setSetting(QStringLiteral("launch_at_login"), true);
    QVERIFY(controller->launchAtLogin());
    QCOMPARE(changed.size(), 1);
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    // The running program, by its absolute path.
    const QString exec = text.section(QStringLiteral("Exec="), 1).section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(exec.startsWith(QLatin1Char('/')) || exec.startsWith(QLatin1String("\"/")), qPrintable(exec));
    QVERIFY2(exec.endsWith(QLatin1String(" --minimized")), qPrintable(exec));
    QVERIFY(exec.contains(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
    QCOMPARE(store().value(QStringLiteral("settings/launch_at_login")).toBool(), true);

    // The same value again changes nothing.
    controller->setSetting(QStringLiteral("launch_at_login"), true);
    QCOMPARE(changed.size(), 1);

    // Kept across runs, as a switch (the store gives it back as text).
    controller.reset();
    controller = newController();
    QVERIFY(controller->launchAtLogin());
    QVERIFY(!controller->autoConnect());
    QVERIFY(controller->reconnectOnDrop());

    controller->setSetting(QStringLiteral("launch_at_login"), false);
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!controller->launchAtLogin());
}

QTEST_MAIN(TunnelRecoveryTest)
#include "tst_tunnelrecovery.moc"
