#include "api/backendcontract.h"
#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTime>
#include <QtTest>

#include <memory>

using namespace Backend::Path;

// Live traffic while connected and the server-side speed test, against the
// development backend. The probe talks to the backend, not to the engine, so
// the phase is set directly instead of running a tunnel.
class TrafficTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void probeCycleMovesBytesBothWays();
    void stalledDownloadZeroesRatesSilently();
    void resetDuringCycleLeavesLateReplyInert();
    void resetBooksSession_data();
    void resetBooksSession();
    void speedTestGates_data();
    void speedTestGates();
    void speedTestSendsOnceAndReloadsFirst();
    void failedSpeedTestReportsIt();

private:
    std::unique_ptr<AppController> connectedController();

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
};

void TrafficTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
}

void TrafficTest::init()
{
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    TestEnvironment::clearSettings();
    QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")) // i18n-exempt: store name
        .setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
}

// Signed in as the demo member and "connected", with the first probe cycle settled.
std::unique_ptr<AppController> TrafficTest::connectedController()
{
    auto controller = std::make_unique<AppController>();
    controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    if (!QTest::qWaitFor([&] { return controller->loggedIn() && controller->bootstrapReady() && !controller->busy(); },
                         15000)) {
        qWarning("sign-in did not settle");
        return nullptr;
    }
    controller->setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
    if (!controller->speedProbeInFlight() || !controller->runtimeTrafficTimer()->isActive()) {
        qWarning("no probe started");
        return nullptr;
    }
    if (!QTest::qWaitFor([&] { return !controller->speedProbeInFlight(); }, 10000)) {
        qWarning("the first probe did not end");
        return nullptr;
    }
    return controller;
}

void TrafficTest::probeCycleMovesBytesBothWays()
{
    auto controller = connectedController();
    QVERIFY(controller);
    QVERIFY(controller->connectedAt().isValid());
    const qint64 up = controller->sessionUploadBytes();
    const qint64 down = controller->sessionDownloadBytes();
    QCOMPARE(up, 65536);
    QCOMPARE(down, 65536);
    const QVariantList before = controller->dashboard().value(QStringLiteral("downloadHistory")).toList();
    const int uploads = m_server->requestCount(QLatin1String(kSpeedProbeUpload));

    controller->startRuntimeSpeedProbe();
    QVERIFY(controller->speedProbeInFlight());
    controller->startRuntimeSpeedProbe(); // never two at once
    QTRY_VERIFY_WITH_TIMEOUT(!controller->speedProbeInFlight(), 10000);
    QCOMPARE(m_server->requestCount(QLatin1String(kSpeedProbeUpload)), uploads + 1);
    QCOMPARE(controller->sessionUploadBytes(), up + 65536);
    QCOMPARE(controller->sessionDownloadBytes(), down + 65536);

    const QVariantMap dashboard = controller->dashboard();
    QVERIFY(controller->uploadRate() > 0 && controller->downloadRate() > 0);
    QVERIFY(dashboard.value(QStringLiteral("download")).toString() != QLatin1String("0 B/s"));
    QVERIFY(dashboard.value(QStringLiteral("upload")).toString() != QLatin1String("0 B/s"));
    // Exactly one history step: the old samples moved left by one.
    const QVariantList after = dashboard.value(QStringLiteral("downloadHistory")).toList();
    QCOMPARE(after.size(), 30);
    QCOMPARE(after.mid(0, 29), before.mid(1));
    QCOMPARE(after.last().toLongLong(), controller->downloadRate());
    QCOMPARE(dashboard.value(QStringLiteral("uploadHistory")).toList().last().toLongLong(), controller->uploadRate());
    // The session's bytes show in today's usage and in the current hour.
    QVERIFY(dashboard.value(QStringLiteral("todayUsageBytes")).toLongLong() >= 4 * 65536);
    QCOMPARE(dashboard.value(QStringLiteral("todayUsageHourlyBytes")).toList().size(), 24);
    QCOMPARE(dashboard.value(QStringLiteral("uptime")).toString().size(), 8);
}

void TrafficTest::stalledDownloadZeroesRatesSilently()
{
    auto controller = connectedController();
    QVERIFY(controller);
    controller->applyRuntimeSpeedProbeSample(5000, 9000, 0, 0);
    const qint64 down = controller->sessionDownloadBytes();
    const int uploads = m_server->requestCount(QLatin1String(kSpeedProbeUpload));
    m_server->setFault(QLatin1String(kSpeedProbeDownload), DevServer::Fault::delayed(4000));

    QElapsedTimer clock;
    clock.start();
    controller->startRuntimeSpeedProbe();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->speedProbeInFlight(), 6000);
    QVERIFY2(clock.elapsed() >= 2400 && clock.elapsed() < 3800, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(controller->downloadRate(), 0);
    QCOMPARE(controller->uploadRate(), 0);
    QCOMPARE(controller->sessionDownloadBytes(), down);
    QCOMPARE(controller->dashboard().value(QStringLiteral("download")).toString(), QStringLiteral("0 B/s"));
    QCOMPARE(controller->dashboard().value(QStringLiteral("downloadHistory")).toList().last().toLongLong(), 0);
    QCOMPARE(m_server->requestCount(QLatin1String(kSpeedProbeUpload)), uploads); // no upload after a failed download
    QVERIFY(controller->apiError().isEmpty());
    QVERIFY(controller->toastMessage().isEmpty());
}

void TrafficTest::resetDuringCycleLeavesLateReplyInert()
{
    auto controller = connectedController();
    QVERIFY(controller);
    m_server->setFault(QLatin1String(kSpeedProbeDownload), DevServer::Fault::delayed(600));
    const int downloads = m_server->requestCount(QLatin1String(kSpeedProbeDownload));
    const int uploads = m_server->requestCount(QLatin1String(kSpeedProbeUpload));
    controller->startRuntimeSpeedProbe();
    QVERIFY(controller->speedProbeInFlight());
    controller->resetRuntimeTrafficStats(false);
    QVERIFY(!controller->speedProbeInFlight());
    QVERIFY(!controller->runtimeTrafficTimer()->isActive());
    QVERIFY(!controller->connectedAt().isValid());

    QSignalSpy dashboardSpy(controller.get(), &AppController::dashboardChanged);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QLatin1String(kSpeedProbeDownload)), downloads + 1, 5000);
    QTest::qWait(1200); // the late answer arrives and is dropped
    QCOMPARE(dashboardSpy.count(), 0);
    QCOMPARE(m_server->requestCount(QLatin1String(kSpeedProbeUpload)), uploads);
    QCOMPARE(controller->sessionDownloadBytes(), 0);
    QCOMPARE(controller->downloadRate(), 0);
    QVERIFY(!controller->speedProbeInFlight());
    QCOMPARE(controller->dashboard().value(QStringLiteral("uptime")).toString(), QStringLiteral("00:00:00"));
}

void TrafficTest::resetBooksSession_data()
{
    QTest::addColumn<bool>("commit");
    QTest::addColumn<qint64>("upload");
    QTest::addColumn<qint64>("download");
    QTest::addColumn<qint64>("bookedBytes");
    QTest::addColumn<int>("bookedSessions");
    QTest::newRow("commit") << true << qint64(3000) << qint64(-7) << qint64(3000) << 1;
    QTest::newRow("commit without bytes counts the session") << true << qint64(0) << qint64(0) << qint64(0) << 1;
    QTest::newRow("no commit") << false << qint64(3000) << qint64(4000) << qint64(0) << 0;
}

void TrafficTest::resetBooksSession()
{
    QFETCH(bool, commit);
    QFETCH(qint64, upload);
    QFETCH(qint64, download);
    QFETCH(qint64, bookedBytes);
    QFETCH(int, bookedSessions);

    auto controller = connectedController();
    QVERIFY(controller);
    // Forget the probe's own bytes: the rows book exactly theirs.
    controller->resetRuntimeTrafficStats(false);
    controller->setVpnPhase(QStringLiteral("verifying"), QStringLiteral("x"));
    m_server->setFault(QLatin1String(kSpeedProbeDownload), DevServer::Fault::withStatus(503, QString(), 1));
    controller->setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->speedProbeInFlight(), 5000);
    QCOMPARE(controller->sessionDownloadBytes() + controller->sessionUploadBytes(), 0);

    const QVariantMap before = controller->dashboard();
    const qint64 usage = before.value(QStringLiteral("todayUsageBytes")).toLongLong();
    const int sessionsWhileRunning = before.value(QStringLiteral("todaySessions")).toInt();
    controller->applyRuntimeSpeedProbeSample(1, 1, upload, download);
    const int hour = QTime::currentTime().hour();
    const qint64 hourBefore = controller->dashboard().value(QStringLiteral("todayUsageHourlyBytes")).toList().at(hour).toLongLong()
        - qMax<qint64>(0, upload) - qMax<qint64>(0, download);

    controller->resetRuntimeTrafficStats(commit);
    const QVariantMap after = controller->dashboard();
    QCOMPARE(after.value(QStringLiteral("todayUsageBytes")).toLongLong(), usage + bookedBytes);
    QCOMPARE(after.value(QStringLiteral("todayUsage")).toString().endsWith(QLatin1String(" GB")), true);
    QCOMPARE(after.value(QStringLiteral("todayUsageHourlyBytes")).toList().at(hour).toLongLong(), hourBefore + bookedBytes);
    // While running the session already counted as one; after the reset it is booked or gone.
    QCOMPARE(after.value(QStringLiteral("todaySessions")).toInt(), sessionsWhileRunning - 1 + bookedSessions);
    QCOMPARE(after.value(QStringLiteral("upload")).toString(), QStringLiteral("0 B/s"));
    QCOMPARE(after.value(QStringLiteral("downloadHistory")).toList(), QVariantList(30, 0));
}

void TrafficTest::speedTestGates_data()
{
    QTest::addColumn<bool>("signIn");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("error");
    QTest::newRow("signed out") << false << QStringLiteral("connected") << QStringLiteral("请先登录后再测速。");
    QTest::newRow("verifying") << true << QStringLiteral("verifying") << QStringLiteral("请先开启 VPN 后再测速");
    QTest::newRow("disconnected") << true << QStringLiteral("disconnected") << QStringLiteral("请先开启 VPN 后再测速");
}

void TrafficTest::speedTestGates()
{
    QFETCH(bool, signIn);
    QFETCH(QString, phase);
    QFETCH(QString, error);
    std::unique_ptr<AppController> controller;
    if (signIn) {
        controller = std::make_unique<AppController>();
        controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
        QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && controller->bootstrapReady() && !controller->busy(), 15000);
    } else {
        controller = std::make_unique<AppController>();
    }
    controller->setVpnPhase(phase, QStringLiteral("x"));
    QSignalSpy finished(controller.get(), &AppController::speedTestFinished);
    controller->runSpeedTest();
    QCOMPARE(controller->apiError(), error);
    QVERIFY(!controller->busy());
    QTest::qWait(100);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(m_server->requestCount(QLatin1String(kSpeedTest)), 0);
}

void TrafficTest::speedTestSendsOnceAndReloadsFirst()
{
    auto controller = connectedController();
    QVERIFY(controller);
    const int recordsBefore = controller->experience().value(QStringLiteral("speed")).toMap()
                                  .value(QStringLiteral("records")).toList().size();
    int recordsAtFinish = -1;
    QList<bool> results;
    connect(controller.get(), &AppController::speedTestFinished, this, [&](bool success) {
        results << success;
        recordsAtFinish = controller->experience().value(QStringLiteral("speed")).toMap()
                              .value(QStringLiteral("records")).toList().size();
    });
    QSignalSpy busy(controller.get(), &AppController::busyChanged);
    controller->runSpeedTest();
    QVERIFY(controller->busy());
    QCOMPARE(controller->statusText(), QStringLiteral("测速中..."));
    controller->runSpeedTest();
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
    QCOMPARE(results.first(), true);
    QCOMPARE(recordsAtFinish, recordsBefore + 1);
    QCOMPARE(m_server->requestCount(QLatin1String(kSpeedTest)), 1);
    QCOMPARE(controller->statusText(), QStringLiteral("测速完成"));
    QVERIFY(!controller->busy());
    QCOMPARE(busy.count(), 2);
}

void TrafficTest::failedSpeedTestReportsIt()
{
    auto controller = connectedController();
    QVERIFY(controller);
    m_server->setFault(QLatin1String(kSpeedTest), DevServer::Fault::withStatus(500, QStringLiteral("engine room flooded")));
    QSignalSpy finished(controller.get(), &AppController::speedTestFinished);
    controller->runSpeedTest();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(controller->statusText(), QStringLiteral("测速失败"));
    QVERIFY(!controller->busy());
}

QTEST_MAIN(TrafficTest)
#include "tst_traffic.moc"
