#include "controller/appcontroller.h"
#include "i18n/translations.h"
#include "tunnel/singboxprocessmanager.h"
#include "testenvironment.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")); // i18n-exempt: store name
}

} // namespace

class ControllerCoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void defaults();
    void deviceIdentityIsCreatedOnceAndKept();
    void storedSessionIsRestored();
    void failedStartupBootstrapKeepsStoredSession();
    void routingModeIsNormalized_data();
    void routingModeIsNormalized();
    void storedLocalSettingsOverrideDefaults();
    void apiBaseUrlChoice_data();
    void apiBaseUrlChoice();
    void setterSignalRules();
    void toastRules();
    void navigateTrimsAndEmitsOnlyOnChange();
    void copyTextIgnoresBlankText();
    void languageChangeRetranslatesWithoutTouchingStoredText();
    void sameLanguageEmitsNothing();
    void engineExitWhileConnectedDisconnects();
    void engineExitWhileDisconnectedOnlyNotifies();
    void openingLineIsLogged();
    void planTexts_data();
    void planTexts();
    void membershipDialogSignals();

private:
    TestEnvironment m_env;
};

void ControllerCoreTest::init()
{
    TestEnvironment::clearSettings();
    qputenv("TARN_API_BASE_URL", "http://127.0.0.1:9");
    auto s = store();
    s.setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
}

void ControllerCoreTest::defaults()
{
    AppController controller;
    QCOMPARE(controller.currentPage(), QStringLiteral("auth"));
    QCOMPARE(controller.statusText(), QStringLiteral("登录后同步你的岚舟节点"));
    QCOMPARE(controller.vpnPhase(), QStringLiteral("disconnected"));
    QVERIFY(!controller.connected());
    QVERIFY(!controller.loggedIn());
    QVERIFY(!controller.busy());
    QVERIFY(!controller.networkLoading());
    QCOMPARE(controller.desktopPlatformLabel(), QStringLiteral("Linux"));
    QCOMPARE(controller.mtu(), 1400);
    QCOMPARE(controller.dnsPrimary(), QStringLiteral("1.1.1.1"));
    QCOMPARE(controller.dnsFallback(), QStringLiteral("8.8.8.8"));
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("hk-smart"));
    QCOMPARE(controller.nodeSelectionMode(), QStringLiteral("smart"));
    QCOMPARE(controller.language(), QStringLiteral("zh-Hans"));
    const QVariantMap dashboard = controller.dashboard();
    for (const char *key : {"todayUsageHourlyBytes", "uploadHistory", "downloadHistory"})
        QVERIFY2(dashboard.contains(QLatin1String(key)), key);
    const QVariantMap settings = controller.localSettings();
    QCOMPARE(settings.value(QStringLiteral("autoRoute")).toBool(), true);
    QCOMPARE(settings.value(QStringLiteral("strictRoute")).toBool(), true);
    QCOMPARE(settings.value(QStringLiteral("logLevel")).toString(), QStringLiteral("info"));
    QCOMPARE(settings.value(QStringLiteral("interfaceName")).toString(), QString());
}

void ControllerCoreTest::deviceIdentityIsCreatedOnceAndKept()
{
    QString firstId;
    {
        AppController controller;
        firstId = controller.deviceId();
        QVERIFY(!QUuid::fromString(firstId).isNull());
        QVERIFY(!firstId.startsWith(QLatin1Char('{')));
        QVERIFY(!controller.deviceName().isEmpty());
    }
    QCOMPARE(store().value(QStringLiteral("device/id")).toString(), firstId);
    AppController again;
    QCOMPARE(again.deviceId(), firstId);
}

void ControllerCoreTest::storedSessionIsRestored()
{
    {
        auto s = store();
        s.setValue(QStringLiteral("session/token"), QStringLiteral("tok-1"));
        s.setValue(QStringLiteral("session/email"), QStringLiteral("user@example.com"));
        s.setValue(QStringLiteral("session/selectedNodeId"), QStringLiteral("jp-1"));
        s.setValue(QStringLiteral("session/nodeSelectionMode"), QStringLiteral("fixed"));
        s.setValue(QStringLiteral("session/membershipActive"), true);
    }
    AppController controller;
    QVERIFY(controller.loggedIn());
    QCOMPARE(controller.authToken(), QStringLiteral("tok-1"));
    QCOMPARE(controller.authEmail(), QStringLiteral("user@example.com"));
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("jp-1"));
    QCOMPARE(controller.nodeSelectionMode(), QStringLiteral("fixed"));
    QVERIFY(controller.hasActiveMembership());
    QCOMPARE(controller.currentPage(), QStringLiteral("connect"));
    QCOMPARE(controller.statusText(), QStringLiteral("加载中..."));
}

void ControllerCoreTest::failedStartupBootstrapKeepsStoredSession()
{
    {
        auto s = store();
        s.setValue(QStringLiteral("session/token"), QStringLiteral("tok-2"));
        s.setValue(QStringLiteral("session/email"), QStringLiteral("user@example.com"));
    }
    AppController controller;
    QSignalSpy offline(&controller, &AppController::backendOfflineChanged);
    QVERIFY(offline.isValid());
    // The backend address is a closed port: an unreachable backend is no
    // verdict on the session, which stays while the client tries again.
    QVERIFY(offline.wait(20000));
    QVERIFY(controller.backendOffline());
    QVERIFY(controller.loggedIn());
    QCOMPARE(controller.currentPage(), QStringLiteral("connect"));
    QCOMPARE(controller.statusText(), QStringLiteral("暂时无法连接服务器，网络恢复后自动重试"));
    QCOMPARE(store().value(QStringLiteral("session/token")).toString(), QStringLiteral("tok-2"));
    QVERIFY(!controller.sessionKickDialogVisible());
}

void ControllerCoreTest::routingModeIsNormalized_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unset") << QVariant() << QStringLiteral("smart");
    QTest::newRow("upper-case global") << QVariant(QStringLiteral("GLOBAL")) << QStringLiteral("global");
    QTest::newRow("smart") << QVariant(QStringLiteral("smart")) << QStringLiteral("smart");
    QTest::newRow("unknown word") << QVariant(QStringLiteral("direct")) << QStringLiteral("smart");
    QTest::newRow("global with blank") << QVariant(QStringLiteral("global ")) << QStringLiteral("smart");
}

void ControllerCoreTest::routingModeIsNormalized()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    if (stored.isValid())
        store().setValue(QStringLiteral("settings/routingMode"), stored);
    AppController controller;
    QCOMPARE(controller.localSettings().value(QStringLiteral("routingMode")).toString(), expected);
    const QVariantMap network = controller.preferences().value(QStringLiteral("network")).toMap();
    QCOMPARE(network.value(QStringLiteral("routing_mode")).toString(), expected);
}

void ControllerCoreTest::storedLocalSettingsOverrideDefaults()
{
    {
        auto s = store();
        s.setValue(QStringLiteral("settings/mtu"), 1280);
        s.setValue(QStringLiteral("settings/dnsPrimary"), QStringLiteral("9.9.9.9"));
    }
    AppController controller;
    QCOMPARE(controller.mtu(), 1280);
    QCOMPARE(controller.dnsPrimary(), QStringLiteral("9.9.9.9"));
    QCOMPARE(controller.dnsFallback(), QStringLiteral("8.8.8.8"));
}

void ControllerCoreTest::apiBaseUrlChoice_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QVariant>("storedAfter");

    QTest::newRow("environment") << QByteArray(" http://127.0.0.1:7001/ ") << QVariant() << QStringLiteral("http://127.0.0.1:7001")
                                 << QVariant();
    QTest::newRow("stored wins and is rewritten")
        << QByteArray("http://127.0.0.1:7001") << QVariant(QStringLiteral("api.example.org/base//"))
        << QStringLiteral("https://api.example.org/base") << QVariant(QStringLiteral("https://api.example.org/base"));
    QTest::newRow("invalid stored is ignored and kept")
        << QByteArray("http://127.0.0.1:7001") << QVariant(QStringLiteral("https://")) << QStringLiteral("http://127.0.0.1:7001")
        << QVariant(QStringLiteral("https://"));
    QTest::newRow("built-in default") << QByteArray("   ") << QVariant() << QStringLiteral("https://api.quillet.invalid/tarn-api")
                                      << QVariant();
}

void ControllerCoreTest::apiBaseUrlChoice()
{
    QFETCH(QByteArray, environment);
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    QFETCH(QVariant, storedAfter);
    qputenv("TARN_API_BASE_URL", environment);
    if (stored.isValid())
        store().setValue(QStringLiteral("apiBaseUrl"), stored);
    AppController controller;
    QCOMPARE(controller.apiBaseUrl(), expected);
    QCOMPARE(store().value(QStringLiteral("apiBaseUrl")), storedAfter);
}

void ControllerCoreTest::setterSignalRules()
{
    AppController controller;
    QSignalSpy page(&controller, &AppController::currentPageChanged);
    QSignalSpy busy(&controller, &AppController::busyChanged);
    QSignalSpy apiError(&controller, &AppController::apiErrorChanged);

    controller.setCurrentPage(QStringLiteral("auth"));
    controller.setCurrentPage(QStringLiteral("servers"));
    controller.setCurrentPage(QStringLiteral("servers"));
    QCOMPARE(page.count(), 1);

    controller.setBusy(false);
    controller.setBusy(true);
    controller.setBusy(true);
    controller.setBusy(false);
    QCOMPARE(busy.count(), 2);

    controller.updateApiError(QStringLiteral("操作失败，请稍后重试。"));
    controller.updateApiError(QStringLiteral("操作失败，请稍后重试。"));
    controller.updateApiError(QString());
    QCOMPARE(apiError.count(), 2);
}

void ControllerCoreTest::toastRules()
{
    AppController controller;
    QSignalSpy toast(&controller, &AppController::toastMessageChanged);

    controller.clearToastMessage(); // already empty
    QCOMPARE(toast.count(), 0);
    controller.updateToastMessage(QString());
    QCOMPARE(toast.count(), 0);

    controller.updateToastMessage(QStringLiteral("已退出登录"));
    controller.updateToastMessage(QStringLiteral("已退出登录"));
    QCOMPARE(toast.count(), 2); // the same toast is shown again

    controller.showApiErrorMessage(QStringLiteral("  已退出登录  "));
    QCOMPARE(toast.count(), 3);
    QCOMPARE(controller.toastMessage(), QStringLiteral("已退出登录"));

    controller.clearToastMessage();
    QCOMPARE(toast.count(), 4);
    controller.showApiErrorMessage(QStringLiteral("   "));
    QCOMPARE(toast.count(), 4); // blank over an empty toast: nothing
    QCOMPARE(controller.toastMessage(), QString());
}

void ControllerCoreTest::navigateTrimsAndEmitsOnlyOnChange()
{
    AppController controller;
    QSignalSpy page(&controller, &AppController::currentPageChanged);
    controller.navigate(QStringLiteral("  plans \t"));
    QCOMPARE(controller.currentPage(), QStringLiteral("plans"));
    controller.navigate(QStringLiteral("plans"));
    QCOMPARE(page.count(), 1);
    controller.navigate(QStringLiteral("anything"));
    QCOMPARE(controller.currentPage(), QStringLiteral("anything"));
    // Signed out: no page refresh starts a request.
    QVERIFY(!controller.networkLoading());
}

void ControllerCoreTest::copyTextIgnoresBlankText()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    QVERIFY(clipboard);
    AppController controller;
    controller.copyText(QStringLiteral("  INVITE-42 "));
    QCOMPARE(clipboard->text(), QStringLiteral("  INVITE-42 "));
    controller.copyText(QStringLiteral(" \t "));
    QCOMPARE(clipboard->text(), QStringLiteral("  INVITE-42 "));
}

void ControllerCoreTest::languageChangeRetranslatesWithoutTouchingStoredText()
{
    AppController controller;
    controller.updateToastMessage(QStringLiteral("已退出登录"));
    QSignalSpy language(&controller, &AppController::languageChanged);
    QSignalSpy status(&controller, &AppController::statusTextChanged);
    QSignalSpy apiError(&controller, &AppController::apiErrorChanged);
    QSignalSpy toast(&controller, &AppController::toastMessageChanged);
    QSignalSpy loading(&controller, &AppController::loadingTextChanged);

    controller.setLanguage(QStringLiteral("EN"));
    QCOMPARE(controller.language(), QStringLiteral("en"));
    QCOMPARE(store().value(QStringLiteral("settings/language")).toString(), QStringLiteral("en"));
    for (QSignalSpy *spy : {&language, &status, &apiError, &toast, &loading})
        QCOMPARE(spy->count(), 1);
    const QString statusSource = QStringLiteral("登录后同步你的岚舟节点");
    QCOMPARE(controller.statusText(), I18n::translateText(QStringLiteral("en"), statusSource));
    QVERIFY(controller.statusText() != statusSource);
    QCOMPARE(controller.toastMessage(), I18n::translateText(QStringLiteral("en"), QStringLiteral("已退出登录")));
    QVERIFY(!controller.toastMessage().contains(QStringLiteral("退出")));

    controller.setLanguage(QStringLiteral("zh_CN"));
    QCOMPARE(controller.statusText(), QStringLiteral("登录后同步你的岚舟节点"));

    controller.setLanguage(QStringLiteral("system"));
    QCOMPARE(controller.language(), QString());
    QCOMPARE(store().value(QStringLiteral("settings/language")).toString(), QString());
}

void ControllerCoreTest::sameLanguageEmitsNothing()
{
    AppController controller;
    QSignalSpy language(&controller, &AppController::languageChanged);
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("marker"));
    controller.setLanguage(QStringLiteral("zh-CN")); // normalizes to the current zh-Hans
    QCOMPARE(language.count(), 0);
    QCOMPARE(store().value(QStringLiteral("settings/language")).toString(), QStringLiteral("marker"));
}

void ControllerCoreTest::engineExitWhileConnectedDisconnects()
{
    AppController controller;
    controller.setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
    QVERIFY(controller.connected());
    QSignalSpy connected(&controller, &AppController::connectedChanged);
    QSignalSpy phase(&controller, &AppController::vpnPhaseChanged);
    Q_EMIT controller.engineController()->runningChanged();
    QCOMPARE(controller.vpnPhase(), QStringLiteral("disconnected"));
    QCOMPARE(controller.statusText(), QStringLiteral("未连接"));
    QCOMPARE(phase.count(), 1);
    QVERIFY(connected.count() >= 1);
    QVERIFY(!controller.connected());
}

void ControllerCoreTest::engineExitWhileDisconnectedOnlyNotifies()
{
    AppController controller;
    QSignalSpy connected(&controller, &AppController::connectedChanged);
    QSignalSpy phase(&controller, &AppController::vpnPhaseChanged);
    QSignalSpy status(&controller, &AppController::statusTextChanged);
    Q_EMIT controller.engineController()->runningChanged();
    QCOMPARE(connected.count(), 1);
    QCOMPARE(phase.count(), 0);
    QCOMPARE(status.count(), 0);
    QCOMPARE(controller.vpnPhase(), QStringLiteral("disconnected"));
}

void ControllerCoreTest::openingLineIsLogged()
{
    AppController controller;
    QVERIFY2(controller.recentLog().contains(
                 QStringLiteral("App opened: platform=Linux version=0.9.0 device=%1 api=%2\n")
                     .arg(controller.deviceName(), controller.apiBaseUrl())),
             qPrintable(controller.recentLog()));
}

void ControllerCoreTest::planTexts_data()
{
    QTest::addColumn<QVariantMap>("user");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("status");

    QTest::newRow("nothing bought") << QVariantMap{{"email", "a@b.c"}} << "未购买套餐" << "未购买套餐";
    QTest::newRow("active trial without label")
        << QVariantMap{{"email", "a@b.c"}, {"plan_type", "Trial"}, {"membership_active", true}, {"active_plan_id", "trial"}}
        << "体验会员" << "续费日期待同步";
    QTest::newRow("expired plan") << QVariantMap{{"email", "a@b.c"}, {"active_plan_id", "pro-yearly"}, {"plan_expires_at", "2020-01-01T00:00:00Z"}}
                                  << "季付" << "已过期";
    QTest::newRow("inactive without expiry") << QVariantMap{{"email", "a@b.c"}, {"active_plan_id", "pro-yearly"}, {"active_plan_name", " Pro "}}
                                             << "Pro" << "套餐待同步";
    QTest::newRow("unknown plan id") << QVariantMap{{"email", "a@b.c"}, {"active_plan_id", "gone"}} << "套餐待同步" << "套餐待同步";
    QTest::newRow("active with expiry") << QVariantMap{{"email", "a@b.c"}, {"active_plan_id", "pro-yearly"}, {"membership_active", true},
                                                       {"plan_expires_at", "2031-05-04T10:00:00Z"}}
                                        << "季付" << QDateTime(QDate(2031, 5, 4), QTime(10, 0), Qt::UTC).toLocalTime().toString("yyyy-MM-dd");
}

void ControllerCoreTest::planTexts()
{
    QFETCH(QVariantMap, user);
    QFETCH(QString, name);
    QFETCH(QString, status);
    AppController controller;
    controller.applyBootstrapResponse(QVariantMap{{QStringLiteral("user"), user}});
    QCOMPARE(controller.currentPlanName(), name);
    QCOMPARE(controller.currentPlanStatusText(), status);
}

void ControllerCoreTest::membershipDialogSignals()
{
    AppController controller;
    QSignalSpy message(&controller, &AppController::membershipDialogMessageChanged);
    QSignalSpy visible(&controller, &AppController::membershipDialogVisibleChanged);
    controller.showMembershipDialog(QStringLiteral("  "));
    QCOMPARE(controller.membershipDialogMessage(), QStringLiteral("当前账号暂无有效会员资质，请先购买套餐后再连接。"));
    controller.showMembershipDialog(QString());
    QCOMPARE(message.count(), 1);
    QCOMPARE(visible.count(), 1);
    controller.dismissMembershipDialog();
    controller.dismissMembershipDialog();
    QVERIFY(!controller.membershipDialogVisible());
    QCOMPARE(message.count(), 2);
    QCOMPARE(visible.count(), 2);
}

QTEST_MAIN(ControllerCoreTest)
#include "tst_controllercore.moc"
