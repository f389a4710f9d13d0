#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "model/connectionrules.h"
#include "serviceinstall.h"
#include "testaccounts.h"
#include "testenvironment.h"
#include "tunnel/configrepository.h"
#include "tunnel/confignormalization.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSettings>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace TestSupport;

// What the client shows about the tunnel against what the service and the
// engine really do, over the whole local chain: the development backend,
// quillet-servicectl in user mode (behind a stand-in that can make it slow),
// the tunnel service and the stand-in engine.
class StateTruthTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void knownFaults_data();
    void knownFaults();
    void randomWalk_data();
    void randomWalk();

private:
    std::unique_ptr<AppController> newController();
    void signIn(AppController &controller, const QString &email = kMemberEmail,
                const QString &password = kMemberPassword);
    bool settle(AppController &controller, int timeoutMs = 60000);
    bool connectAndWait(AppController &controller);
    void pickFixed(AppController &controller, const QString &id);
    void setServiceDelay(int ms);
    QString engineMode() const;
    bool engineAnswers() const;
    qint64 enginePid() const;
    QByteArray activeConfig() const;
    // Empty when what the controller shows is true, else what is not.
    QString untruth(AppController &controller);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<ServiceInstall> m_install;
    QString m_delayFile;
};

namespace {

enum Fault {
    RestartReattaches = 1,
    FailedSwitchAfterCancel,
    NodePickedWhileVerifying,
    SlowQueryWhileConnected,
    ModeChosenWhileConnecting,
    ModeRememberedByEngine,
    EngineCheckFailureSaysSo,
    StatusLineKeepsOtherMessagesOut,
    MembershipStatusFollowsTrial,
};

bool transitional(const QString &phase)
{
    return phase == QLatin1String("connecting") || phase == QLatin1String("verifying")
        || phase == QLatin1String("disconnecting");
}

} // namespace

void StateTruthTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_install = std::make_unique<ServiceInstall>(m_env->path(QStringLiteral("install")), true);
    QVERIFY(m_install->isValid());
    m_delayFile = m_env->path(QStringLiteral("servicectl-delay"));
    setServiceDelay(0);
    qputenv("TARN_SINGBOX_BINARY", QUILLET_FAKE_ENGINE_PROGRAM);
    // The real service control, behind the stand-in that can hold its answers back.
    qputenv("QUILLET_SERVICECTL", QUILLET_FAKE_SERVICECTL_PROGRAM);
    qputenv("QUILLET_FAKE_SC_FORWARD", m_install->servicectl().toLocal8Bit());
    qputenv("QUILLET_FAKE_SC_DELAY_FILE", m_delayFile.toLocal8Bit());
    qputenv("QUILLET_SERVICECTL_MODE", "user");
}

void StateTruthTest::cleanupTestCase()
{
    m_install.reset();
    for (const char *name : {"TARN_SINGBOX_BINARY", "QUILLET_SERVICECTL", "QUILLET_SERVICECTL_MODE", "TARN_API_BASE_URL",
                             "QUILLET_FAKE_SC_FORWARD", "QUILLET_FAKE_SC_DELAY_FILE", "QUILLET_FAKE_ENGINE_HANG"})
        qunsetenv(name);
}

void StateTruthTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    qunsetenv("QUILLET_FAKE_ENGINE_HANG");
    setServiceDelay(0);
    m_server->clearFaults();
    m_server->run([](DevServer &server) {
        server.setConnectivityOverride({{QStringLiteral("probe_delay_ms"), 0}});
    });
    // Every test starts from an engine without memory of earlier runs.
    QFile::remove(ServiceInstall::sharedDataDirectory() + QStringLiteral("/runtime/cache.db"));
}

void StateTruthTest::cleanup()
{
    setServiceDelay(0);
    m_server->clearFaults();
    m_install->stopEverything();
}

std::unique_ptr<AppController> StateTruthTest::newController()
{
    auto controller = std::make_unique<AppController>();
    ApiTimings timings;
    timings.qtTimeoutMs = 2500;
    timings.jsonRetryDelayMs = 50;
    controller->setApiTimingsForTesting(timings);
    SingBoxProcessManager::Timings engine;
    engine.pollInterval = 100;
    engine.startPolls = 40;
    engine.adapterReleaseDelay = 50;
    engine.checkTimeout = 1500;
    controller->engineController()->setTimingsForTesting(engine);
    return controller;
}

void StateTruthTest::signIn(AppController &controller, const QString &email, const QString &password)
{
    controller.signIn(email, password);
    QTRY_VERIFY_WITH_TIMEOUT(controller.loggedIn() && !controller.busy(), 15000);
    settle(controller);
}

bool StateTruthTest::settle(AppController &controller, int timeoutMs)
{
    const bool settled = QTest::qWaitFor(
        [&] { return !controller.busy() && !transitional(controller.vpnPhase()) && !controller.workflowRunning(); },
        timeoutMs);
    // What a settled "connected" schedules (the engine's mode read back) runs on the next turns.
    QTest::qWait(50);
    return settled
        && QTest::qWaitFor([&] { return !controller.busy() && !transitional(controller.vpnPhase()); }, timeoutMs);
}

bool StateTruthTest::connectAndWait(AppController &controller)
{
    controller.requestDashboardConnectionToggle();
    settle(controller);
    if (controller.vpnPhase() != QLatin1String("connected"))
        qWarning().noquote() << "phase" << controller.vpnPhase() << controller.statusText() << controller.apiError();
    return controller.vpnPhase() == QLatin1String("connected");
}

void StateTruthTest::pickFixed(AppController &controller, const QString &id)
{
    controller.selectNodeWithMode(id, QStringLiteral("fixed"));
    (void)QTest::qWaitFor([&] { return !controller.busy() && controller.selectedNodeId() == id; }, 8000);
    settle(controller);
}

void StateTruthTest::setServiceDelay(int ms)
{
    QFile file(m_delayFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(ms));
}

QByteArray StateTruthTest::activeConfig() const
{
    QFile file(TunnelConfig::activeConfigPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString StateTruthTest::engineMode() const
{
    const QVariantMap api = TunnelConfig::clashApiSettingsFromConfig(activeConfig());
    const ServiceInstall::HttpAnswer answer = ServiceInstall::httpGet(
        quint16(QUrl(api.value(QStringLiteral("url")).toString()).port()), "/configs",
        api.value(QStringLiteral("secret")).toString().toUtf8());
    return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("mode")).toString();
}

bool StateTruthTest::engineAnswers() const
{
    const QVariantMap api = TunnelConfig::clashApiSettingsFromConfig(activeConfig());
    return ServiceInstall::httpGet(quint16(QUrl(api.value(QStringLiteral("url")).toString()).port()), "/version",
                                   api.value(QStringLiteral("secret")).toString().toUtf8())
               .status
        == 200;
}

qint64 StateTruthTest::enginePid() const
{
    const qint64 service = m_install->recordedPid();
    if (service <= 0)
        return 0;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(service));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    return children.readAll().trimmed().split(' ').value(0).toLongLong();
}

QString StateTruthTest::untruth(AppController &controller)
{
    const QString phase = controller.vpnPhase();
    const QString state = m_install->state();
    if (transitional(phase) && !controller.workflowRunning())
        return QStringLiteral("phase %1 with no workflow").arg(phase);
    if (phase == QLatin1String("connected")) {
        if (state != QLatin1String("RUNNING"))
            return QStringLiteral("connected while the service is %1").arg(state);
        if (!engineAnswers())
            return QStringLiteral("connected while the engine does not answer");
        const QString shown = controller.selectedNodeId();
        if (controller.connectedNodeId() != shown || !ConnectionRules::configNamesNode(activeConfig(), shown))
            return QStringLiteral("connected on %1 while the engine runs %2").arg(shown, controller.connectedNodeId());
        const QString wanted = ConnectionRules::runtimeClashModeForRoutingMode(
            controller.localSettings().value(QStringLiteral("routingMode")).toString());
        const QString mode = engineMode();
        if (mode.compare(wanted, Qt::CaseInsensitive) != 0)
            return QStringLiteral("engine mode %1 while the setting says %2").arg(mode, wanted);
    }
    if ((phase == QLatin1String("disconnected") || phase == QLatin1String("failed")) && state == QLatin1String("RUNNING"))
        return QStringLiteral("%1 while the service runs").arg(phase);
    return QString();
}

// --- each fault users met, as a row ----------------------------------------------------

void StateTruthTest::knownFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("restart with the tunnel up re-attaches") << int(RestartReattaches);
    QTest::newRow("failed switch after a cancel is not connected") << int(FailedSwitchAfterCancel);
    QTest::newRow("node picked while verifying is used") << int(NodePickedWhileVerifying);
    QTest::newRow("slow service query keeps connected") << int(SlowQueryWhileConnected);
    QTest::newRow("mode chosen while connecting is applied") << int(ModeChosenWhileConnecting);
    QTest::newRow("mode remembered by the engine is corrected") << int(ModeRememberedByEngine);
    QTest::newRow("check failure says so") << int(EngineCheckFailureSaysSo);
    QTest::newRow("status line keeps other messages out") << int(StatusLineKeepsOtherMessagesOut);
    QTest::newRow("status line follows the trial") << int(MembershipStatusFollowsTrial);
}

void StateTruthTest::knownFaults()
{
    QFETCH(int, fault);
    auto controller = newController();
    const bool trial = fault == MembershipStatusFollowsTrial;
    signIn(*controller, trial ? kTrialEmail : kMemberEmail, trial ? kTrialPassword : kMemberPassword);

    switch (fault) {
    case RestartReattaches: {
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        QVERIFY(connectAndWait(*controller));
        controller.reset(); // as the tray's exit: the tunnel stays with the service
        QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
        controller = newController();
        QTRY_VERIFY_WITH_TIMEOUT(controller->startupReattachDone(), 30000);
        QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
        QCOMPARE(controller->connectedNodeId(), QStringLiteral("hk-kowloon"));
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("已连接"));
        QVERIFY(untruth(*controller).isEmpty());
        // One press disconnects.
        controller->requestDashboardConnectionToggle();
        QVERIFY(settle(*controller));
        QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
        QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
        break;
    }
    case FailedSwitchAfterCancel: {
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        QVERIFY(connectAndWait(*controller));
        // The refusal arrives after the press that cancels the switch.
        m_server->setFault(QStringLiteral("/api/v1/nodes/select"), DevServer::Fault::withStatus(503, QString(), 4));
        controller->selectNodeWithMode(QStringLiteral("hk-shatin"), QStringLiteral("fixed"));
        QCOMPARE(controller->vpnPhase(), QStringLiteral("connecting"));
        controller->requestDashboardConnectionToggle();
        // The refusal puts the previous node back.
        QTRY_COMPARE_WITH_TIMEOUT(controller->selectedNodeId(), QStringLiteral("hk-kowloon"), 20000);
        QVERIFY(settle(*controller));
        QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
        QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
        break;
    }
    case NodePickedWhileVerifying: {
        // A slow check target keeps "verifying" long enough to pick; the server
        // confirms the pick only after "connected".
        m_server->setFault(QStringLiteral("/generate_204"), DevServer::Fault::delayed(1200, 3));
        controller->requestDashboardConnectionToggle();
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("verifying"), 30000);
        const QString target = controller->selectedNodeId() == QLatin1String("hk-shatin") ? QStringLiteral("hk-kowloon")
                                                                                           : QStringLiteral("hk-shatin");
        m_server->setFault(QStringLiteral("/api/v1/nodes/select"), DevServer::Fault::delayed(2000, 1));
        controller->selectNodeWithMode(target, QStringLiteral("smart"));
        QTRY_VERIFY_WITH_TIMEOUT(controller->vpnPhase() == QLatin1String("connected")
                                     && controller->connectedNodeId() == target && !controller->busy(),
                                 40000);
        QVERIFY(settle(*controller));
        QVERIFY2(ConnectionRules::configNamesNode(activeConfig(), target), qPrintable(target));
        break;
    }
    case SlowQueryWhileConnected: {
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        QVERIFY(connectAndWait(*controller));
        setServiceDelay(2000);
        for (int i = 0; i < 2; ++i)
            controller->engineController()->refreshRunning();
        setServiceDelay(0);
        QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
        QVERIFY(controller->engineController()->cachedRunning());
        break;
    }
    case ModeChosenWhileConnecting: {
        controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("smart"));
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        controller->requestDashboardConnectionToggle();
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connecting"), 10000);
        controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("global"));
        QVERIFY(settle(*controller));
        QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
        QTRY_COMPARE_WITH_TIMEOUT(engineMode(), QStringLiteral("Global"), 10000);
        break;
    }
    case ModeRememberedByEngine: {
        controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("smart"));
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        QVERIFY(connectAndWait(*controller));
        controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("global"));
        QTRY_COMPARE_WITH_TIMEOUT(engineMode(), QStringLiteral("Global"), 10000);
        controller->requestDashboardConnectionToggle();
        QVERIFY(settle(*controller));
        controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("smart"));
        // The engine starts in the mode of its last run; the client puts it right.
        QVERIFY(connectAndWait(*controller));
        QTRY_COMPARE_WITH_TIMEOUT(engineMode(), QStringLiteral("Rule"), 10000);
        break;
    }
    case EngineCheckFailureSaysSo: {
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        qputenv("QUILLET_FAKE_ENGINE_HANG", "check");
        controller->requestDashboardConnectionToggle();
        QVERIFY(settle(*controller));
        qunsetenv("QUILLET_FAKE_ENGINE_HANG");
        QCOMPARE(controller->vpnPhase(), QStringLiteral("failed"));
        QCOMPARE(controller->apiError(), QStringLiteral("sing-box 配置校验超时：校验进程超过 8 秒没有完成。"));
        break;
    }
    case StatusLineKeepsOtherMessagesOut: {
        controller->setStatusText(QStringLiteral("测速完成"));
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("未连接"));
        controller->setStatusText(QStringLiteral("订单已取消。"));
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("未连接"));
        pickFixed(*controller, QStringLiteral("hk-kowloon"));
        QVERIFY(connectAndWait(*controller));
        controller->setStatusText(QStringLiteral("测速完成"));
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("已连接"));
        break;
    }
    case MembershipStatusFollowsTrial: {
        controller->requestDashboardConnectionToggle();
        QVERIFY(settle(*controller));
        QCOMPARE(controller->statusText(), QStringLiteral("未购买套餐"));
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("未购买套餐"));
        controller->claimDailyTrial();
        QTRY_VERIFY_WITH_TIMEOUT(controller->hasActiveMembership(), 10000);
        QCOMPARE(controller->connectionStatusText(), QStringLiteral("未连接"));
        break;
    }
    }
    const QString wrong = untruth(*controller);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

// --- a seeded random walk over everything a user and the machine may do -------------------

void StateTruthTest::randomWalk_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");
    bool ok = false;
    const int steps = qEnvironmentVariableIntValue("QUILLET_STATETRUTH_STEPS", &ok);
    const quint32 seed = quint32(qEnvironmentVariable("QUILLET_STATETRUTH_SEED").toUInt(&ok));
    if (ok) {
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed << (steps > 0 ? steps : 200);
        return;
    }
    // Three seeds within about three minutes on a loaded two-core machine.
    const int suiteSteps = steps > 0 ? steps : 60;
    for (quint32 fixed : {20251u, 7u, 90210u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(fixed))) << fixed << suiteSteps;
}

void StateTruthTest::randomWalk()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    QRandomGenerator random(seed);
    auto controller = newController();
    signIn(*controller);
    QStringList done;
    const QStringList nodes{QStringLiteral("hk-kowloon"), QStringLiteral("hk-shatin")};

    for (int step = 0; step < steps; ++step) {
        const int roll = int(random.bounded(100));
        QString action;
        if (roll < 24) {
            action = QStringLiteral("press");
            controller->requestDashboardConnectionToggle();
        } else if (roll < 32) {
            action = QStringLiteral("press, then cancel");
            controller->requestDashboardConnectionToggle();
            QTest::qWait(int(random.bounded(1500)));
            if (transitional(controller->vpnPhase()))
                controller->requestDashboardConnectionToggle();
        } else if (roll < 44) {
            const QString id = nodes.at(int(random.bounded(int(nodes.size()))));
            const QString mode = random.bounded(2) ? QStringLiteral("fixed") : QStringLiteral("smart");
            action = QStringLiteral("pick %1 %2").arg(id, mode);
            controller->selectNodeWithMode(id, mode);
        } else if (roll < 54) {
            const QString mode = random.bounded(2) ? QStringLiteral("global") : QStringLiteral("smart");
            action = QStringLiteral("routing mode %1").arg(mode);
            controller->setSetting(QStringLiteral("routingMode"), mode);
        } else if (roll < 59) {
            action = QStringLiteral("sign out and in");
            controller->signOut();
            settle(*controller);
            signIn(*controller);
        } else if (roll < 67) {
            action = QStringLiteral("restart the client");
            controller.reset();
            controller = newController();
            (void)QTest::qWaitFor([&] { return controller->startupReattachDone(); }, 30000);
        } else if (roll < 73) {
            const qint64 pid = enginePid();
            action = QStringLiteral("kill the engine (%1)").arg(pid);
            if (pid > 0) {
                ::kill(pid_t(pid), SIGKILL);
                // The client finds out from its next look at the service.
                (void)QTest::qWaitFor([&] { return m_install->state() != QLatin1String("RUNNING"); }, 5000);
                (void)QTest::qWaitFor([&] { return controller->vpnPhase() != QLatin1String("connected"); }, 8000);
            }
        } else if (roll < 81) {
            const bool slow = random.bounded(2);
            action = slow ? QStringLiteral("slow node selection, then pick") : QStringLiteral("failing node selection, then pick");
            m_server->setFault(QStringLiteral("/api/v1/nodes/select"),
                               slow ? DevServer::Fault::delayed(1500, 1) : DevServer::Fault::withStatus(503, QString(), 1));
            controller->selectNodeWithMode(nodes.at(int(random.bounded(int(nodes.size())))),
                                           random.bounded(2) ? QStringLiteral("fixed") : QStringLiteral("smart"));
        } else if (roll < 89) {
            const bool slow = random.bounded(2);
            action = slow ? QStringLiteral("slow config fetch, then press") : QStringLiteral("failing config fetch, then press");
            m_server->setFault(QStringLiteral("/api/v1/config/singbox"),
                               slow ? DevServer::Fault::delayed(1500, 1) : DevServer::Fault::withStatus(503, QString(), 2));
            controller->requestDashboardConnectionToggle();
        } else {
            action = QStringLiteral("slow service control while %1").arg(controller->vpnPhase());
            // One answer slower than the client waits for: it tells nothing.
            setServiceDelay(1500);
            controller->engineController()->refreshRunning();
            setServiceDelay(0);
            if (random.bounded(2))
                controller->requestDashboardConnectionToggle();
        }
        const bool settled = settle(*controller);
        setServiceDelay(0);
        m_server->clearFaults();
        done << QStringLiteral("%1: %2 -> %3").arg(step).arg(action, controller->vpnPhase());
        QString wrong = settled ? untruth(*controller) : QStringLiteral("did not settle: %1").arg(controller->vpnPhase());
        if (!wrong.isEmpty()) {
            // The engine's mode is read back right after "connected": give it a moment.
            QTest::qWait(1500);
            wrong = settled ? untruth(*controller) : wrong;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("seed %1, step %2: %3\n(set QUILLET_STATETRUTH_SEED=%1 to "
                                                            "replay)\n%4")
                                                 .arg(seed)
                                                 .arg(step)
                                                 .arg(wrong, done.mid(qMax<qsizetype>(0, done.size() - 12)).join('\n'))));
    }
}

QTEST_GUILESS_MAIN(StateTruthTest)
#include "tst_statetruth.moc"
