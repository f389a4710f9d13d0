#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "scriptedhttpserver.h"
#include "serviceinstall.h"
#include "testenvironment.h"
#include "testaccounts.h"
#include "tunnel/confignormalization.h"
#include "tunnel/configrepository.h"
#include "tunnel/connectivityprobe.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace TestSupport;

// The connect button's whole road on this machine: the development backend,
// quillet-servicectl in user mode, the tunnel service and the stand-in engine.
class ConnectFlowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void fixedNodeConnectsWithoutProbe();
    void smartModeVerifiesThenConnects();
    void candidateFallback_data();
    void candidateFallback();
    void cancelEndsDisconnected_data();
    void cancelEndsDisconnected();
    void guardEndsStalledProbe();
    void gates_data();
    void gates();
    void routingModeSwitchesInPlace();
    void routingModeWithoutWorkingControlApi_data();
    void routingModeWithoutWorkingControlApi();
    void nodeChangeRestartsToThatNode();
    void curlProbe();

private:
    std::unique_ptr<AppController> newController();
    void signIn(AppController &controller, const QString &email, const QString &password);
    bool connectAndWait(AppController &controller, const QString &phase = QStringLiteral("connected"));
    QString logSinceStart() const;
    QVariantMap runningApi() const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<ServiceInstall> m_install;
    qint64 m_logOffset = 0;
};

void ConnectFlowTest::initTestCase()
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

void ConnectFlowTest::cleanupTestCase()
{
    m_install.reset();
    for (const char *name : {"TARN_SINGBOX_BINARY", "QUILLET_SERVICECTL", "QUILLET_SERVICECTL_MODE", "TARN_API_BASE_URL"})
        qunsetenv(name);
}

void ConnectFlowTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    qunsetenv("QUILLET_FAKE_ENGINE_FAIL_START");
    m_server->clearFaults();
    m_server->run([](DevServer &server) { server.setConnectivityOverride({}); });
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();
}

void ConnectFlowTest::cleanup()
{
    m_server->clearFaults();
    m_install->stopEverything();
}

std::unique_ptr<AppController> ConnectFlowTest::newController()
{
    auto controller = std::make_unique<AppController>();
    ApiTimings timings;
    timings.qtTimeoutMs = 4000;
    timings.jsonRetryDelayMs = 50;
    controller->setApiTimingsForTesting(timings);
    SingBoxProcessManager::Timings engine;
    engine.pollInterval = 200;
    engine.startPolls = 15;
    engine.adapterReleaseDelay = 100;
    controller->engineController()->setTimingsForTesting(engine);
    return controller;
}

void ConnectFlowTest::signIn(AppController &controller, const QString &email, const QString &password)
{
    controller.signIn(email, password);
    QTRY_VERIFY_WITH_TIMEOUT(controller.loggedIn() && !controller.busy(), 15000);
}

bool ConnectFlowTest::connectAndWait(AppController &controller, const QString &phase)
{
    controller.requestDashboardConnectionToggle();
    if (!QTest::qWaitFor([&] { return controller.vpnPhase() == phase; }, 40000))
        qWarning().noquote() << "phase" << controller.vpnPhase() << controller.statusText() << controller.apiError();
    return controller.vpnPhase() == phase;
}

QString ConnectFlowTest::logSinceStart() const
{
    QFile file(DiagnosticLog::desktopDiagnosticLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    file.seek(qMin(m_logOffset, file.size()));
    return QString::fromUtf8(file.readAll());
}

QVariantMap ConnectFlowTest::runningApi() const
{
    QFile file(TunnelConfig::activeConfigPath());
    return file.open(QIODevice::ReadOnly) ? TunnelConfig::clashApiSettingsFromConfig(file.readAll()) : QVariantMap();
}

void ConnectFlowTest::fixedNodeConnectsWithoutProbe()
{
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy() && controller->selectedNodeId() == QLatin1String("hk-kowloon"), 5000);

    QVERIFY(connectAndWait(*controller));
    QVERIFY(!controller->busy());
    QCOMPARE(controller->statusText(), QStringLiteral("已连接"));
    QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
    QString log = logSinceStart();
    QVERIFY2(log.contains(QLatin1String("Direct node connection confirmed: node_id=hk-kowloon skip_probe=true "
                                        "runtime_ready=true")), qPrintable(log));
    QVERIFY(!log.contains(QLatin1String("Connectivity probe started")));
    // The engine runs the document the server gave for this node.
    QFile active(TunnelConfig::activeConfigPath());
    QVERIFY(active.open(QIODevice::ReadOnly));
    QVERIFY(active.readAll().contains("\"hk-kowloon\""));

    controller->requestDashboardConnectionToggle();
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("disconnected"), 15000);
    QCOMPARE(controller->statusText(), QStringLiteral("未连接"));
    QVERIFY(!controller->busy());
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    log = logSinceStart();
    QVERIFY(log.contains(QLatin1String("Stopping VPN: user requested disconnect from dashboard.\n")));
}

void ConnectFlowTest::smartModeVerifiesThenConnects()
{
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    QVERIFY(controller->nodeSelectionMode() != QLatin1String("fixed"));
    QStringList phases;
    connect(controller.get(), &AppController::vpnPhaseChanged, this,
        [&phases, &controller] { phases << controller->vpnPhase(); });

    QVERIFY(connectAndWait(*controller));
    QCOMPARE(phases, (QStringList{QStringLiteral("connecting"), QStringLiteral("verifying"), QStringLiteral("connected")}));
    const QString log = logSinceStart();
    QVERIFY2(log.contains(QLatin1String("Connectivity probe passed through Qt network stack: 3/3.")), qPrintable(log));
    QVERIFY(log.contains(QLatin1String("Connectivity probe confirmed connection: node_id=")));

    controller->requestDashboardConnectionToggle();
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("disconnected"), 15000);
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
}

void ConnectFlowTest::candidateFallback_data()
{
    QTest::addColumn<bool>("allFail");
    QTest::newRow("first fails, next connects") << false;
    QTest::newRow("all fail") << true;
}

void ConnectFlowTest::candidateFallback()
{
    QFETCH(bool, allFail);
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    const QVariantList candidates = controller->connectionCandidates();
    QVERIFY(candidates.size() >= 2);
    // Which node the latency race tries first is a matter of timing: the stand-in
    // fails its first start, whichever node that is for, or every start.
    QTemporaryDir markerDir;
    QVERIFY(markerDir.isValid());
    qputenv("QUILLET_FAKE_ENGINE_FAIL_START",
            allFail ? QByteArray("proxy") : "once:" + markerDir.filePath(QStringLiteral("failed")).toUtf8());

    QVERIFY(connectAndWait(*controller, allFail ? QStringLiteral("failed") : QStringLiteral("connected")));
    const QString log = logSinceStart();
    const int failures = int(log.count(QLatin1String("Candidate node failed: ")));
    if (allFail) {
        QCOMPARE(failures, int(candidates.size()));
        QCOMPARE(controller->statusText(), QStringLiteral("连接失败"));
        QVERIFY(!controller->apiError().isEmpty());
        QVERIFY(log.contains(QStringLiteral("attempt=%1/%1").arg(candidates.size())));
        QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    } else {
        QVERIFY2(failures == 1, qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("attempt=2/%1").arg(candidates.size())));
        QCOMPARE(m_install->state(), QStringLiteral("RUNNING"));
    }
    QVERIFY(!controller->busy());
}

void ConnectFlowTest::cancelEndsDisconnected_data()
{
    QTest::addColumn<QString>("cancelIn");
    QTest::newRow("connecting") << QStringLiteral("connecting");
    QTest::newRow("verifying, probe in flight") << QStringLiteral("verifying");
}

void ConnectFlowTest::cancelEndsDisconnected()
{
    QFETCH(QString, cancelIn);
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    // A slow check target keeps the probe in flight while the user cancels.
    m_server->setFault(QStringLiteral("/generate_204"), DevServer::Fault::delayed(2500, 3));
    const QString logPath = DiagnosticLog::desktopDiagnosticLogPath();

    // The probe runs in a nested loop: the cancel comes from a timer, as a click would.
    QTimer clicker;
    clicker.setInterval(20);
    connect(&clicker, &QTimer::timeout, this, [&] {
        const bool ready = cancelIn == QLatin1String("connecting")
            ? controller->vpnPhase() == QLatin1String("connecting")
            : controller->vpnPhase() == QLatin1String("verifying")
                && logSinceStart().contains(QLatin1String("Connectivity probe started"));
        if (!ready)
            return;
        clicker.stop();
        controller->requestDashboardConnectionToggle();
    });
    clicker.start();
    controller->requestDashboardConnectionToggle();
    QTRY_VERIFY_WITH_TIMEOUT(!clicker.isActive(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("disconnected"), 20000);
    // Whatever of the old chain was still running lands nowhere.
    QTest::qWait(3500);
    QCOMPARE(controller->vpnPhase(), QStringLiteral("disconnected"));
    QVERIFY(!controller->busy());
    QVERIFY(logSinceStart().contains(QLatin1String("Stopping VPN: user cancelled connection workflow from dashboard.")));
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    Q_UNUSED(logPath);
}

void ConnectFlowTest::guardEndsStalledProbe()
{
    // The shortest guard (15 s) against check targets that never answer in time.
    m_server->run([](DevServer &server) {
        server.setConnectivityOverride({{QStringLiteral("connect_timeout_ms"), 1000},
            {QStringLiteral("probe_timeout_ms"), 15000}, {QStringLiteral("probe_delay_ms"), 0}});
    });
    m_server->setFault(QStringLiteral("/generate_204"), DevServer::Fault::delayed(30000, 6));
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(connectAndWait(*controller, QStringLiteral("failed")));
    QVERIFY2(clock.elapsed() >= 14000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(controller->apiError(), QStringLiteral("连接超时，请检查网络后重试。"));
    QVERIFY(logSinceStart().contains(QLatin1String("VPN connect timed out: workflow=")));
    QTest::qWait(500);
    QCOMPARE(controller->vpnPhase(), QStringLiteral("failed"));
    QCOMPARE(m_install->state(), QStringLiteral("STOPPED"));
    m_server->clearFaults();
}

void ConnectFlowTest::gates_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<int>("bootstrapFaults");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("signed out") << QString() << 0 << "failed" << "需要登录" << "请先登录，再启动 VPN 连接。";
    QTest::newRow("no membership") << "trial" << 0 << "failed" << "未购买套餐"
                                   << "您还未购买套餐，请前往购买套餐，或者邀请好友可赠送时长。";
    QTest::newRow("expired plan") << "expired" << 0 << "failed" << "会员已过期"
                                  << "当前套餐已过期，请先续费后继续连接。也可以通过邀请好友获得额外时长。";
    QTest::newRow("bootstrap synced first") << "member" << 1 << "connected" << "已连接" << QString();
    QTest::newRow("bootstrap fails") << "member" << 2 << "failed" << "同步失败"
                                     << "节点和连接参数同步失败，请检查网络后重试。";
}

void ConnectFlowTest::gates()
{
    QFETCH(QString, account);
    QFETCH(int, bootstrapFaults);
    QFETCH(QString, phase);
    QFETCH(QString, status);
    QFETCH(QString, message);

    if (account == QLatin1String("expired")) {
        m_server->run([](DevServer &server) {
            const auto trial = server.store().accountByEmail(QStringLiteral("trial@quillet.dev"));
            server.store().setMembership(
                trial->id, QStringLiteral("monthly"), QStringLiteral("月付"), server.store().now().addDays(-3));
        });
    }
    // 1: the sign-in's catalogue fails and the connect press loads it; 2: it keeps failing.
    if (bootstrapFaults > 0)
        m_server->setFault(QStringLiteral("/api/v1/bootstrap"), DevServer::Fault::withStatus(503, QString(), 100));
    auto controller = newController();
    if (account == QLatin1String("member"))
        signIn(*controller, kMemberEmail, kMemberPassword);
    else if (!account.isEmpty())
        signIn(*controller, kTrialEmail, kTrialPassword);
    if (bootstrapFaults == 1)
        m_server->clearFaults();
    QCOMPARE(controller->bootstrapReady(), bootstrapFaults == 0 && !account.isEmpty());

    QVERIFY(connectAndWait(*controller, phase));
    QCOMPARE(controller->statusText(), status);
    QVERIFY(!controller->busy());
    if (account == QLatin1String("trial") || account == QLatin1String("expired")) {
        QVERIFY(controller->membershipDialogVisible());
        QCOMPARE(controller->membershipDialogMessage(), message);
    } else {
        QCOMPARE(controller->apiError(), message);
    }
    if (account.isEmpty())
        QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
    if (bootstrapFaults == 1)
        QVERIFY(logSinceStart().contains(QStringLiteral("VPN phase update: phase=connecting; status=正在同步节点和连接参数...")));
    if (account == QLatin1String("expired")) {
        m_server->run([](DevServer &server) {
            const auto trial = server.store().accountByEmail(QStringLiteral("trial@quillet.dev"));
            server.store().setMembership(trial->id, QString(), QString(), QDateTime());
        });
    }
}

void ConnectFlowTest::routingModeSwitchesInPlace()
{
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 5000);
    QVERIFY(connectAndWait(*controller));
    const quint64 token = controller->workflowGeneration();

    controller->setPreference(QStringLiteral("network"), QStringLiteral("routing_mode"), QStringLiteral("global"));
    QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(QLatin1String("Runtime routing mode sync applied: clash_mode=global")), 10000);
    const QString log = logSinceStart();
    QCOMPARE(log.count(QLatin1String("Runtime clash mode sync response: method=")), 1);
    QVERIFY(log.contains(QLatin1String("method=PATCH; auth=yes; status=204; ok=true")));
    QVERIFY(!log.contains(QLatin1String("Restarting tunnel")));
    QCOMPARE(controller->workflowGeneration(), token);
    QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));

    // The engine itself now routes globally.
    const QVariantMap api = runningApi();
    const ServiceInstall::HttpAnswer configs = ServiceInstall::httpGet(
        quint16(QUrl(api.value(QStringLiteral("url")).toString()).port()), "/configs",
        api.value(QStringLiteral("secret")).toString().toUtf8());
    QVERIFY2(configs.body.contains("\"mode\":\"Global\""), configs.body.constData());
}

void ConnectFlowTest::routingModeWithoutWorkingControlApi_data()
{
    QTest::addColumn<QList<QByteArray>>("answers"); // PATCH, PUT, GET /configs ...
    QTest::addColumn<bool>("restarts");
    QTest::newRow("PATCH refused, PUT applies")
        << QList<QByteArray>{ScriptedHttpServer::jsonAnswer("{\"message\":\"no\"}", 405),
               ScriptedHttpServer::jsonAnswer(QByteArray(), 204), ScriptedHttpServer::jsonAnswer("{\"mode\":\"global\"}")}
        << false;
    QTest::newRow("2xx without effect")
        << QList<QByteArray>{ScriptedHttpServer::jsonAnswer(QByteArray(), 204), ScriptedHttpServer::jsonAnswer("{\"mode\":\"rule\"}")}
        << true;
    QTest::newRow("no control API") << QList<QByteArray>() << true;
}

void ConnectFlowTest::routingModeWithoutWorkingControlApi()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(bool, restarts);
    ScriptedHttpServer engineApi;
    QVERIFY(engineApi.isListening());
    engineApi.script("/configs", answers);

    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    controller->selectNodeWithMode(QStringLiteral("hk-kowloon"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 5000);
    // As after a restart of the client: the service still runs the active file's engine.
    QJsonObject document{{QStringLiteral("outbounds"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("direct")},
                                                                    {QStringLiteral("tag"), QStringLiteral("direct")}}}}};
    if (!answers.isEmpty())
        document.insert(QStringLiteral("experimental"),
            QJsonObject{{QStringLiteral("clash_api"),
                QJsonObject{{QStringLiteral("external_controller"), QStringLiteral("127.0.0.1:%1").arg(engineApi.port())},
                    {QStringLiteral("secret"), QStringLiteral("s3cret")}}}});
    QVERIFY(!TunnelConfig::writeConfigBytes(QJsonDocument(document).toJson()).isEmpty());
    controller->setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));

    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("global"));
    const QString log = logSinceStart();
    QCOMPARE(log.contains(QLatin1String("Runtime routing mode sync applied: clash_mode=global")), !restarts);
    QCOMPARE(log.contains(QLatin1String("Restarting tunnel to apply routing_mode=global")), restarts);
    if (!answers.isEmpty()) {
        QVERIFY(log.contains(QLatin1String("method=PATCH; auth=yes")));
        QCOMPARE(engineApi.requests("/configs").value(0).value("authorization"), QByteArray("Bearer s3cret"));
    }
    if (restarts) {
        // The restart fetches the global document and connects again.
        QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 30000);
        QFile active(TunnelConfig::activeConfigPath());
        QVERIFY(active.open(QIODevice::ReadOnly));
        QVERIFY(active.readAll().contains("\"default_mode\": \"Global\""));
    } else {
        QCOMPARE(controller->vpnPhase(), QStringLiteral("connected"));
    }
}

void ConnectFlowTest::nodeChangeRestartsToThatNode()
{
    auto controller = newController();
    signIn(*controller, kMemberEmail, kMemberPassword);
    QVERIFY(connectAndWait(*controller));
    const QString target = controller->selectedNodeId() == QLatin1String("hk-shatin") ? QStringLiteral("hk-kowloon")
                                                                                       : QStringLiteral("hk-shatin");
    m_logOffset = QFileInfo(DiagnosticLog::desktopDiagnosticLogPath()).size();

    controller->selectNodeWithMode(target, QStringLiteral("smart"));
    QTRY_VERIFY_WITH_TIMEOUT(logSinceStart().contains(QStringLiteral("Restarting tunnel to apply selected_node=%1").arg(target)), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(controller->vpnPhase(), QStringLiteral("connected"), 30000);
    const QString log = logSinceStart();
    QVERIFY2(log.contains(QStringLiteral("node_id=%1 node_name=").arg(target)), qPrintable(log));
    QVERIFY(log.contains(QLatin1String("direct_node=true latency_fallback=false attempt=1/1")));
    QCOMPARE(log.count(QLatin1String("VPN candidate picked:")), 1);
    QVERIFY(controller->directNodeId().isEmpty());
    QVERIFY(!controller->busy());
}

void ConnectFlowTest::curlProbe()
{
    // Real curl: the backend's empty 204 passes, a closed port does not.
    const quint16 closed = ServiceInstall::freePort();
    const QString good = m_server->baseUrl() + QStringLiteral("/generate_204");
    const QString bad = QStringLiteral("http://127.0.0.1:%1/generate_204").arg(closed);
    QStringList lines;
    auto log = [&lines](const QString &line) { lines << line; };
    QVERIFY(ConnectivityProbe::probeConnectivityWithSystemCurl({good, bad}, 1, 2000, log));
    QVERIFY(!ConnectivityProbe::probeConnectivityWithSystemCurl({good, bad}, 2, 2000, log));
    QVERIFY(lines.join(QString()).contains(QLatin1String("Connectivity curl fallback FAIL: ") + bad));

    // Qt fails on the closed port; a curl that answers 204 carries the probe, and it is
    // asked to write the body to the null device and to ignore proxies.
    QTemporaryDir bin;
    QFile script(bin.filePath(QStringLiteral("curl")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/calls.log\"\nprintf 204\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    lines.clear();
    const bool passed = ConnectivityProbe::probeConnectivity({bad}, 1, 100, 1000, log);
    qputenv("PATH", path);
    QVERIFY2(passed, qPrintable(lines.join(QString())));
    QVERIFY(lines.join(QString()).contains(QLatin1String("trying system curl fallback")));
    QFile calls(bin.filePath(QStringLiteral("calls.log")));
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(calls.readAll().trimmed(),
        QByteArray("-L -sS --ipv4 --noproxy * -o /dev/null -w %{http_code} --connect-timeout 1 --max-time 1 ") + bad.toUtf8());
    QVERIFY(!QFile::exists(QStringLiteral("NUL")));
}

QTEST_GUILESS_MAIN(ConnectFlowTest)
#include "tst_connectflow.moc"
