#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QNetworkRequest>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

// The controller's side of the API client that needs no backend: request
// construction, base-URL changes, the loading indicator and the refresh gates.
class ApiControllerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void requestHeaders_data();
    void requestHeaders();
    void requestAttributes();

    void setApiBaseUrlRejectsInvalid();
    void setApiBaseUrlSameValueIsSilent();
    void setApiBaseUrlSignedOut();
    void setApiBaseUrlSignedIn();

    void loadingIndicatorOverlapping();
    void loadingIndicatorEndWithoutBegin();
    void clearNetworkLoading();
    void refreshGates();
    void forceLogoutNeedsSignedInUser();

    void unsupportedMethodAsync();
    void unsupportedMethodBlocking();

private:
    static void storeSession(const QString &token);

    TestEnvironment m_env;
    QString m_deadBaseUrl;
};

namespace {

const QByteArrayList kIdentityHeaders{"Accept",        "Accept-Language",    "Cache-Control",
                                      "X-Tarn-Client-Platform", "X-Tarn-App-Version", "X-Tarn-Build"};

} // namespace

void ApiControllerTest::initTestCase()
{
    // A port nobody listens on, so nothing a test sends leaves this machine.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    m_deadBaseUrl = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
}

void ApiControllerTest::init()
{
    TestEnvironment::clearSettings();
    QSettings store(QStringLiteral("Quillet"), QStringLiteral("岚舟"));
    store.setValue(QStringLiteral("apiBaseUrl"), m_deadBaseUrl);
    store.setValue(QStringLiteral("device/id"), QStringLiteral("device-42"));
    // Texts read back in the source language.
    store.setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
}

void ApiControllerTest::storeSession(const QString &token)
{
    QSettings store(QStringLiteral("Quillet"), QStringLiteral("岚舟"));
    store.setValue(QStringLiteral("session/token"), token);
    store.setValue(QStringLiteral("session/email"), QStringLiteral("demo@quillet.dev"));
    store.setValue(QStringLiteral("session/selectedNodeId"), QStringLiteral("jp-1"));
    store.setValue(QStringLiteral("session/selectedPlanId"), QStringLiteral("monthly"));
    store.setValue(QStringLiteral("session/membershipActive"), true);
}

void ApiControllerTest::requestHeaders_data()
{
    QTest::addColumn<QString>("storedToken");
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QByteArray>("acceptLanguage");
    QTest::addColumn<bool>("expectTokenHeaders");

    QTest::newRow("signed out") << QString() << true << QStringLiteral("zh-Hans") << QByteArray("zh-CN") << false;
    QTest::newRow("token, flag off") << QStringLiteral("tok") << false << QStringLiteral("en") << QByteArray("en")
                                     << false;
    QTest::newRow("token, flag on") << QStringLiteral("tok") << true << QStringLiteral("zh-Hant") << QByteArray("zh-TW")
                                    << true;
    QTest::newRow("japanese") << QString() << false << QStringLiteral("ja") << QByteArray("ja") << false;
}

void ApiControllerTest::requestHeaders()
{
    QFETCH(QString, storedToken);
    QFETCH(bool, withToken);
    QFETCH(QString, language);
    QFETCH(QByteArray, acceptLanguage);
    QFETCH(bool, expectTokenHeaders);

    if (!storedToken.isEmpty())
        storeSession(storedToken);
    AppController controller;
    controller.setLanguage(language);

    const QNetworkRequest request =
        controller.buildApiRequest(QStringLiteral("/api/v1/nodes?refresh=1"), QStringLiteral("application/json"),
                                   withToken);
    QCOMPARE(request.url(), QUrl(m_deadBaseUrl + QStringLiteral("/api/v1/nodes?refresh=1")));
    QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("application/json"));
    QCOMPARE(request.header(QNetworkRequest::UserAgentHeader).toString(), QStringLiteral("Quillet Desktop/0.9.0"));

    QByteArrayList raw = request.rawHeaderList();
    raw.removeAll("Content-Type");
    raw.removeAll("User-Agent");
    QByteArrayList expected = kIdentityHeaders;
    if (expectTokenHeaders)
        expected << "Authorization" << "X-Tarn-Encrypted" << "X-Tarn-Device-ID";
    QCOMPARE(raw, expected);

    QCOMPARE(request.rawHeader("Accept"), QByteArray("application/json"));
    QCOMPARE(request.rawHeader("Accept-Language"), acceptLanguage);
    QCOMPARE(request.rawHeader("Cache-Control"), QByteArray("no-cache"));
#ifdef Q_OS_WIN
    QCOMPARE(request.rawHeader("X-Tarn-Client-Platform"), QByteArray("windows"));
#else
    QCOMPARE(request.rawHeader("X-Tarn-Client-Platform"), QByteArray("linux"));
#endif
    QCOMPARE(request.rawHeader("X-Tarn-App-Version"), QByteArray("0.9.0"));
    QCOMPARE(request.rawHeader("X-Tarn-Build"), QByteArray("0.9.0"));
    if (expectTokenHeaders) {
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + storedToken.toUtf8());
        QCOMPARE(request.rawHeader("X-Tarn-Encrypted"), QByteArray("1"));
        QCOMPARE(request.rawHeader("X-Tarn-Device-ID"), QByteArray("device-42"));
    }
}

void ApiControllerTest::requestAttributes()
{
    AppController controller;
    const QNetworkRequest request = controller.buildApiRequest(QStringLiteral("/api/v1/ping"), QString(), false);
    QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
             int(QNetworkRequest::NoLessSafeRedirectPolicy));
    QCOMPARE(request.attribute(QNetworkRequest::CacheLoadControlAttribute).toInt(),
             int(QNetworkRequest::AlwaysNetwork));
    QCOMPARE(request.attribute(QNetworkRequest::Http2AllowedAttribute).toBool(), false);
    QCOMPARE(request.attribute(QNetworkRequest::HttpPipeliningAllowedAttribute).toBool(), false);
    QVERIFY(!request.hasRawHeader("Content-Type"));
}

void ApiControllerTest::setApiBaseUrlRejectsInvalid()
{
    AppController controller;
    QSignalSpy urlSpy(&controller, &AppController::apiBaseUrlChanged);
    controller.setApiBaseUrl(QStringLiteral("https://"));
    QCOMPARE(controller.apiBaseUrl(), m_deadBaseUrl);
    QCOMPARE(controller.apiError(), QStringLiteral("服务器地址无效，请检查后重试。"));
    QCOMPARE(urlSpy.count(), 0);
}

void ApiControllerTest::setApiBaseUrlSameValueIsSilent()
{
    AppController controller;
    controller.setCurrentPage(QStringLiteral("servers"));
    const quint64 generation = controller.workflowGeneration();
    QSignalSpy urlSpy(&controller, &AppController::apiBaseUrlChanged);
    QSignalSpy pageSpy(&controller, &AppController::currentPageChanged);

    controller.setApiBaseUrl(QStringLiteral("  ") + m_deadBaseUrl + QStringLiteral("//"));
    QCOMPARE(urlSpy.count(), 0);
    QCOMPARE(pageSpy.count(), 0);
    QCOMPARE(controller.currentPage(), QStringLiteral("servers"));
    QCOMPARE(controller.workflowGeneration(), generation);
}

void ApiControllerTest::setApiBaseUrlSignedOut()
{
    AppController controller;
    // The start-up look for a tunnel left running advances the token too; let it finish first.
    QTRY_VERIFY(controller.startupReattachDone());
    controller.setCurrentPage(QStringLiteral("servers"));
    controller.updateApiError(QStringLiteral("old error"));
    const quint64 generation = controller.workflowGeneration();
    QSignalSpy urlSpy(&controller, &AppController::apiBaseUrlChanged);
    QSignalSpy loggedInSpy(&controller, &AppController::loggedInChanged);

    controller.setApiBaseUrl(QStringLiteral("127.0.0.1:9/tarn-api/"));
    QCOMPARE(controller.apiBaseUrl(), QStringLiteral("https://127.0.0.1:9/tarn-api"));
    QCOMPARE(urlSpy.count(), 1);
    QCOMPARE(loggedInSpy.count(), 0);
    QCOMPARE(controller.workflowGeneration(), generation + 1);
    QCOMPARE(controller.vpnPhase(), QStringLiteral("disconnected"));
    QCOMPARE(controller.statusText(), QStringLiteral("服务器地址已变更，请重新登录。"));
    QCOMPARE(controller.currentPage(), QStringLiteral("auth"));
    QVERIFY(controller.apiError().isEmpty());

    QSettings store(QStringLiteral("Quillet"), QStringLiteral("岚舟"));
    QCOMPARE(store.value(QStringLiteral("apiBaseUrl")).toString(), QStringLiteral("https://127.0.0.1:9/tarn-api"));
}

void ApiControllerTest::setApiBaseUrlSignedIn()
{
    storeSession(QStringLiteral("stored-token"));
    AppController controller;
    QVERIFY(controller.loggedIn());
    QCOMPARE(controller.currentPage(), QStringLiteral("connect"));

    QList<std::shared_ptr<QSignalSpy>> spies;
    for (const auto signal :
         {&AppController::loggedInChanged, &AppController::authChanged, &AppController::nodesChanged,
          &AppController::nodeCountriesChanged, &AppController::plansChanged, &AppController::dashboardChanged,
          &AppController::preferencesChanged, &AppController::experienceChanged, &AppController::supportChanged,
          &AppController::selectedNodeChanged, &AppController::currentPlanChanged}) {
        spies << std::make_shared<QSignalSpy>(&controller, signal);
    }

    // Before the deferred start-up task runs: the session ends locally, no
    // request goes to either server.
    controller.setApiBaseUrl(QStringLiteral("http://127.0.0.1:9"));
    for (const auto &spy : spies)
        QCOMPARE(spy->count(), 1);
    QVERIFY(!controller.loggedIn());
    QVERIFY(controller.authToken().isEmpty());
    QVERIFY(controller.authEmail().isEmpty());
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("hk-smart"));
    QVERIFY(controller.selectedPlanId().isEmpty());
    QVERIFY(!controller.hasActiveMembership());
    QCOMPARE(controller.currentPage(), QStringLiteral("auth"));
    QCOMPARE(controller.statusText(), QStringLiteral("服务器地址已变更，请重新登录。"));

    QSettings store(QStringLiteral("Quillet"), QStringLiteral("岚舟"));
    QVERIFY(!store.contains(QStringLiteral("session/token")));
    QVERIFY(!store.contains(QStringLiteral("session/selectedPlanId")));
}

void ApiControllerTest::loadingIndicatorOverlapping()
{
    AppController controller;
    QSignalSpy loadingSpy(&controller, &AppController::networkLoadingChanged);
    QSignalSpy textSpy(&controller, &AppController::loadingTextChanged);

    controller.beginNetworkLoading(QStringLiteral("/api/v1/bootstrap"));
    QVERIFY(controller.networkLoading());
    QCOMPARE(controller.loadingText(), QStringLiteral("正在同步账户与节点信息..."));
    controller.beginNetworkLoading(QStringLiteral("/api/v1/orders/cancel"));
    QCOMPARE(controller.loadingText(), QStringLiteral("正在同步订单状态..."));
    QCOMPARE(loadingSpy.count(), 1);
    QCOMPARE(textSpy.count(), 2);

    // The newest text stays while the older request is still out.
    controller.endNetworkLoading();
    QVERIFY(controller.networkLoading());
    QCOMPARE(controller.loadingText(), QStringLiteral("正在同步订单状态..."));
    QCOMPARE(loadingSpy.count(), 1);

    controller.endNetworkLoading();
    QVERIFY(!controller.networkLoading());
    QVERIFY(controller.loadingText().isEmpty());
    QCOMPARE(loadingSpy.count(), 2);
    QCOMPARE(textSpy.count(), 3);

    // The same text again emits no text change.
    controller.beginNetworkLoading(QStringLiteral("/api/v1/devices"));
    controller.beginNetworkLoading(QStringLiteral("/API/V1/DEVICES"));
    QCOMPARE(textSpy.count(), 4);
    QCOMPARE(loadingSpy.count(), 3);
}

void ApiControllerTest::loadingIndicatorEndWithoutBegin()
{
    AppController controller;
    QSignalSpy loadingSpy(&controller, &AppController::networkLoadingChanged);
    controller.endNetworkLoading();
    controller.clearNetworkLoading();
    QCOMPARE(loadingSpy.count(), 0);
    QVERIFY(!controller.networkLoading());
}

void ApiControllerTest::clearNetworkLoading()
{
    AppController controller;
    controller.beginNetworkLoading(QStringLiteral("/api/v1/bootstrap"));
    controller.beginNetworkLoading(QStringLiteral("/api/v1/billing"));
    QSignalSpy loadingSpy(&controller, &AppController::networkLoadingChanged);
    QSignalSpy textSpy(&controller, &AppController::loadingTextChanged);

    controller.clearNetworkLoading();
    QVERIFY(!controller.networkLoading());
    QVERIFY(controller.loadingText().isEmpty());
    QCOMPARE(loadingSpy.count(), 1);
    QCOMPARE(textSpy.count(), 1);

    // Requests abandoned by the clear end later without driving the depth below zero.
    controller.endNetworkLoading();
    QCOMPARE(loadingSpy.count(), 1);
    controller.beginNetworkLoading(QStringLiteral("/api/v1/billing"));
    QVERIFY(controller.networkLoading());
}

void ApiControllerTest::refreshGates()
{
    AppController controller;
    QVERIFY(controller.beginRefreshGate(QStringLiteral("billing")));
    QVERIFY(!controller.beginRefreshGate(QStringLiteral(" billing ")));
    QVERIFY(controller.beginRefreshGate(QStringLiteral("devices")));
    controller.endRefreshGate(QStringLiteral("billing  "));
    QVERIFY(controller.beginRefreshGate(QStringLiteral("billing")));
    // An empty key is never held.
    QVERIFY(controller.beginRefreshGate(QStringLiteral("  ")));
    QVERIFY(controller.beginRefreshGate(QString()));
    controller.endRefreshGate(QStringLiteral("never-begun"));
}

void ApiControllerTest::forceLogoutNeedsSignedInUser()
{
    {
        AppController signedOut;
        QVERIFY(!signedOut.shouldForceLogout(401, QString(), true));
    }
    storeSession(QStringLiteral("tok"));
    AppController signedIn;
    QVERIFY(signedIn.shouldForceLogout(401, QString(), true));
    QVERIFY(!signedIn.shouldForceLogout(401, QString(), false));
    QVERIFY(signedIn.shouldForceLogout(403, QStringLiteral("token revoked"), true));
}

void ApiControllerTest::unsupportedMethodAsync()
{
    AppController controller;
    QSignalSpy loadingSpy(&controller, &AppController::networkLoadingChanged);
    bool called = false;
    bool reportedSuccess = true;
    QByteArray reportedBody("untouched");
    controller.requestRawAsync(
        QStringLiteral("DELETE"), QStringLiteral("/api/v1/devices"), QByteArray(), QString(), false,
        [&](const QByteArray &body, bool success) {
            called = true;
            reportedSuccess = success;
            reportedBody = body;
        },
        true);
    // Later, never from inside the call.
    QVERIFY(!called);
    QCOMPARE(controller.apiError(), QStringLiteral("请求方式不受支持：DELETE，请更新应用后重试。"));
    QVERIFY(!controller.networkLoading());
    QCOMPARE(loadingSpy.count(), 2);
    QTRY_VERIFY(called);
    QVERIFY(!reportedSuccess);
    QVERIFY(reportedBody.isEmpty());
}

void ApiControllerTest::unsupportedMethodBlocking()
{
    AppController controller;
    // Methods are matched as written in the raw layer.
    QVERIFY(controller.requestJson(QStringLiteral("get"), QStringLiteral("/api/v1/ping"), QVariantMap(), false)
                .isEmpty());
    QCOMPARE(controller.apiError(), QStringLiteral("请求方式不受支持：get，请更新应用后重试。"));
    QVERIFY(!controller.networkLoading());
}

QTEST_GUILESS_MAIN(ApiControllerTest)
#include "tst_apicontroller.moc"
