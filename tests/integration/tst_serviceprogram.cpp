#include "serviceinstall.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Gone, or a zombie waiting for a parent that does not reap it.
bool processEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && close + 2 < line.size() && line.at(close + 2) == 'Z';
}

} // namespace

// The tunnel service program and quillet-servicectl in user mode: what runs,
// what stops it, what it refuses, and what it writes down.
class ServiceProgramTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void runsTheEngineUntilStopped_data();
    void runsTheEngineUntilStopped();
    void engineEndingStopsTheService();
    void engineIgnoringTheStopIsKilled();
    void refusesToStart_data();
    void refusesToStart();
    void consoleMode_data();
    void consoleMode();
    void servicectlAnswersLikeSc_data();
    void servicectlAnswersLikeSc();
    void recordOfAnotherProcessIsNotTheService();
    void engineRunsOnTheCheckedBytes();
    void refusesUnsafeFilesPromptly_data();
    void refusesUnsafeFilesPromptly();
    void logsAreCappedAndPrivate();
    void tellsSystemdOnlyWhenRunning_data();
    void tellsSystemdOnlyWhenRunning();

private:
    QString nextInstallDirectory() { return m_env.path(QStringLiteral("install-%1").arg(++m_installs)); }
    static QString runtimeDirectory() { return ServiceInstall::sharedDataDirectory() + QStringLiteral("/runtime"); }

    TestEnvironment m_env;
    int m_installs = 0;
    QString m_sourceDir;
};

void ServiceProgramTest::initTestCase()
{
    qputenv("QUILLET_SERVICECTL_MODE", "user");
    qunsetenv("TARN_SINGBOX_BINARY");
    m_sourceDir = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (m_sourceDir.isEmpty())
        m_sourceDir = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
}

void ServiceProgramTest::cleanup()
{
    qunsetenv("QUILLET_FAKE_ENGINE_EXIT_AFTER");
    qunsetenv("NOTIFY_SOCKET");
    QDir(ServiceInstall::sharedDataDirectory()).removeRecursively();
}

void ServiceProgramTest::runsTheEngineUntilStopped_data()
{
    QTest::addColumn<bool>("throughServicectl");
    QTest::newRow("stop through quillet-servicectl") << true;
    QTest::newRow("SIGTERM to the service") << false;
}

void ServiceProgramTest::runsTheEngineUntilStopped()
{
    QFETCH(bool, throughServicectl);
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    const quint16 port = ServiceInstall::freePort();
    QVERIFY(ServiceInstall::writeActiveConfig(ServiceInstall::runnableConfig(port, QStringLiteral("secret-1"))));

    const ServiceInstall::Answer started = install.control(QStringLiteral("start"));
    QCOMPARE(started.exitCode, 0);
    QVERIFY2(started.output.contains(QLatin1String("START_PENDING")), qPrintable(started.output));
    QVERIFY2(install.waitForState(QStringLiteral("RUNNING"), 5000), qPrintable(install.serviceLog()));

    const ServiceInstall::Answer again = install.control(QStringLiteral("start"));
    QVERIFY(again.exitCode != 0);
    QVERIFY2(again.output.contains(QLatin1String("[SC] StartService FAILED 1056:")), qPrintable(again.output));

    // The engine's control API answers with the secret, and only with it.
    ServiceInstall::HttpAnswer version;
    QTRY_VERIFY_WITH_TIMEOUT((version = ServiceInstall::httpGet(port, "/version", "secret-1")).status == 200, 5000);
    QVERIFY(version.body.contains("\"version\":\"sing-box "));
    QCOMPARE(ServiceInstall::httpGet(port, "/version", "wrong").status, 401);

    const qint64 pid = install.recordedPid();
    QVERIFY(pid > 0);
    if (throughServicectl) {
        const ServiceInstall::Answer stopped = install.control(QStringLiteral("stop"));
        QCOMPARE(stopped.exitCode, 0);
        QVERIFY(stopped.output.contains(QLatin1String("STOP_PENDING")));
    } else {
        QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
    }
    QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 8000));
    QTRY_VERIFY_WITH_TIMEOUT(processEnded(pid), 3000);
    QCOMPARE(ServiceInstall::httpGet(port, "/version", "secret-1").status, 0);

    const QString log = install.serviceLog();
    const QString config = ServiceInstall::sharedDataDirectory() + QStringLiteral("/configs/active.json");
    QVERIFY2(log.contains(QStringLiteral("] started sing-box with config: %1\n").arg(config)), qPrintable(log));
    QVERIFY2(log.endsWith(QLatin1String("] stopped sing-box\n")), qPrintable(log));
    const QRegularExpression lineForm(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] \\S"));
    for (const QString &line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(lineForm.match(line).hasMatch(), qPrintable(line));
    QVERIFY2(install.engineLog().contains(QLatin1String("[0000] sing-box started (0.01s)")),
        qPrintable(install.engineLog()));
    // The engine worked in the runtime folder of the shared data directory.
    QVERIFY(QFile::exists(runtimeDirectory() + QStringLiteral("/cache.db")));

    const ServiceInstall::Answer stopAgain = install.control(QStringLiteral("stop"));
    QVERIFY(stopAgain.exitCode != 0);
    QVERIFY(stopAgain.output.contains(QLatin1String("[SC] ControlService FAILED 1062:")));
}

void ServiceProgramTest::engineRunsOnTheCheckedBytes()
{
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    const QString record = m_env.path(QStringLiteral("engine-args-%1.txt").arg(m_installs));
    qputenv("QUILLET_FAKE_ENGINE_RECORD", record.toLocal8Bit());
    const quint16 port = ServiceInstall::freePort();
    const QByteArray checked = ServiceInstall::runnableConfig(port, QStringLiteral("secret-2"));
    QVERIFY(ServiceInstall::writeActiveConfig(checked));
    QCOMPARE(install.control(QStringLiteral("start")).exitCode, 0);
    QVERIFY2(install.waitForState(QStringLiteral("RUNNING"), 5000), qPrintable(install.serviceLog()));
    QTRY_VERIFY_WITH_TIMEOUT(ServiceInstall::httpGet(port, "/version", "secret-2").status == 200, 5000);

    // The user-writable file changes after the check: the engine never sees it.
    QVERIFY(ServiceInstall::writeActiveConfig(QByteArray("{\"log\":{\"output\":\"/etc/shadow\"}}")));
    const QString copy = runtimeDirectory() + QStringLiteral("/active.checked.json");
    QFile copyFile(copy);
    QVERIFY(copyFile.open(QIODevice::ReadOnly));
    QCOMPARE(copyFile.readAll(), checked);
    QFile args(record);
    QVERIFY(args.open(QIODevice::ReadOnly));
    const QString recorded = QString::fromLocal8Bit(args.readAll());
    QVERIFY2(recorded.contains(copy), qPrintable(recorded));
    QVERIFY2(!recorded.contains(QStringLiteral("configs/active.json")), qPrintable(recorded));

    QCOMPARE(install.control(QStringLiteral("stop")).exitCode, 0);
    QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 8000));
    qunsetenv("QUILLET_FAKE_ENGINE_RECORD");
}

void ServiceProgramTest::engineEndingStopsTheService()
{
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    QVERIFY(ServiceInstall::writeActiveConfig(
        ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));
    qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "1");
    QCOMPARE(install.control(QStringLiteral("start")).exitCode, 0);
    QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 8000));
    const QString log = install.serviceLog();
    QVERIFY2(log.contains(QLatin1String("] sing-box exited with code 1\n")), qPrintable(log));
    QVERIFY2(log.endsWith(QLatin1String("] stopped sing-box\n")), qPrintable(log));
    QVERIFY(install.engineLog().contains(QLatin1String("ending after 1 seconds")));
}

void ServiceProgramTest::engineIgnoringTheStopIsKilled()
{
    ServiceInstall install(nextInstallDirectory(), false);
    QVERIFY(install.isValid());
    QDir().mkpath(install.directory() + QStringLiteral("/bin"));
    QFile engine(install.directory() + QStringLiteral("/bin/sing-box"));
    QVERIFY(engine.open(QIODevice::WriteOnly));
    engine.write("#!/bin/sh\ntrap '' TERM\necho stubborn engine >&2\nwhile :; do sleep 0.1; done\n");
    engine.close();
    QVERIFY(engine.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QVERIFY(ServiceInstall::writeActiveConfig(
        ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));

    QCOMPARE(install.control(QStringLiteral("start")).exitCode, 0);
    QVERIFY(install.waitForState(QStringLiteral("RUNNING"), 5000));
    QTRY_VERIFY_WITH_TIMEOUT(install.engineLog().contains(QLatin1String("stubborn engine")), 5000);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(install.control(QStringLiteral("stop")).exitCode, 0);
    QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 10000));
    QVERIFY2(clock.elapsed() >= 4500, "the engine gets its 5000 ms");
    const QString log = install.serviceLog();
    QVERIFY2(log.contains(QLatin1String("sing-box did not end within 5000 ms and was killed\n")), qPrintable(log));
    QVERIFY(log.endsWith(QLatin1String("] stopped sing-box\n")));
}

void ServiceProgramTest::refusesToStart_data()
{
    QTest::addColumn<bool>("withEngine");
    QTest::addColumn<QString>("configFile"); // empty: no configuration at all
    QTest::addColumn<QString>("logLine");

    QTest::newRow("no engine") << false << QStringLiteral("valid") << QStringLiteral("] sing-box not found: ");
    QTest::newRow("no configuration") << true << QString() << QStringLiteral("] active config not found: ");
    const QDir hostile(m_sourceDir + QStringLiteral("/tests/data/hostile"));
    for (const QString &name : hostile.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        QTest::addRow("hostile %s", qPrintable(name))
            << true << hostile.filePath(name) << QStringLiteral("] refused active config: ");
}

void ServiceProgramTest::refusesToStart()
{
    QFETCH(bool, withEngine);
    QFETCH(QString, configFile);
    QFETCH(QString, logLine);

    ServiceInstall install(nextInstallDirectory(), withEngine);
    QVERIFY(install.isValid());
    if (configFile == QLatin1String("valid")) {
        QVERIFY(ServiceInstall::writeActiveConfig(
            ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));
    } else if (!configFile.isEmpty()) {
        QFile file(configFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(ServiceInstall::writeActiveConfig(file.readAll()));
    }

    QCOMPARE(install.control(QStringLiteral("start")).exitCode, 0);
    QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 5000));
    const QString log = install.serviceLog();
    QVERIFY2(log.contains(logLine), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("started sing-box")), qPrintable(log));
    QVERIFY(!QFile::exists(install.engineLogPath()));
    if (!withEngine)
        QVERIFY(log.contains(install.directory() + QStringLiteral("/bin/sing-box")));
}

void ServiceProgramTest::consoleMode_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("withConfig");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("consoleLine");

    QTest::newRow("console, engine runs and ends") << QStringLiteral("--console") << true << 0 << true;
    QTest::newRow("console, no configuration") << QStringLiteral("--console") << false << 1 << true;
    QTest::newRow("letter case differs: service mode") << QStringLiteral("--Console") << false << 1 << false;
}

void ServiceProgramTest::consoleMode()
{
    QFETCH(QString, argument);
    QFETCH(bool, withConfig);
    QFETCH(int, exitCode);
    QFETCH(bool, consoleLine);

    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    if (withConfig)
        QVERIFY(ServiceInstall::writeActiveConfig(
            ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));
    qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "1");
    QProcess service;
    service.start(install.serviceProgram(), {argument});
    QVERIFY(service.waitForFinished(10000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), exitCode);
    const QString log = install.serviceLog();
    QCOMPARE(log.contains(QLatin1String("] console mode start\n")), consoleLine);
    if (exitCode == 0) {
        QVERIFY(log.contains(QLatin1String("] started sing-box with config: ")));
        QVERIFY(log.endsWith(QLatin1String("] stopped sing-box\n")));
    } else {
        QVERIFY(log.contains(QLatin1String("] active config not found: ")));
    }
}

void ServiceProgramTest::servicectlAnswersLikeSc_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    const QString missing
        = QStringLiteral("FAILED 1060:\n\nThe specified service does not exist as an installed service.");
    QTest::newRow("query, stopped") << QStringList {"query", "QuilletVpnService"} << true << 0
                                    << QStringLiteral("STATE              : 1  STOPPED");
    QTest::newRow("name in other case") << QStringList {"query", "quilletvpnservice"} << true << 0
                                        << QStringLiteral("SERVICE_NAME: QuilletVpnService");
    QTest::newRow("query, not installed") << QStringList {"query", "QuilletVpnService"} << false << (1060 & 0xff)
                                          << QStringLiteral("[SC] EnumQueryServicesStatus:OpenService ") + missing;
    QTest::newRow("start, not installed") << QStringList {"start", "QuilletVpnService"} << false << (1060 & 0xff)
                                          << QStringLiteral("[SC] StartService: OpenService ") + missing;
    QTest::newRow("another service") << QStringList {"query", "Spooler"} << true << (1060 & 0xff) << missing;
    QTest::newRow("stop, not started") << QStringList {"stop", "QuilletVpnService"} << true << (1062 & 0xff)
                                       << QStringLiteral("[SC] ControlService FAILED 1062:");
    QTest::newRow("unknown verb") << QStringList {"pause", "QuilletVpnService"} << true << 1 << QString();
}

void ServiceProgramTest::servicectlAnswersLikeSc()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, installed);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    if (!installed)
        QVERIFY(QFile::remove(install.serviceProgram()));
    QProcess servicectl;
    servicectl.start(install.servicectl(), arguments);
    QVERIFY(servicectl.waitForFinished(5000));
    QCOMPARE(servicectl.exitCode(), exitCode);
    const QString text = QString::fromLocal8Bit(servicectl.readAllStandardOutput());
    QVERIFY2(text.contains(output), qPrintable(text));
}

void ServiceProgramTest::recordOfAnotherProcessIsNotTheService()
{
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    QVERIFY(QDir().mkpath(runtimeDirectory()));
    QFile record(runtimeDirectory() + QStringLiteral("/quillet-vpn-service.pid"));
    QVERIFY(record.open(QIODevice::WriteOnly));
    record.write(QByteArray::number(qint64(::getpid())) + '\n');
    record.close();
    QCOMPARE(install.state(), QStringLiteral("STOPPED"));
    const ServiceInstall::Answer stop = install.control(QStringLiteral("stop"));
    QVERIFY(stop.output.contains(QLatin1String("1062")));
    // The test itself is still alive.
    QCOMPARE(::kill(::getpid(), 0), 0);
    record.remove();
}

// active.json as a FIFO, active.json or runtime/ as a link to something the
// user could not read: refused at once, the reason logged, nothing echoed.
void ServiceProgramTest::refusesUnsafeFilesPromptly_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("active.json is a FIFO") << "fifo" << "] refused active config: it is not a regular file\n";
    QTest::newRow("active.json is a link") << "config link" << "] refused active config: it is a symbolic link\n";
    QTest::newRow("runtime is a link") << "runtime link" << ": it is a symbolic link\n";
}

void ServiceProgramTest::refusesUnsafeFilesPromptly()
{
    QFETCH(QString, setup);
    QFETCH(QString, logLine);
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    // A file with a secret the log must never show, shaped like a document the check would quote.
    const QString secret = m_env.path(QStringLiteral("secret-%1.json").arg(m_installs));
    QFile secretFile(secret);
    QVERIFY(secretFile.open(QIODevice::WriteOnly));
    secretFile.write(R"({"log": {"level": "SECRET-MARKER-7731"}, "SECRET-MARKER-7731": 1})");
    secretFile.close();

    const QString shared = ServiceInstall::sharedDataDirectory();
    const QString config = shared + QStringLiteral("/configs/active.json");
    QVERIFY(QDir().mkpath(shared + QStringLiteral("/configs")));
    QString elsewhere;
    if (setup == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(config).constData(), 0600), 0);
    } else if (setup == QLatin1String("config link")) {
        QVERIFY(QFile::link(secret, config));
    } else {
        QVERIFY(ServiceInstall::writeActiveConfig(
            ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));
        elsewhere = m_env.path(QStringLiteral("elsewhere-%1").arg(m_installs));
        QVERIFY(QDir().mkpath(elsewhere));
        QDir(runtimeDirectory()).removeRecursively();
        QVERIFY(QFile::link(elsewhere, runtimeDirectory()));
    }

    QElapsedTimer clock;
    clock.start();
    QProcess service;
    service.start(install.serviceProgram(), {QStringLiteral("--console")});
    QVERIFY(service.waitForFinished(5000));
    QVERIFY(clock.elapsed() < 4000);
    QCOMPARE(service.exitCode(), 1);
    const QString log = install.serviceLog();
    QVERIFY2(log.contains(logLine), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("SECRET-MARKER")), qPrintable(log));
    QVERIFY(!log.contains(QLatin1String("started sing-box")));
    if (!elsewhere.isEmpty())
        QVERIFY(QDir(elsewhere).isEmpty());
}

// Nothing rotates the logs: the service cuts them to their newest half.
void ServiceProgramTest::logsAreCappedAndPrivate()
{
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    QVERIFY(QDir().mkpath(install.directory() + QStringLiteral("/logs")));
    const QByteArray line(99, 'x');
    for (const QString &path : {install.serviceLogPath(), install.engineLogPath()}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 50000; ++i) // 5,000,000 bytes
            file.write(line + '\n');
    }
    QVERIFY(ServiceInstall::writeActiveConfig(
        ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))));
    qputenv("QUILLET_FAKE_ENGINE_EXIT_AFTER", "1");
    QProcess service;
    service.start(install.serviceProgram(), {QStringLiteral("--console")});
    QVERIFY(service.waitForFinished(10000));
    QCOMPARE(service.exitCode(), 0);

    for (const QString &path : {install.serviceLogPath(), install.engineLogPath()}) {
        const QFileInfo info(path);
        QVERIFY2(info.size() < 4 * 1024 * 1024, qPrintable(path));
        QVERIFY2(info.size() > 1024 * 1024, qPrintable(path)); // the newest half is kept
        struct stat mode;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &mode), 0);
        QCOMPARE(mode.st_mode & 0777, mode_t(0640));
    }
    const QString log = install.serviceLog();
    QVERIFY(log.startsWith(QString::fromLatin1(line + '\n'))); // cut at a line start
    QVERIFY(log.endsWith(QLatin1String("] stopped sing-box\n")));
}

// systemd hears READY=1 only once the configuration passed and the engine runs.
void ServiceProgramTest::tellsSystemdOnlyWhenRunning_data()
{
    QTest::addColumn<bool>("accepted");
    QTest::newRow("runnable configuration") << true;
    QTest::newRow("refused configuration") << false;
}

void ServiceProgramTest::tellsSystemdOnlyWhenRunning()
{
    QFETCH(bool, accepted);
    ServiceInstall install(nextInstallDirectory());
    QVERIFY(install.isValid());
    const QByteArray socketPath = QFile::encodeName(m_env.path(QStringLiteral("notify-%1").arg(m_installs)));
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(socketPath.size()) < sizeof address.sun_path);
    memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    qputenv("NOTIFY_SOCKET", socketPath);

    QVERIFY(ServiceInstall::writeActiveConfig(
        accepted ? ServiceInstall::runnableConfig(ServiceInstall::freePort(), QStringLiteral("s"))
                 : QByteArray(R"({"experimental": {"clash_api": {"external_controller": "0.0.0.0:9090"}}})")));
    QCOMPARE(install.control(QStringLiteral("start")).exitCode, 0);
    QVERIFY(install.waitForState(accepted ? QStringLiteral("RUNNING") : QStringLiteral("STOPPED"), 5000));

    QByteArray received;
    pollfd ready {listener, POLLIN, 0};
    if (::poll(&ready, 1, accepted ? 5000 : 500) > 0) {
        char buffer[256];
        const ssize_t n = ::recv(listener, buffer, sizeof buffer, 0);
        if (n > 0)
            received = QByteArray(buffer, int(n));
    }
    ::close(listener);
    QCOMPARE(received, accepted ? QByteArray("READY=1") : QByteArray());
    if (accepted) {
        QCOMPARE(install.control(QStringLiteral("stop")).exitCode, 0);
        QVERIFY(install.waitForState(QStringLiteral("STOPPED"), 8000));
    }
}

QTEST_GUILESS_MAIN(ServiceProgramTest)
#include "tst_serviceprogram.moc"
