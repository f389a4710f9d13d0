#include "api/retrybackoff.h"
#include "controller/appcontroller.h"
#include "i18n/translations.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"
#include "testaccounts.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

const QString kBootstrapRoute = QStringLiteral("/api/v1/bootstrap");
const QString kOfflineStatus = QStringLiteral("暂时无法连接服务器，网络恢复后自动重试");

// Shorter still: these tests wait out failing requests.
ApiTimings offlineTimings()
{
    ApiTimings timings;
    timings.qtTimeoutMs = 3000;
    timings.jsonRetryDelayMs = 50;
    timings.curlStartWaitMs = 1000;
    timings.curlFinishWaitMs = 3000;
    return timings;
}

} // namespace

// Everyday use: restarts of the client and the backend, starting offline.
class EverydayUseTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void retryBackoff_data();
    void retryBackoff();
    void startOfflineKeepsSessionUntilBackendReturns_data();
    void startOfflineKeepsSessionUntilBackendReturns();
    void startupBootstrapAnswer_data();
    void startupBootstrapAnswer();
    void refusedRoutingModeIsNotMarked();
    void namesSortInTheInterfaceLanguage_data();
    void namesSortInTheInterfaceLanguage();
    void statusFollowsTheBackendAcrossStreamLoss();
    void serverErrorsStayUntilTheFormChanges_data();
    void serverErrorsStayUntilTheFormChanges();

private:
    std::unique_ptr<AppController> newController(int retryFirstMs, int retryMaxMs);
    void storeSignedInSession();

    std::unique_ptr<TestEnvironment> m_env;
    QTemporaryDir m_data;
    std::unique_ptr<DevServerRunner> m_server;
    DevServer::Options m_options;
};

void EverydayUseTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_data.isValid());
    // On disk, so that a stopped and restarted backend still knows the session.
    m_options.dataDir = m_data.path();
    m_server = std::make_unique<DevServerRunner>(m_options);
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_options.port = m_server->port();
}

void EverydayUseTest::init()
{
    if (!m_server->isRunning())
        QVERIFY2(m_server->start(m_options), qPrintable(m_server->errorString()));
    m_server->clearFaults();
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
}

std::unique_ptr<AppController> EverydayUseTest::newController(int retryFirstMs, int retryMaxMs)
{
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(offlineTimings());
    // Before the event loop runs the deferred start-up.
    controller->setStartupRetryDelaysForTesting(retryFirstMs, retryMaxMs);
    return controller;
}

void EverydayUseTest::storeSignedInSession()
{
    AppController first;
    first.setApiTimingsForTesting(offlineTimings());
    first.signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(first.loggedIn() && !first.busy() && first.bootstrapReady(), 15000);
    QVERIFY(store().contains(QStringLiteral("session/token")));
}

void EverydayUseTest::retryBackoff_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<int>("firstMs");
    QTest::addColumn<int>("maxMs");
    QTest::addColumn<int>("expected");

    QTest::newRow("first try") << 0 << 2000 << 60000 << 2000;
    QTest::newRow("doubles") << 3 << 2000 << 60000 << 16000;
    QTest::newRow("capped") << 5 << 2000 << 60000 << 60000;
    QTest::newRow("huge attempt stays capped") << 1000 << 2000 << 60000 << 60000;
    QTest::newRow("no delay configured") << 2 << 0 << 60000 << 0;
}

void EverydayUseTest::retryBackoff()
{
    QFETCH(int, attempt);
    QFETCH(int, firstMs);
    QFETCH(int, maxMs);
    QFETCH(int, expected);
    QCOMPARE(Api::retryBackoffDelayMs(attempt, firstMs, maxMs), expected);
}

void EverydayUseTest::startOfflineKeepsSessionUntilBackendReturns_data()
{
    QTest::addColumn<int>("retryFirstMs");
    QTest::addColumn<bool>("networkReturns");

    QTest::newRow("back-off retry finds the backend") << 200 << false;
    QTest::newRow("network return retries at once") << 600000 << true;
}

void EverydayUseTest::startOfflineKeepsSessionUntilBackendReturns()
{
    QFETCH(int, retryFirstMs);
    QFETCH(bool, networkReturns);

    storeSignedInSession();
    const QString token = store().value(QStringLiteral("session/token")).toString();
    m_server->stop();

    auto controller = newController(retryFirstMs, retryFirstMs * 4);
    QTRY_VERIFY_WITH_TIMEOUT(controller->backendOffline(), 20000);
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->authToken(), token);
    QCOMPARE(store().value(QStringLiteral("session/token")).toString(), token);
    QCOMPARE(controller->currentPage(), QStringLiteral("connect"));
    QCOMPARE(controller->statusText(), kOfflineStatus);
    QVERIFY(!controller->sessionKickDialogVisible());
    QVERIFY(controller->startupRetryTimer() && controller->startupRetryTimer()->isActive());

    // Another failed round keeps it all.
    if (!networkReturns) {
        QSignalSpy retried(controller->startupRetryTimer(), &QTimer::timeout);
        QVERIFY(retried.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(controller->startupRetryTimer()->isActive(), 20000);
        QVERIFY(controller->loggedIn());
    }

    QVERIFY2(m_server->start(m_options), qPrintable(m_server->errorString()));
    if (networkReturns)
        controller->onNetworkReachable();
    QTRY_VERIFY_WITH_TIMEOUT(controller->bootstrapReady() && !controller->backendOffline(), 20000);
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->authEmail(), kMemberEmail);
    QCOMPARE(controller->statusText(), QStringLiteral("未连接"));
    QVERIFY(!controller->startupRetryTimer()->isActive());
}

void EverydayUseTest::startupBootstrapAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("sessionEnds");

    QTest::newRow("503 keeps the session") << 503 << QStringLiteral("maintenance") << false;
    QTest::newRow("502 keeps the session") << 502 << QString() << false;
    QTest::newRow("401 ends it") << 401 << QStringLiteral("invalid token") << true;
    QTest::newRow("403 token revoked ends it") << 403 << QStringLiteral("token revoked") << true;
}

void EverydayUseTest::startupBootstrapAnswer()
{
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(bool, sessionEnds);

    storeSignedInSession();
    m_server->setFault(kBootstrapRoute, DevServer::Fault::withStatus(status, error, 100));
    auto controller = newController(200, 800);

    if (sessionEnds) {
        QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 20000);
        QVERIFY(controller->sessionKickDialogVisible());
        QCOMPARE(controller->sessionKickDialogMessage(), QStringLiteral("您已被踢下线。"));
        QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
        QVERIFY(!controller->backendOffline());
        QVERIFY(!store().contains(QStringLiteral("session/token")));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(controller->backendOffline(), 20000);
    QVERIFY(controller->loggedIn());
    QVERIFY(store().contains(QStringLiteral("session/token")));
    m_server->clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(controller->bootstrapReady() && !controller->backendOffline(), 20000);
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->statusText(), QStringLiteral("未连接"));
}

void EverydayUseTest::refusedRoutingModeIsNotMarked()
{
    auto controller = newController(200, 800);
    controller->signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy() && controller->bootstrapReady(), 15000);
    const auto mode = [&controller] {
        return controller->localSettings().value(QStringLiteral("routingMode")).toString();
    };
    const auto preferredMode = [&controller] {
        return controller->preferences().value(QStringLiteral("network")).toMap().value(QStringLiteral("routing_mode"))
            .toString();
    };
    QCOMPARE(mode(), QStringLiteral("smart"));

    m_server->setFault(QStringLiteral("/api/v1/preferences"), DevServer::Fault::withStatus(503, QString(), 10));
    controller->setPreference(QStringLiteral("network"), QStringLiteral("routing_mode"), QStringLiteral("global"));
    QCOMPARE(mode(), QStringLiteral("smart"));
    QCOMPARE(preferredMode(), QStringLiteral("smart"));
    QCOMPARE(store().value(QStringLiteral("settings/routingMode")).toString(), QStringLiteral("smart"));
    QVERIFY(!controller->apiError().isEmpty());

    m_server->clearFaults();
    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("global"));
    QCOMPARE(mode(), QStringLiteral("global"));
    QCOMPARE(preferredMode(), QStringLiteral("global"));
}

void EverydayUseTest::namesSortInTheInterfaceLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    // Pinyin: a before ri, although 日 has the lower code point.
    QTest::newRow("zh-Hans pinyin") << QStringLiteral("zh-Hans") << QStringLiteral("阿根廷") << QStringLiteral("日本");
    QTest::newRow("en ignores case") << QStringLiteral("en") << QStringLiteral("hong Kong") << QStringLiteral("Japan");
    QTest::newRow("en accents beside their letter")
        << QStringLiteral("en") << QStringLiteral("Österreich") << QStringLiteral("Peru");
    QTest::newRow("ru Cyrillic alphabet") << QStringLiteral("ru") << QStringLiteral("Гонконг") << QStringLiteral("Япония");
    QTest::newRow("numbers by value") << QStringLiteral("en") << QStringLiteral("Node 2") << QStringLiteral("Node 10");
}

void EverydayUseTest::namesSortInTheInterfaceLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(I18n::compareNamesForLanguage(language, first, second) < 0);
    QVERIFY(I18n::compareNamesForLanguage(language, second, first) > 0);
}

// The backend goes away while the client runs: the session stays, the status line says
// offline, and once the event stream is back it is recomputed from the current state.
void EverydayUseTest::statusFollowsTheBackendAcrossStreamLoss()
{
    auto controller = newController(200, 800);
    controller->signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy() && controller->bootstrapReady(), 15000);
    const auto streamOpen = [&controller] {
        return controller->eventSocket() && controller->eventSocket()->state() == QAbstractSocket::ConnectedState;
    };
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(), 10000);
    // A text left over from something that failed earlier.
    controller->setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("测速失败"));

    m_server->stop();
    QTRY_VERIFY_WITH_TIMEOUT(controller->backendOffline(), 20000);
    QCOMPARE(controller->statusText(), kOfflineStatus);
    QVERIFY(controller->loggedIn());
    QVERIFY(store().contains(QStringLiteral("session/token")));

    QVERIFY2(m_server->start(m_options), qPrintable(m_server->errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen() && !controller->backendOffline(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("未连接"), 10000);
    QVERIFY(controller->loggedIn());
}

void EverydayUseTest::serverErrorsStayUntilTheFormChanges_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("error");

    QTest::newRow("sign-in with a wrong password") << false << QStringLiteral("Wrong-password-1") << "用户名或密码错误";
    QTest::newRow("password change with a wrong current one")
        << true << QStringLiteral("Wrong-password-1") << "当前密码不正确，请重新输入。";
}

// The controller keeps a refused form's error (the form shows it) without ending the
// session, and drops it when the interface moves to another form.
void EverydayUseTest::serverErrorsStayUntilTheFormChanges()
{
    QFETCH(bool, signedIn);
    QFETCH(QString, password);
    QFETCH(QString, error);

    auto controller = newController(200, 800);
    if (signedIn) {
        controller->signIn(kMemberEmail, kMemberPassword);
        QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy() && controller->bootstrapReady(), 15000);
        controller->changePassword(password, QStringLiteral("Another-password-2026"));
    } else {
        controller->signIn(kMemberEmail, password);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 15000);
    QCOMPARE(controller->apiError(), error);
    QCOMPARE(controller->loggedIn(), signedIn);
    QCOMPARE(store().contains(QStringLiteral("session/token")), signedIn);

    controller->clearApiError();
    QCOMPARE(controller->apiError(), QString());
    if (signedIn) {
        // The old password still works: nothing was changed by the refused request.
        controller->signOut();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn() && !controller->busy(), 15000);
        controller->signIn(kMemberEmail, kMemberPassword);
        QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    }
}

QTEST_MAIN(EverydayUseTest)
#include "tst_everydayuse.moc"
