#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "i18n/translations.h"
#include "testenvironment.h"
#include "testaccounts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

const QString kLoginRoute = QStringLiteral("/api/v1/auth/login");
const QString kLogoutRoute = QStringLiteral("/api/v1/auth/logout");
const QString kBootstrapRoute = QStringLiteral("/api/v1/bootstrap");

} // namespace

// Sign-in, registration, sign-out and the stored session, against the real
// development backend.
class SessionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void validationRefusesWithoutSending_data();
    void validationRefusesWithoutSending();
    void signInWithPassword();
    void wrongPasswordKeepsSignedOut();
    void signInWithCode();
    void registrationWithBlankNameUsesEmailLocalPart();
    void sessionSurvivesRestart();
    void failedLogoutKeepsSession();
    void forcedLogoutDuringSignOutShowsNoDialog();
    void forcedLogoutShowsKickDialog();
    void bootstrapCallsJoin();
    void deleteAccountSkipsLogout();
    void revokeDeviceRules_data();
    void revokeDeviceRules();
    void revokeAnotherDevice();
    void changePasswordEndsSession();
    void resetPasswordWithMailedCode();
    void navigateRefreshes_data();
    void navigateRefreshes();
    void cataloguePageStartsOneBootstrapBeforeCatalogue();
    void bootstrapSectionsKeepOrReplace();
    void routingModeIsPersistedAndSent();
    void wrongCodeIsACodeError();
    void storedSessionIsPrivateToTheUser();
    void lateAnswerOfEndedSession_data();
    void lateAnswerOfEndedSession();
    void forcedLogoutDuringSignInBootstrapEndsOnAuthPage();
    void retryOfEndedSessionNeverGoesOut();

private:
    std::unique_ptr<AppController> newController();
    void signInAsMember(AppController &controller);
    QString registerFreshAccount(AppController &controller, const QString &email, const QString &name);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
};

void SessionTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
}

void SessionTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    m_server->clearFaults();
    m_server->resetRequestCounts();
}

void SessionTest::cleanup()
{
    m_server->clearFaults();
}

std::unique_ptr<AppController> SessionTest::newController()
{
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(fastTimings());
    return controller;
}

void SessionTest::signInAsMember(AppController &controller)
{
    controller.signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller.loggedIn() && !controller.busy(), 15000);
}

QString SessionTest::registerFreshAccount(AppController &controller, const QString &email, const QString &name)
{
    if (controller.sendVerificationCode(email, QStringLiteral("register")) != QLatin1String("sent"))
        return QString();
    const QString code = m_server->lastMailCode(email);
    controller.registerAccount(email, QStringLiteral("Fresh-pass-2026"), name, code, QString());
    return code;
}

void SessionTest::validationRefusesWithoutSending_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("message");

    QTest::newRow("sign-in blank email") << "signIn" << "   " << "pw" << "请输入邮箱和密码。";
    QTest::newRow("sign-in empty password") << "signIn" << "a@b.c" << "" << "请输入邮箱和密码。";
    QTest::newRow("code too short") << "signInWithCode" << "a@b.c" << "12345" << "请输入正确的邮箱地址和 6 位验证码。";
    QTest::newRow("code too long") << "signInWithCode" << "a@b.c" << "1234567" << "请输入正确的邮箱地址和 6 位验证码。";
    QTest::newRow("code email without at") << "signInWithCode" << "abc" << "123456" << "请输入正确的邮箱地址和 6 位验证码。";
    QTest::newRow("send code without at") << "sendVerificationCode" << "abc" << "" << "请输入有效的邮箱地址。";
    QTest::newRow("verify bad code") << "verifyCode" << "a@b.c" << "12" << "请输入正确的邮箱地址和 6 位验证码。";
    QTest::newRow("reset without password") << "resetPassword" << "a@b.c" << "" << "请输入邮箱和新密码。";
    QTest::newRow("register blank email") << "registerAccount" << " " << "pw" << "请输入邮箱和密码。";
    QTest::newRow("change password signed out") << "changePassword" << "" << "" << "请先登录后再修改密码。";
    QTest::newRow("delete signed out") << "deleteAccount" << "" << "" << "请先登录后再注销账号。";
    QTest::newRow("revoke signed out") << "revokeDevice" << "" << "dev" << "请先登录后再管理设备。";
}

void SessionTest::validationRefusesWithoutSending()
{
    QFETCH(QString, operation);
    QFETCH(QString, email);
    QFETCH(QString, secret);
    QFETCH(QString, message);
    auto controller = newController();
    QTest::qWait(50); // let the start-up task run
    m_server->resetRequestCounts();

    if (operation == QLatin1String("signIn"))
        controller->signIn(email, secret);
    else if (operation == QLatin1String("signInWithCode"))
        controller->signInWithCode(email, secret);
    else if (operation == QLatin1String("sendVerificationCode"))
        QCOMPARE(controller->sendVerificationCode(email, QString()), QString());
    else if (operation == QLatin1String("verifyCode"))
        QVERIFY(!controller->verifyCode(email, QStringLiteral("reg"), secret));
    else if (operation == QLatin1String("resetPassword"))
        controller->resetPassword(email, secret);
    else if (operation == QLatin1String("registerAccount"))
        controller->registerAccount(email, secret, QString());
    else if (operation == QLatin1String("changePassword"))
        controller->changePassword(QStringLiteral("old-password"), QStringLiteral("new-password"));
    else if (operation == QLatin1String("deleteAccount"))
        controller->deleteAccount();
    else if (operation == QLatin1String("revokeDevice"))
        controller->revokeDevice(secret);

    QCOMPARE(controller->apiError(), message);
    QVERIFY(!controller->busy());
    QTest::qWait(100);
    int total = 0;
    for (const char *route : {"/api/v1/auth/login", "/api/v1/auth/register", "/api/v1/auth/send-code",
                              "/api/v1/auth/verify-code", "/api/v1/auth/reset-password", "/api/v1/account/password",
                              "/api/v1/account/delete", "/api/v1/devices/revoke"})
        total += m_server->requestCount(QLatin1String(route));
    QCOMPARE(total, 0);
}

void SessionTest::signInWithPassword()
{
    auto controller = newController();
    QSignalSpy loggedIn(controller.get(), &AppController::loggedInChanged);
    signInAsMember(*controller);
    QCOMPARE(controller->authEmail(), kMemberEmail);
    QVERIFY(!controller->authToken().isEmpty());
    QCOMPARE(controller->currentPage(), QStringLiteral("connect"));
    QCOMPARE(controller->statusText(), QStringLiteral("登录成功"));
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 1);
    QVERIFY(controller->bootstrapReady());
    QVERIFY(loggedIn.count() >= 1);
    // The session's ten keys are stored.
    auto s = store();
    QCOMPARE(s.value(QStringLiteral("session/token")).toString(), controller->authToken());
    QCOMPARE(s.value(QStringLiteral("session/email")).toString(), kMemberEmail);
    QVERIFY(s.contains(QStringLiteral("session/membershipActive")));
}

void SessionTest::wrongPasswordKeepsSignedOut()
{
    auto controller = newController();
    controller->signIn(kMemberEmail, QStringLiteral("wrong-password"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 10000);
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->apiError(), QStringLiteral("用户名或密码错误"));
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 0);
}

void SessionTest::signInWithCode()
{
    auto controller = newController();
    QCOMPARE(controller->sendVerificationCode(QStringLiteral(" trial@quillet.dev "), QStringLiteral("login")),
             QStringLiteral("sent"));
    QCOMPARE(controller->statusText(), QStringLiteral("验证码已发送，请查看邮箱。"));
    const QString code = m_server->lastMailCode(QStringLiteral("trial@quillet.dev"));
    QCOMPARE(code.size(), 6);
    controller->signInWithCode(QStringLiteral("trial@quillet.dev"), QStringLiteral(" %1 ").arg(code));
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    QCOMPARE(controller->authEmail(), QStringLiteral("trial@quillet.dev"));
}

void SessionTest::registrationWithBlankNameUsesEmailLocalPart()
{
    auto controller = newController();
    const QString email = QStringLiteral("new.user+%1@example.org").arg(QDateTime::currentMSecsSinceEpoch());
    QVERIFY(!registerFreshAccount(*controller, email, QStringLiteral("   ")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    QCOMPARE(controller->statusText(), QStringLiteral("注册成功，已自动登录"));
    QString storedName;
    m_server->run([&](DevServer &server) {
        const auto account = server.store().accountByEmail(email);
        if (account)
            storedName = account->name;
    });
    QCOMPARE(storedName, email.section(QLatin1Char('@'), 0, 0));
}

void SessionTest::sessionSurvivesRestart()
{
    QString token;
    {
        auto controller = newController();
        signInAsMember(*controller);
        token = controller->authToken();
    }
    m_server->resetRequestCounts();
    auto restarted = newController();
    QVERIFY(restarted->loggedIn());
    QCOMPARE(restarted->authToken(), token);
    QCOMPARE(restarted->currentPage(), QStringLiteral("connect"));
    // The deferred bootstrap succeeds and keeps the session.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(kBootstrapRoute), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(restarted->bootstrapReady(), 10000);
    QVERIFY(restarted->loggedIn());
}

void SessionTest::failedLogoutKeepsSession()
{
    auto controller = newController();
    signInAsMember(*controller);
    m_server->setFault(kLogoutRoute, DevServer::Fault::withStatus(500, QStringLiteral("maintenance")));
    controller->signOut();
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->apiError(), QStringLiteral("服务器暂时不可用，请稍后再试。"));
    QVERIFY(store().contains(QStringLiteral("session/token")));

    controller->signOut();
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->statusText(), QStringLiteral("已退出登录"));
    QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
    QCOMPARE(controller->selectedNodeId(), QStringLiteral("hk-smart"));
    QCOMPARE(controller->nodeSelectionMode(), QStringLiteral("smart"));
    QVERIFY(!store().contains(QStringLiteral("session/token")));
}

void SessionTest::forcedLogoutDuringSignOutShowsNoDialog()
{
    auto controller = newController();
    signInAsMember(*controller);
    m_server->setFault(kLogoutRoute, DevServer::Fault::withStatus(401, QStringLiteral("invalid token")));
    controller->signOut();
    QVERIFY(!controller->loggedIn());
    QVERIFY(!controller->sessionKickDialogVisible());
    QCOMPARE(controller->statusText(), QStringLiteral("已退出登录"));
}

void SessionTest::forcedLogoutShowsKickDialog()
{
    auto controller = newController();
    signInAsMember(*controller);
    m_server->setFault(kBootstrapRoute, DevServer::Fault::withStatus(401, QStringLiteral("session expired")));
    controller->navigate(QStringLiteral("profile"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 10000);
    QVERIFY(controller->sessionKickDialogVisible());
    QCOMPARE(controller->sessionKickDialogMessage(), QStringLiteral("您已被踢下线。"));
    QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
    controller->dismissSessionKickDialog();
    QVERIFY(!controller->sessionKickDialogVisible());
    QVERIFY(controller->sessionKickDialogMessage().isEmpty());
}

void SessionTest::bootstrapCallsJoin()
{
    auto controller = newController();
    signInAsMember(*controller);
    m_server->resetRequestCounts();
    m_server->setFault(kBootstrapRoute, DevServer::Fault::delayed(300));
    QList<int> order;
    QList<bool> results;
    controller->loadBootstrapAsync([&](bool ok) { order << 1; results << ok; }, false);
    controller->loadBootstrapAsync([&](bool ok) { order << 2; results << ok; }, true);
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 10000);
    QCOMPARE(order, (QList<int>{1, 2}));
    QCOMPARE(results, (QList<bool>{true, true}));
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 1);
}

void SessionTest::deleteAccountSkipsLogout()
{
    auto controller = newController();
    const QString email = QStringLiteral("leaving+%1@example.org").arg(QDateTime::currentMSecsSinceEpoch());
    QVERIFY(!registerFreshAccount(*controller, email, QStringLiteral("Leaver")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    m_server->resetRequestCounts();
    controller->deleteAccount();
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->statusText(), QStringLiteral("已退出登录"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/account/delete")), 1);
    QCOMPARE(m_server->requestCount(kLogoutRoute), 0);
}

void SessionTest::revokeDeviceRules_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("requests");
    QTest::newRow("blank id") << QStringLiteral("   ") << QStringLiteral("设备 ID 为空，无法下线。") << 0;
    QTest::newRow("unknown device") << QStringLiteral("no-such-device") << QStringLiteral("目标设备已不在线，请刷新设备列表后重试。") << 1;
}

void SessionTest::revokeDeviceRules()
{
    QFETCH(QString, deviceId);
    QFETCH(QString, message);
    QFETCH(int, requests);
    auto controller = newController();
    signInAsMember(*controller);
    controller->revokeDevice(deviceId);
    QCOMPARE(controller->apiError(), message);
    QVERIFY(!controller->busy());
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/devices/revoke")), requests);
}

void SessionTest::revokeAnotherDevice()
{
    // A second device of the same account, signed in over plain HTTP.
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(m_server->baseUrl() + kLoginRoute));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = network.post(request, QJsonDocument(QJsonObject{{"email", kMemberEmail}, {"password", kMemberPassword},
                                                                            {"device_id", "other-laptop"}, {"device_name", "Laptop"}})
                                                     .toJson());
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    reply->deleteLater();

    auto controller = newController();
    signInAsMember(*controller);
    QSignalSpy experience(controller.get(), &AppController::experienceChanged);
    controller->navigate(QStringLiteral("devices"));
    QVERIFY(experience.wait(10000));
    const QVariantMap devices = controller->experience().value(QStringLiteral("devices")).toMap();
    QStringList ids;
    for (const QVariant &item : devices.value(QStringLiteral("items")).toList())
        ids << item.toMap().value(QStringLiteral("id")).toString();
    QVERIFY2(ids.contains(QStringLiteral("other-laptop")), qPrintable(ids.join(',')));
    QVERIFY(devices.value(QStringLiteral("limit")).toInt() >= 1);
    QVERIFY(!devices.value(QStringLiteral("capacity")).toString().isEmpty());

    controller->revokeDevice(QStringLiteral("other-laptop"));
    QCOMPARE(controller->toastMessage(), QStringLiteral("设备已下线"));
    // The home status line goes on telling the connection's state.
    QCOMPARE(controller->statusText(), QStringLiteral("未连接"));
    QVERIFY(controller->apiError().isEmpty());
    QVERIFY(!controller->busy());
}

void SessionTest::changePasswordEndsSession()
{
    auto controller = newController();
    const QString email = QStringLiteral("changer+%1@example.org").arg(QDateTime::currentMSecsSinceEpoch());
    QVERIFY(!registerFreshAccount(*controller, email, QStringLiteral("Changer")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);

    controller->changePassword(QStringLiteral("not-the-password"), QStringLiteral("Another-pass-2026"));
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->apiError(), QStringLiteral("当前密码不正确，请重新输入。"));

    controller->changePassword(QStringLiteral("Fresh-pass-2026"), QStringLiteral("Another-pass-2026"));
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->statusText(), QStringLiteral("密码已更新，请重新登录。"));
    QCOMPARE(controller->currentPage(), QStringLiteral("auth"));

    controller->signIn(email, QStringLiteral("Another-pass-2026"));
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
}

void SessionTest::resetPasswordWithMailedCode()
{
    auto controller = newController();
    const QString email = QStringLiteral("forgetful+%1@example.org").arg(QDateTime::currentMSecsSinceEpoch());
    QVERIFY(!registerFreshAccount(*controller, email, QStringLiteral("Forgetful")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    controller->signOut();
    QVERIFY(!controller->loggedIn());

    QCOMPARE(controller->sendVerificationCode(email, QStringLiteral("reset")), QStringLiteral("sent"));
    const QString code = m_server->lastMailCode(email);
    QVERIFY(controller->verifyCode(email, QStringLiteral("reset"), code));
    QCOMPARE(controller->statusText(), QStringLiteral("邮箱验证成功"));
    controller->resetPassword(email, QStringLiteral("Reset-pass-2026"), code);
    QVERIFY(controller->apiError().isEmpty());
    QCOMPARE(controller->statusText(), QStringLiteral("密码已更新，请重新登录。"));

    controller->signIn(email, QStringLiteral("Fresh-pass-2026"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 10000);
    QVERIFY(!controller->loggedIn());
    controller->signIn(email, QStringLiteral("Reset-pass-2026"));
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
}

void SessionTest::navigateRefreshes_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("routes");
    QTest::newRow("billing") << "billing" << QStringList{"/api/v1/billing"};
    QTest::newRow("devices") << " devices " << QStringList{"/api/v1/devices"};
    QTest::newRow("invite") << "invite" << QStringList{"/api/v1/invite"};
    QTest::newRow("profile") << "profile"
                             << QStringList{"/api/v1/bootstrap", "/api/v1/billing", "/api/v1/devices", "/api/v1/invite"};
}

void SessionTest::navigateRefreshes()
{
    QFETCH(QString, page);
    QFETCH(QStringList, routes);
    auto controller = newController();
    signInAsMember(*controller);
    m_server->resetRequestCounts();
    controller->navigate(page);
    QCOMPARE(controller->currentPage(), page.trimmed());
    for (const QString &route : routes)
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(route), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->networkLoading(), 10000);
    // The same page again refreshes again; a gate only holds while a refresh is in flight.
    controller->navigate(page);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(routes.last()), 2, 10000);
}

void SessionTest::cataloguePageStartsOneBootstrapBeforeCatalogue()
{
    {
        auto controller = newController();
        signInAsMember(*controller);
    }
    m_server->resetRequestCounts();
    auto restored = newController();
    QSignalSpy loading(restored.get(), &AppController::networkLoadingChanged);
    // Before the deferred start-up bootstrap has run: no catalogue yet.
    restored->navigate(QStringLiteral(" plans "));
    QVERIFY(restored->networkLoading());
    QCOMPARE(restored->loadingText(), QStringLiteral("正在同步账户与节点信息..."));
    QTRY_VERIFY_WITH_TIMEOUT(restored->bootstrapReady(), 10000);
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!restored->networkLoading(), 10000);
}

void SessionTest::bootstrapSectionsKeepOrReplace()
{
    AppController controller;
    const QVariantList plans = controller.plans();
    const QVariantMap dashboard = controller.dashboard();
    controller.applyBootstrapResponse(QVariantMap{
        {QStringLiteral("user"), QVariantMap{{QStringLiteral("email"), QStringLiteral("x@y.z")},
                                             {QStringLiteral("selected_node_id"), QStringLiteral("missing-node")}}},
        {QStringLiteral("node_countries"), QVariantList{QVariantMap{{QStringLiteral("id"), QStringLiteral("hk")}},
                                                        QVariantMap{{QStringLiteral("id"), QStringLiteral("jp")}}}},
        {QStringLiteral("plans"), QVariantList{QVariantMap{{QStringLiteral("id"), QStringLiteral("p0")}, {QStringLiteral("devices"), 0}}}},
        {QStringLiteral("connectivity"), QVariantMap{{QStringLiteral("min_success_pct"), 50}, {QStringLiteral("extra"), 1}}},
    });
    // Empty nodes keep the catalogue; countries are always replaced.
    QCOMPARE(controller.nodes().size(), 3);
    QCOMPARE(controller.nodeCountries().size(), 2);
    QVERIFY(controller.bootstrapReady());
    // An unknown selected node falls back to the first node.
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("hk-smart"));
    // Plans replaced, with the pending device label.
    QCOMPARE(controller.plans().size(), 1);
    QCOMPARE(controller.plans().first().toMap().value(QStringLiteral("devices")).toString(), QStringLiteral("设备额度待同步"));
    QVERIFY(controller.plans() != plans);
    // Missing sections keep their values; connectivity overlays the defaults.
    QCOMPARE(controller.dashboard(), dashboard);
    QCOMPARE(controller.connectivitySettings().value(QStringLiteral("min_success_pct")).toInt(), 50);
    QCOMPARE(controller.connectivitySettings().value(QStringLiteral("probe_timeout_ms")).toInt(), 5000);
    QCOMPARE(controller.connectivitySettings().value(QStringLiteral("extra")).toInt(), 1);

    // A later answer without plans keeps them; an empty country list empties the countries.
    controller.applyBootstrapResponse(QVariantMap{{QStringLiteral("user"), QVariantMap{{QStringLiteral("email"), QStringLiteral("x@y.z")}}}});
    QCOMPARE(controller.plans().size(), 1);
    QVERIFY(controller.nodeCountries().isEmpty());
}

void SessionTest::routingModeIsPersistedAndSent()
{
    store().setValue(QStringLiteral("settings/routingMode"), QStringLiteral("GLOBAL "));
    auto controller = newController();
    signInAsMember(*controller);
    // The bootstrap's preferences take the local mode, normalized.
    QCOMPARE(controller->preferences().value(QStringLiteral("network")).toMap().value(QStringLiteral("routing_mode")).toString(),
             QStringLiteral("global"));
    QCOMPARE(store().value(QStringLiteral("settings/routingMode")).toString(), QStringLiteral("global"));

    m_server->resetRequestCounts();
    QSignalSpy settings(controller.get(), &AppController::settingsChanged);
    controller->setPreference(QStringLiteral("network"), QStringLiteral("routing_mode"), QStringLiteral("smart"));
    QCOMPARE(controller->localSettings().value(QStringLiteral("routingMode")).toString(), QStringLiteral("smart"));
    QCOMPARE(store().value(QStringLiteral("settings/routingMode")).toString(), QStringLiteral("smart"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/preferences")), 1);
    QVERIFY(settings.count() >= 1);

    // The same value again changes nothing and sends nothing.
    controller->setPreference(QStringLiteral("network"), QStringLiteral("routing_mode"), QStringLiteral("smart"));
    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("smart"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/preferences")), 1);

    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral(" Global "));
    QCOMPARE(controller->localSettings().value(QStringLiteral("routingMode")).toString(), QStringLiteral("global"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/preferences")), 2);
    // The server now holds the mode: a new sign-in elsewhere sees it.
    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("fixed"));
    QCOMPARE(controller->localSettings().value(QStringLiteral("routingMode")).toString(), QStringLiteral("smart"));
}

void SessionTest::wrongCodeIsACodeError()
{
    auto controller = newController();
    QCOMPARE(controller->sendVerificationCode(kTrialEmail, QStringLiteral("login")), QStringLiteral("sent"));
    const QString code = m_server->lastMailCode(kTrialEmail);
    const QString wrong = code == QLatin1String("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
    controller->signInWithCode(kTrialEmail, wrong);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 10000);
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->apiError(), QStringLiteral("验证码无效或已过期，请重新获取。"));
}

void SessionTest::storedSessionIsPrivateToTheUser()
{
    auto controller = newController();
    signInAsMember(*controller);
    auto settings = store();
    settings.sync();
    const QFileInfo file(settings.fileName());
    QVERIFY(file.exists());
    QCOMPARE(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QFileInfo folder(file.absolutePath());
    QCOMPARE(folder.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::ExeOther),
             QFileDevice::Permissions());
}

// A request of user A is still out when A's session ends and B signs in:
// its answer, a 401 or A's data, must not touch B's session.
void SessionTest::lateAnswerOfEndedSession_data()
{
    QTest::addColumn<bool>("tokenRevoked"); // true: the late answer is a 401
    QTest::newRow("late 401 of the old session") << true;
    QTest::newRow("late success of the old session") << false;
}

void SessionTest::lateAnswerOfEndedSession()
{
    QFETCH(bool, tokenRevoked);
    auto controller = newController();
    signInAsMember(*controller);
    m_server->resetRequestCounts();
    m_server->setFault(kBootstrapRoute, DevServer::Fault::delayed(1500));
    bool oldWaiterCalled = false;
    controller->loadBootstrapAsync([&](bool) { oldWaiterCalled = true; }, false);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(kBootstrapRoute), 1, 5000);
    // Without the server's logout the old token stays valid, so its late answer is a success.
    if (!tokenRevoked)
        m_server->setFault(kLogoutRoute, DevServer::Fault::withStatus(401, QStringLiteral("invalid token")));
    controller->signOut();
    QVERIFY(!controller->loggedIn());

    controller->signIn(kTrialEmail, kTrialPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 10000);
    QCOMPARE(controller->currentPage(), QStringLiteral("connect"));
    const QString token = controller->authToken();
    // The old answer arrives after the new session's own bootstrap.
    QTest::qWait(1800);
    QVERIFY(controller->loggedIn());
    QCOMPARE(controller->authToken(), token);
    QCOMPARE(controller->authEmail(), kTrialEmail);
    QVERIFY(!controller->sessionKickDialogVisible());
    QVERIFY(controller->apiError().isEmpty());
    QVERIFY(!oldWaiterCalled);
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 2);
}

void SessionTest::forcedLogoutDuringSignInBootstrapEndsOnAuthPage()
{
    auto controller = newController();
    m_server->setFault(kBootstrapRoute, DevServer::Fault::withStatus(401, QStringLiteral("session expired")));
    controller->signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->sessionKickDialogVisible(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->busy(), 5000);
    QVERIFY(!controller->loggedIn());
    QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
    QTest::qWait(200);
    QCOMPARE(controller->currentPage(), QStringLiteral("auth"));
}

void SessionTest::retryOfEndedSessionNeverGoesOut()
{
    auto controller = newController();
    ApiTimings timings = fastTimings();
    timings.jsonRetryDelayMs = 600;
    controller->setApiTimingsForTesting(timings);
    signInAsMember(*controller);
    m_server->resetRequestCounts();
    m_server->setFault(kBootstrapRoute, DevServer::Fault::withStatus(503, QStringLiteral("busy")));
    controller->loadBootstrapAsync({}, false);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(kBootstrapRoute), 1, 5000);
    // The first answer failed; its retry waits. The session ends meanwhile.
    m_server->setFault(kLogoutRoute, DevServer::Fault::withStatus(401, QStringLiteral("invalid token")));
    controller->signOut();
    QVERIFY(!controller->loggedIn());
    controller->updateApiError(QString());
    QTest::qWait(900);
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 1);
    QVERIFY(controller->apiError().isEmpty());
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
