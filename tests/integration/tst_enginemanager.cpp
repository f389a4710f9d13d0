#include "serviceinstall.h"
#include "testenvironment.h"
#include "tunnel/singboxprocessmanager.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// SingBoxProcessManager against the stand-ins: the engine for the
// configuration check and a scripted service-control tool for every answer
// the service can give.
class EngineManagerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startOutcome_data();
    void startOutcome();
    void checkFailure_data();
    void checkFailure();
    void startWhileRunningSkipsTheCheck();
    void runningServiceIsRestartedForTheNewConfig();
    void stop_data();
    void stop();
    void startCommandTimesOut();
    void slowQueryCountsAsNotRunning();
    void runningIsCachedFor1500Milliseconds();

private:
    static SingBoxProcessManager::Timings fastTimings();
    QStringList calls() const;
    QStringList engineInvocations() const;
    QString writeConfig(const QByteArray &bytes) const;
    void setMode(const QByteArray &mode) const { qputenv("QUILLET_FAKE_SC_MODE", mode); }
    void setServiceRunning(bool running) const;

    TestEnvironment m_env;
    QScopedPointer<QTemporaryDir> m_state;
};

SingBoxProcessManager::Timings EngineManagerTest::fastTimings()
{
    SingBoxProcessManager::Timings timings;
    timings.pollInterval = 20;
    timings.adapterReleaseDelay = 20;
    return timings;
}

void EngineManagerTest::init()
{
    m_state.reset(new QTemporaryDir);
    QVERIFY(m_state->isValid());
    qputenv("QUILLET_SERVICECTL", QUILLET_FAKE_SERVICECTL_PROGRAM);
    qputenv("QUILLET_FAKE_SC_STATE", m_state->path().toLocal8Bit());
    qputenv("QUILLET_FAKE_ENGINE_RECORD", m_state->filePath(QStringLiteral("engine-calls")).toLocal8Bit());
    setMode("normal");
}

void EngineManagerTest::cleanup()
{
    for (const char *name :
        {"QUILLET_SERVICECTL", "QUILLET_FAKE_SC_STATE", "QUILLET_FAKE_SC_MODE", "QUILLET_FAKE_SC_DELAY_MS",
            "QUILLET_FAKE_SC_DELAY_VERB", "QUILLET_FAKE_ENGINE_RECORD", "QUILLET_FAKE_ENGINE_HANG"})
        qunsetenv(name);
    m_state.reset();
}

QStringList EngineManagerTest::calls() const
{
    QFile file(m_state->filePath(QStringLiteral("calls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList EngineManagerTest::engineInvocations() const
{
    QFile file(m_state->filePath(QStringLiteral("engine-calls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString EngineManagerTest::writeConfig(const QByteArray &bytes) const
{
    const QString path = m_env.path(QStringLiteral("active.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void EngineManagerTest::setServiceRunning(bool running) const
{
    QFile flag(m_state->filePath(QStringLiteral("running")));
    if (running) {
        QVERIFY(flag.open(QIODevice::WriteOnly));
        flag.write("1");
    } else {
        flag.remove();
    }
}

void EngineManagerTest::startOutcome_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<QString>("logLine");

    const QStringList before {"query", "query", "query", "start"};
    QStringList twelvePolls = before;
    for (int i = 0; i < 12; ++i)
        twelvePolls << QStringLiteral("query");

    QTest::newRow("service starts") << QByteArray("normal") << true << QString() << (before + QStringList {"query"})
                                    << QStringLiteral("Started Windows system VPN service with ");
    QTest::newRow("not installed: no start command")
        << QByteArray("missing") << false
        << QStringLiteral("Windows 系统 VPN 服务未安装。请重新运行岚舟安装器，安装器会注册系统级 TUN 服务。")
        << QStringList {"query", "query"}
        << QStringLiteral("Windows service missing: [SC] EnumQueryServicesStatus:OpenService FAILED 1060:");
    QTest::newRow("1056 counts as accepted")
        << QByteArray("already-running") << true << QString() << (before + QStringList {"query"})
        << QStringLiteral("Started Windows system VPN service with ");
    QTest::newRow("never reaches RUNNING")
        << QByteArray("never-running") << false
        << QStringLiteral("Windows 系统 VPN 服务已请求启动，但没有进入运行状态。请查看服务日志。") << twelvePolls
        << QStringLiteral("Windows service did not reach RUNNING state:\nSERVICE_NAME: QuilletVpnService");
    const QString denied
        = QStringLiteral("没有权限启动 Windows 系统 VPN 服务。请重新运行安装器，或以管理员身份安装一次岚舟。");
    QTest::newRow("access denied") << QByteArray("denied") << false << denied << before
                                   << QStringLiteral(
                                          "Windows service start failed:\n[SC] StartService: OpenService FAILED 5:");
    QTest::newRow("access denied, Chinese system")
        << QByteArray("denied-zh") << false << denied << before << QStringLiteral("Windows service start failed:\n");
    QTest::newRow("start refused")
        << QByteArray("fail") << false
        << QStringLiteral(
               "Windows 系统 VPN 服务启动失败：[SC] StartService FAILED 1053:\n\nThe service did not respond "
               "to the start or control request in a timely fashion.")
        << before << QStringLiteral("Windows service start failed:\n[SC] StartService FAILED 1053:");
    QTest::newRow("start refused without a word")
        << QByteArray("fail-silent") << false << QStringLiteral("Windows 系统 VPN 服务启动失败。") << before
        << QStringLiteral("Windows service start failed:\n\n");
}

void EngineManagerTest::startOutcome()
{
    QFETCH(QByteArray, mode);
    QFETCH(bool, started);
    QFETCH(QString, error);
    QFETCH(QStringList, expectedCalls);
    QFETCH(QString, logLine);

    setMode(mode);
    SingBoxProcessManager manager;
    SingBoxProcessManager::Timings timings = fastTimings();
    // The last row checks that the state comes from the cache; on a loaded
    // machine twelve polls can outlast the usual window.
    timings.cacheWindow = 60000;
    manager.setTimingsForTesting(timings);
    manager.setBinaryPath(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM));
    QSignalSpy runningChanged(&manager, &SingBoxProcessManager::runningChanged);
    const QString config = writeConfig(ServiceInstall::runnableConfig(9097, QStringLiteral("s")));

    QCOMPARE(manager.start(config), started);
    QCOMPARE(manager.lastError(), error);
    QCOMPARE(calls(), expectedCalls);
    QCOMPARE(engineInvocations(), QStringList {QStringLiteral("check -c %1").arg(config)});
    QVERIFY2(manager.recentLog().contains(logLine), qPrintable(manager.recentLog()));
    QVERIFY(manager.recentLog().startsWith(
        QStringLiteral("VPN start requested. config=%1 runningBefore=false\nConfig preflight. exists=true size=%2 "
                       "binary=%3\n")
            .arg(config)
            .arg(QFileInfo(config).size())
            .arg(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM))));
    QCOMPARE(runningChanged.count(), started ? 1 : 0);
    // Right after a start the state comes from the cache, not from another query.
    QCOMPARE(manager.running(), started);
    QCOMPARE(calls().size(), expectedCalls.size());
}

void EngineManagerTest::checkFailure_data()
{
    QTest::addColumn<QString>("binary");
    QTest::addColumn<QByteArray>("hang");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("errorStart");
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<QString>("logLine");

    const QString engine = QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM);
    QByteArray unknownField = ServiceInstall::runnableConfig(9097, QStringLiteral("s"));
    unknownField.replace("\"mtu\": 1400", "\"mtu\": 1400, \"bogus\": 1");
    QByteArray dnsOutbound = ServiceInstall::runnableConfig(9097, QStringLiteral("s"));
    dnsOutbound.replace("\"type\": \"block\"", "\"type\": \"dns\"");
    const QByteArray valid = ServiceInstall::runnableConfig(9097, QStringLiteral("s"));

    QTest::newRow("engine rejects a field") << engine << QByteArray() << unknownField
                                            << QStringLiteral("sing-box 配置校验失败：FATAL[0000] decode config at ")
                                            << QStringLiteral(": inbounds[0]: json: unknown field \"bogus\"")
                                            << QStringLiteral("exitStatus=0 exitCode=1\nstderr=FATAL[0000] decode");
    QTest::newRow("engine rejects the dns outbound")
        << engine << QByteArray() << dnsOutbound
        << QStringLiteral("sing-box 配置校验失败：ERROR[0000] legacy special outbounds is deprecated")
        << QStringLiteral("FATAL[0000] to continuing using this feature, set environment variable "
                          "ENABLE_DEPRECATED_SPECIAL_OUTBOUNDS=true")
        << QStringLiteral("Config check failed for ");
    QTest::newRow("engine says nothing") << QStringLiteral("/bin/false") << QByteArray() << valid
                                         << QStringLiteral("sing-box 配置校验失败，请检查节点协议、DNS 或 TUN 设置。")
                                         << QString() << QStringLiteral("exitStatus=0 exitCode=1\nstderr=\nstdout=\n");
    QTest::newRow("missing binary")
        << QStringLiteral("/nonexistent/sing-box") << QByteArray() << valid
        << QStringLiteral("无法找到或启动 VPN 核心：/nonexistent/sing-box。请确认 sing-box 已打包到应用内。")
        << QString() << QStringLiteral("Config check failed to start for ");
    QTest::newRow("check hangs") << engine << QByteArray("check") << valid
                                 << QStringLiteral("sing-box 配置校验超时：校验进程超过 8 秒没有完成。") << QString()
                                 << QStringLiteral("Config check timed out for ");
}

void EngineManagerTest::checkFailure()
{
    QFETCH(QString, binary);
    QFETCH(QByteArray, hang);
    QFETCH(QByteArray, config);
    QFETCH(QString, errorStart);
    QFETCH(QString, errorPart);
    QFETCH(QString, logLine);

    if (!hang.isEmpty())
        qputenv("QUILLET_FAKE_ENGINE_HANG", hang);
    SingBoxProcessManager manager;
    SingBoxProcessManager::Timings timings = fastTimings();
    timings.checkTimeout = 400;
    manager.setTimingsForTesting(timings);
    manager.setBinaryPath(binary);
    QSignalSpy errorChanged(&manager, &SingBoxProcessManager::lastErrorChanged);
    const QString path = writeConfig(config);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!manager.start(path));
    QVERIFY2(clock.elapsed() < 5000, "the check waits no longer than its time-out");
    QVERIFY2(manager.lastError().startsWith(errorStart), qPrintable(manager.lastError()));
    QVERIFY2(manager.lastError().contains(errorPart), qPrintable(manager.lastError()));
    QVERIFY2(!manager.lastError().contains(QChar(0x1b)), "terminal colour codes are removed");
    QCOMPARE(errorChanged.count(), 1);
    QVERIFY2(manager.recentLog().contains(logLine), qPrintable(manager.recentLog()));
    // Only the state query before the check: nothing was started.
    QCOMPARE(calls(), QStringList {QStringLiteral("query")});
}

void EngineManagerTest::startWhileRunningSkipsTheCheck()
{
    setServiceRunning(true);
    SingBoxProcessManager manager;
    manager.setTimingsForTesting(fastTimings());
    manager.setBinaryPath(QStringLiteral("/nonexistent/sing-box"));
    QVERIFY(manager.start(m_env.path(QStringLiteral("never-written.json"))));
    QVERIFY(manager.lastError().isEmpty());
    QCOMPARE(calls(), QStringList {QStringLiteral("query")});
    QVERIFY(manager.recentLog().endsWith(
        QStringLiteral("runningBefore=true\nVPN start skipped because current runner is already active.\n")));
}

void EngineManagerTest::runningServiceIsRestartedForTheNewConfig()
{
    SingBoxProcessManager manager;
    manager.setTimingsForTesting(fastTimings());
    manager.setBinaryPath(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM));
    QVERIFY(!manager.running());
    // Started behind the client's back, inside the cache window.
    setServiceRunning(true);
    const QString config = writeConfig(ServiceInstall::runnableConfig(9097, QStringLiteral("s")));
    QVERIFY(manager.start(config));
    QCOMPARE(calls(), QStringList({"query", "query", "query", "stop", "query", "start", "query"}));
    QVERIFY(manager.recentLog().contains(
        QStringLiteral("Windows service already running; restarting with active config %1\n").arg(config)));
    QVERIFY(manager.recentLog().contains(QStringLiteral("Stopped Windows system VPN service\n")));
}

void EngineManagerTest::stop_data()
{
    QTest::addColumn<bool>("startFirst");
    QTest::addColumn<QByteArray>("stopMode");
    QTest::addColumn<bool>("runningAfter");
    QTest::addColumn<QStringList>("stopCalls");
    QTest::addColumn<QString>("logTail");

    QStringList stuckCalls {QStringLiteral("stop")};
    for (int i = 0; i < 16; ++i)
        stuckCalls << QStringLiteral("query");
    QTest::newRow("stops") << true << QByteArray("normal") << false << QStringList {"stop", "query"}
                           << QStringLiteral("Stopped Windows system VPN service\n");
    QTest::newRow("does not stop") << true << QByteArray("stuck") << true << stuckCalls
                                   << QStringLiteral("Windows system VPN service did not stop within the expected "
                                                     "window.\n")
            + QStringLiteral("Requested Windows system VPN service stop, but it is still "
                             "running.\n");
    QTest::newRow("not running") << false << QByteArray("normal") << false << QStringList {"query"}
                                 << QStringLiteral("VPN stop requested. runningBefore=false\nVPN stop skipped because "
                                                   "runner is not active.\n");
}

void EngineManagerTest::stop()
{
    QFETCH(bool, startFirst);
    QFETCH(QByteArray, stopMode);
    QFETCH(bool, runningAfter);
    QFETCH(QStringList, stopCalls);
    QFETCH(QString, logTail);

    SingBoxProcessManager manager;
    manager.setTimingsForTesting(fastTimings());
    manager.setBinaryPath(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM));
    if (startFirst)
        QVERIFY(manager.start(writeConfig(ServiceInstall::runnableConfig(9097, QStringLiteral("s")))));
    const int callsBefore = calls().size();
    setMode(stopMode);
    QSignalSpy runningChanged(&manager, &SingBoxProcessManager::runningChanged);

    manager.stop();
    QCOMPARE(calls().mid(callsBefore), stopCalls);
    QVERIFY2(manager.recentLog().endsWith(logTail), qPrintable(manager.recentLog()));
    QCOMPARE(runningChanged.count(), startFirst ? 1 : 0);
    QCOMPARE(manager.running(), runningAfter);
}

void EngineManagerTest::startCommandTimesOut()
{
    qputenv("QUILLET_FAKE_SC_DELAY_MS", "3000");
    qputenv("QUILLET_FAKE_SC_DELAY_VERB", "start");
    SingBoxProcessManager manager;
    SingBoxProcessManager::Timings timings = fastTimings();
    timings.startTimeout = 300;
    manager.setTimingsForTesting(timings);
    manager.setBinaryPath(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM));
    QVERIFY(!manager.start(writeConfig(ServiceInstall::runnableConfig(9097, QStringLiteral("s")))));
    QCOMPARE(manager.lastError(), QStringLiteral("启动 Windows 系统 VPN 服务超时，请确认服务未被安全软件拦截。"));
}

void EngineManagerTest::slowQueryCountsAsNotRunning()
{
    setServiceRunning(true);
    SingBoxProcessManager manager;
    QVERIFY(manager.queryWindowsServiceRunning());
    qputenv("QUILLET_FAKE_SC_DELAY_MS", "2500");
    qputenv("QUILLET_FAKE_SC_DELAY_VERB", "query");
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!manager.queryWindowsServiceRunning());
    QVERIFY2(clock.elapsed() < 2400, "the query waits 1200 ms, then gives up");
}

void EngineManagerTest::runningIsCachedFor1500Milliseconds()
{
    setServiceRunning(true);
    SingBoxProcessManager manager;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(manager.running());
    setServiceRunning(false);
    QVERIFY(manager.connected());
    QVERIFY(clock.elapsed() < 1400);
    QCOMPARE(calls().size(), 1);

    QTest::qWait(1600);
    QVERIFY(!manager.running());
    // A running service counts as stopped only when a second query at once agrees.
    QCOMPARE(calls().size(), 3);
}

QTEST_GUILESS_MAIN(EngineManagerTest)
#include "tst_enginemanager.moc"
