#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSet>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// The loader's pages are visual children, not QObject children of the window.
template<typename Predicate>
QQuickItem *findItem(QQuickItem *root, Predicate matches)
{
    if (!root)
        return nullptr;
    if (matches(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, matches))
            return found;
    }
    return nullptr;
}

} // namespace

// Renders every page the accounts and catalogue work shows, signed out and
// signed in against the development backend, and saves each as a PNG in
// <build>/screenshots so a person can look at them.
class ScreenshotTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void authenticationModes_data();
    void authenticationModes();
    void signedInPages_data();
    void signedInPages();
    void connectStates_data();
    void connectStates();
    void trafficPages_data();
    void trafficPages();
    void membershipPrompt_data();
    void membershipPrompt();
    void closeDialogOverConnectPage();
    void billingPages();
    void supportConversation();
    void kickMessageShownAsText();
    void offlineStart_data();
    void offlineStart();
    void minimumSizeInEveryLanguage_data();
    void minimumSizeInEveryLanguage();
    void noLabelElidedAtDefaultSize_data();
    void noLabelElidedAtDefaultSize();
    void placeNamesFollowLanguage_data();
    void placeNamesFollowLanguage();
    void formErrorsStayWithTheirForm();
    void noChineseInEnglishOrRussian_data();
    void noChineseInEnglishOrRussian();
    void askingAndPayingPages_data();
    void askingAndPayingPages();
    void serversPageAtScale_data();
    void serversPageAtScale();

private:
    // Shows a page (with a window property such as a tab set) and waits for its data.
    void showPage(const QString &page, const QString &windowProperty, const QString &value);
    // The texts of every visible Text or Label (only the elided ones when asked).
    QStringList visibleTexts(bool elidedOnly) const;
    QQuickItem *itemNamed(const QString &name) const;
    void capture(const QString &name);
    void loadWindow(const QSize &size);
    void signInDemo() { signInAs(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026")); }
    void signInAs(const QString &email, const QString &password);
    // Every text item of the window whose text holds the fragment, with its textFormat.
    QList<int> textFormatsShowing(const QString &fragment) const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    std::unique_ptr<AppController> m_controller;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QString m_outputDir;
};

void ScreenshotTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY(m_server->isRunning());
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")) // i18n-exempt: store name
        .setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));

    m_outputDir = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../screenshots"));
    QVERIFY(QDir().mkpath(m_outputDir));

    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    loadWindow(QSize());
}

// A new controller (restoring the stored session) and window, as at a restart.
void ScreenshotTest::loadWindow(const QSize &size)
{
    m_engine.reset();
    m_controller = std::make_unique<AppController>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->rootContext()->setContextProperty(QStringLiteral("appController"), m_controller.get());
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(m_window);
    if (size.isValid())
        m_window->resize(size);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void ScreenshotTest::cleanupTestCase()
{
    m_engine.reset();
    m_controller.reset();
}

void ScreenshotTest::capture(const QString &name)
{
    QTest::qWait(250); // let bindings, loaders and animations settle
    const QImage image = m_window->grabWindow();
    QCOMPARE(image.size(), m_window->size() * m_window->devicePixelRatio());
    // A page that failed to render is one flat colour.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 64; y += 7) {
        for (int x = 0; x < image.width() && colours.size() < 64; x += 7)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() >= 16, qPrintable(name));
    const QString path = QDir(m_outputDir).filePath(name + QStringLiteral(".png"));
    QVERIFY2(image.save(path), qPrintable(path));
}

QList<int> ScreenshotTest::textFormatsShowing(const QString &fragment) const
{
    QList<int> formats;
    QList<QQuickItem *> pending{m_window->contentItem()};
    while (!pending.isEmpty()) {
        const QQuickItem *item = pending.takeLast();
        pending << item->childItems();
        const QVariant text = item->property("text");
        const QVariant format = item->property("textFormat");
        if (text.isValid() && format.isValid() && item->isVisible() && text.toString().contains(fragment))
            formats << format.toInt();
    }
    return formats;
}

void ScreenshotTest::authenticationModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("registerStage");
    QTest::addColumn<QString>("forgotStage");
    QTest::addColumn<QString>("language");

    QTest::newRow("auth-password") << "login" << "password" << "form" << "verify" << "zh-Hans";
    QTest::newRow("auth-code") << "login" << "code" << "form" << "verify" << "zh-Hans";
    QTest::newRow("auth-register") << "reg" << "password" << "form" << "verify" << "zh-Hans";
    QTest::newRow("auth-register-verify") << "reg" << "password" << "verify" << "verify" << "zh-Hans";
    QTest::newRow("auth-reset-verify") << "forgot" << "password" << "form" << "verify" << "zh-Hans";
    QTest::newRow("auth-reset-password") << "forgot" << "password" << "form" << "reset" << "zh-Hans";
    QTest::newRow("auth-password-en") << "login" << "password" << "form" << "verify" << "en";
}

void ScreenshotTest::authenticationModes()
{
    QFETCH(QString, mode);
    QFETCH(QString, method);
    QFETCH(QString, registerStage);
    QFETCH(QString, forgotStage);
    QFETCH(QString, language);
    m_controller->setLanguage(language);
    m_window->setProperty("authMode", mode);
    m_window->setProperty("authLoginMethod", method);
    m_window->setProperty("authRegisterStage", registerStage);
    m_window->setProperty("authForgotStage", forgotStage);
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::signedInPages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("windowProperty");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("language");

    QTest::newRow("connect") << "connect" << "" << "" << "zh-Hans";
    QTest::newRow("servers-latency") << "servers" << "serverSortMode" << "latency" << "zh-Hans";
    QTest::newRow("servers-name") << "servers" << "serverSortMode" << "name" << "zh-Hans";
    QTest::newRow("settings-account") << "settings" << "settingsTab" << "account" << "zh-Hans";
    QTest::newRow("settings-password") << "settings" << "accountTab" << "password" << "zh-Hans";
    QTest::newRow("settings-routing") << "settings" << "settingsTab" << "routing" << "zh-Hans";
    QTest::newRow("settings-general") << "settings" << "settingsTab" << "general" << "zh-Hans";
    QTest::newRow("settings-general-en") << "settings" << "settingsTab" << "general" << "en";
    QTest::newRow("settings-general-ru") << "settings" << "settingsTab" << "general" << "ru";
    QTest::newRow("settings-language-en") << "settings" << "settingsTab" << "language" << "en";
    QTest::newRow("devices") << "devices" << "" << "" << "zh-Hans";
    QTest::newRow("devices-en") << "devices" << "" << "" << "en";
    QTest::newRow("invite") << "invite" << "" << "" << "zh-Hans";
    QTest::newRow("messages") << "messages" << "" << "" << "zh-Hans";
    QTest::newRow("messages-en") << "messages" << "" << "" << "en";
    QTest::newRow("settings-about") << "settings" << "settingsTab" << "about" << "zh-Hans";
}

void ScreenshotTest::signedInPages()
{
    QFETCH(QString, page);
    QFETCH(QString, windowProperty);
    QFETCH(QString, value);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_controller->navigate(page);
    if (!windowProperty.isEmpty())
        m_window->setProperty(windowProperty.toLatin1().constData(), value);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::signInAs(const QString &email, const QString &password)
{
    if (m_controller->loggedIn() && m_controller->authEmail() == email)
        return;
    if (m_controller->loggedIn()) {
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->busy(), 10000);
        m_controller->signOut();
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn(), 10000);
    }
    m_controller->signIn(email, password);
    QTRY_VERIFY_WITH_TIMEOUT(m_controller->loggedIn() && !m_controller->busy(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->nodeCountries().isEmpty() && !m_controller->networkLoading(), 15000);
}

void ScreenshotTest::connectStates_data()
{
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("apiError");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("language");

    const QSize large(1240, 780);
    const QSize small(1040, 680);
    const QString timeout = QStringLiteral("连接超时，请检查网络后重试。"); // i18n-exempt: the workflow's message
    QTest::newRow("connect-connected") << "connected" << "已连接" << "" << large << "zh-Hans";
    QTest::newRow("connect-connecting") << "connecting" << "连接中" << "" << large << "zh-Hans";
    QTest::newRow("connect-verifying") << "verifying" << "连接中" << "" << large << "zh-Hans";
    QTest::newRow("connect-failed") << "failed" << "连接失败" << timeout << large << "zh-Hans";
    QTest::newRow("connect-disconnected") << "disconnected" << "未连接" << "" << large << "zh-Hans";
    QTest::newRow("connect-connected-min") << "connected" << "已连接" << "" << small << "zh-Hans";
    QTest::newRow("connect-failed-min-en") << "failed" << "连接失败" << timeout << small << "en";
    QTest::newRow("connect-connected-min-chart") << "connected" << "已连接" << "" << small << "zh-Hans";
    QTest::newRow("connect-connected-ru") << "connected" << "已连接" << "" << large << "ru";
    QTest::newRow("connect-disconnecting") << "disconnecting" << "正在断开 VPN..." << "" << large << "zh-Hans";
    QTest::newRow("connect-disconnecting-en") << "disconnecting" << "正在断开 VPN..." << "" << large << "en";
    QTest::newRow("connect-disconnected-ru") << "disconnected" << "未连接" << "" << large << "ru";
}

// The connect page in each phase, at the default and at the smallest window size; the page
// scrolls, so the smallest size is also captured scrolled to its end.
void ScreenshotTest::connectStates()
{
    QFETCH(QString, phase);
    QFETCH(QString, status);
    QFETCH(QString, apiError);
    QFETCH(QSize, size);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_window->resize(size);
    m_controller->navigate(QStringLiteral("connect"));
    m_controller->updateApiError(apiError);
    m_controller->setVpnPhase(phase, status);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    if (name.endsWith(QLatin1String("-chart"))) {
        // The first real probe cycle against the backend, then a minute and a half of
        // further samples so the chart has a shape.
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->speedProbeInFlight(), 10000);
        QVERIFY(m_controller->downloadRate() > 0);
        for (int i = 0; i < 29; ++i)
            m_controller->applyRuntimeSpeedProbeSample(qint64(180000 + 90000 * std::cos(i / 4.0)),
                                                       qint64(900000 + 600000 * std::sin(i / 3.0) + 40000 * (i % 4)),
                                                       65536, 65536);
        QVERIFY(m_controller->dashboard().value(QStringLiteral("download")).toString().endsWith(QLatin1String("/s")));
    }
    capture(name);
    if (size.height() < 780) {
        QQuickItem *page = findItem(m_window->contentItem(), [](QQuickItem *item) {
            return item->property("connectionState").isValid() && item->property("contentY").isValid();
        });
        QVERIFY(page);
        const qreal end = page->property("contentHeight").toReal() - page->height();
        QVERIFY2(end > 0, "the smallest window scrolls to the cards");
        page->setProperty("contentY", end);
        capture(name + QStringLiteral("-scrolled"));
        page->setProperty("contentY", 0);
    }
    m_controller->setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接")); // i18n-exempt: reset
    m_controller->resetRuntimeTrafficStats(false);
    m_controller->updateApiError(QString());
    m_window->resize(1240, 780);
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::trafficPages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("statsTab");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("language");
    QTest::newRow("speedtest-idle") << "speedtest" << "" << false << "zh-Hans";
    QTest::newRow("speedtest-complete") << "speedtest" << "" << true << "zh-Hans";
    QTest::newRow("speedtest-complete-en") << "speedtest" << "" << true << "en";
    QTest::newRow("stats-traffic") << "stats" << "traffic" << true << "zh-Hans";
    QTest::newRow("stats-traffic-ja") << "stats" << "traffic" << false << "ja";
    QTest::newRow("stats-billing-member") << "stats" << "billing" << false << "zh-Hans";
}

// The speed-test page before and after a real test against the backend, and
// both tabs of the statistics page.
void ScreenshotTest::trafficPages()
{
    QFETCH(QString, page);
    QFETCH(QString, statsTab);
    QFETCH(bool, connected);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_controller->navigate(page);
    if (!statsTab.isEmpty())
        m_window->setProperty("statsTab", statsTab);
    if (connected) {
        m_controller->setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->speedProbeInFlight(), 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    if (page == QLatin1String("speedtest")) {
        QQuickItem *pageItem = findItem(m_window->contentItem(), [](QQuickItem *item) {
            return item->property("finishedWaiting").isValid();
        });
        QVERIFY(pageItem);
        if (connected) {
            QVERIFY(QMetaObject::invokeMethod(pageItem, "start"));
            QCOMPARE(pageItem->property("phase").toString(), QStringLiteral("warmup"));
            QTRY_COMPARE_WITH_TIMEOUT(pageItem->property("phase").toString(), QStringLiteral("complete"), 15000);
            const QVariantList records = m_controller->experience().value(QStringLiteral("speed")).toMap()
                                             .value(QStringLiteral("records")).toList();
            QVERIFY(!records.isEmpty());
            QCOMPARE(pageItem->property("shownDownload").toDouble(),
                     records.first().toMap().value(QStringLiteral("download")).toDouble());
        } else {
            // Not connected: the start button explains instead of testing.
            QVERIFY(QMetaObject::invokeMethod(pageItem, "start"));
            QCOMPARE(m_window->property("speedTestVpnDialogVisible").toBool(), true);
            capture(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral("-dialog"));
            m_window->setProperty("speedTestVpnDialogVisible", false);
            QCOMPARE(pageItem->property("phase").toString(), QStringLiteral("idle"));
        }
    }
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_controller->setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接")); // i18n-exempt: reset
    m_controller->resetRuntimeTrafficStats(false);
    m_window->setProperty("statsTab", QStringLiteral("traffic"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::membershipPrompt_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("language");

    const QString expired = QStringLiteral("当前套餐已过期，请先续费后继续连接。也可以通过邀请好友获得额外时长。"); // i18n-exempt
    QTest::newRow("membership-expired") << "demo" << expired << "zh-Hans";
    QTest::newRow("membership-expired-en") << "demo" << expired << "en";
    QTest::newRow("membership-none") << "trial" << "" << "zh-Hans";
    QTest::newRow("membership-none-ja") << "trial" << "" << "ja";
}

void ScreenshotTest::membershipPrompt()
{
    QFETCH(QString, account);
    QFETCH(QString, message);
    QFETCH(QString, language);
    if (account == QLatin1String("trial"))
        signInAs(QStringLiteral("trial@quillet.dev"), QStringLiteral("Quillet-trial-2026"));
    else
        signInDemo();
    m_controller->setLanguage(language);
    m_controller->navigate(QStringLiteral("connect"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    // The daily trial is offered to the account without a plan, never beside a paid one.
    auto *trialButton = m_window->findChild<QQuickItem *>(QStringLiteral("trialClaimButton"));
    QVERIFY(trialButton);
    QCOMPARE(trialButton->isVisible(), account == QLatin1String("trial"));
    m_controller->showMembershipDialog(message);
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_controller->dismissMembershipDialog();
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::closeDialogOverConnectPage()
{
    signInDemo();
    m_controller->navigate(QStringLiteral("connect"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    m_window->setProperty("closeDialogVisible", true);
    capture(QStringLiteral("close-dialog"));
    m_window->setProperty("closeDialogVisible", false);
}

// The trial account from its first sign-in (the daily-trial prompt) through a
// checkout to the paid plan; the demo account's order history.
void ScreenshotTest::billingPages()
{
    QList<QUrl> opened;
    m_controller->setUrlOpener([&opened](const QUrl &url) {
        opened << url;
        return true;
    });
    const auto settle = [this] { QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000); };

    m_controller->navigate(QStringLiteral("billing"));
    settle();
    capture(QStringLiteral("billing-orders"));
    m_controller->navigate(QStringLiteral("plans"));
    settle();
    capture(QStringLiteral("plans-active"));
    m_controller->navigate(QStringLiteral("stats"));
    m_window->setProperty("statsTab", QStringLiteral("billing"));
    settle();
    capture(QStringLiteral("stats-billing"));

    m_controller->signOut();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn(), 10000);
    m_controller->signIn(QStringLiteral("trial@quillet.dev"), QStringLiteral("Quillet-trial-2026"));
    QTRY_VERIFY_WITH_TIMEOUT(m_controller->loggedIn() && m_controller->bootstrapReady() && !m_controller->busy(), 15000);
    settle();
    // The prompt shows once per claim date; "先不领取" keeps it away for that date.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->property("trialPromptVisible").toBool(), 5000);
    capture(QStringLiteral("trial-prompt"));
    QMetaObject::invokeMethod(m_window, "dismissTrialPrompt");
    QVERIFY(!m_window->property("trialPromptVisible").toBool());
    QMetaObject::invokeMethod(m_window, "evaluateTrialPrompt");
    QVERIFY(!m_window->property("trialPromptVisible").toBool());

    m_controller->navigate(QStringLiteral("plans"));
    settle();
    capture(QStringLiteral("plans-no-membership"));

    m_controller->preparePlanCheckout(QStringLiteral("pro-yearly"), QStringLiteral("季付"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->property("checkoutDialogVisible").toBool(), 10000);
    settle();
    capture(QStringLiteral("checkout-dialog"));
    QMetaObject::invokeMethod(m_window, "confirmCheckout");
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->pendingOrderId().isEmpty(), 10000);
    m_controller->navigate(QStringLiteral("billing"));
    settle();
    m_controller->navigate(QStringLiteral("plans"));
    settle();
    capture(QStringLiteral("plans-pending-order"));
    m_controller->navigate(QStringLiteral("billing"));
    settle();
    capture(QStringLiteral("billing-pending-order"));

    // Signing out forgets the dismissed prompt; the next sign-in offers it again.
    m_controller->signOut();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn(), 10000);
    QVERIFY(!m_window->property("trialPromptVisible").toBool());
    QCOMPARE(m_window->property("dismissedTrialPromptDate").toString(), QString());
}

// A conversation with the backend's agent, whose reply arrives by event;
// the markup in the question shows as typed.
void ScreenshotTest::supportConversation()
{
    signInDemo(); // the billing pages end signed out
    m_controller->navigate(QStringLiteral("supportChat"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    const auto agentReplies = [this] {
        int count = 0;
        const QVariantList messages = m_controller->experience()
                                          .value(QStringLiteral("support"))
                                          .toMap()
                                          .value(QStringLiteral("conversation"))
                                          .toMap()
                                          .value(QStringLiteral("messages"))
                                          .toList();
        for (const QVariant &message : messages)
            count += message.toMap().value(QStringLiteral("sender")).toString() == QLatin1String("agent") ? 1 : 0;
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(agentReplies(), 1, 10000);
    m_controller->sendSupportChatMessage(QStringLiteral("<b>东京节点</b>连不上，切换到智能匹配也不行，怎么办？"));
    QTRY_COMPARE_WITH_TIMEOUT(agentReplies(), 2, 10000);
    capture(QStringLiteral("support-conversation"));
    // The question and the agent's echo of it: both drawn as plain text.
    const QList<int> formats = textFormatsShowing(QStringLiteral("<b>东京节点</b>"));
    QCOMPARE(formats.size(), 2);
    for (int format : formats)
        QCOMPARE(format, int(Qt::PlainText));
}

void ScreenshotTest::kickMessageShownAsText()
{
    signInDemo();
    m_controller->handleRealtimeEvent(QString(),
                                      QStringLiteral(R"({"type":"kicked_out","message":"<a href='file:///etc'>账号</a>已在别处登录"})"));
    QTRY_VERIFY(m_controller->sessionKickDialogVisible());
    capture(QStringLiteral("session-kick-markup"));
    const QList<int> formats = textFormatsShowing(QStringLiteral("账号</a>已在别处登录"));
    QVERIFY(!formats.isEmpty());
    for (int format : formats)
        QCOMPARE(format, int(Qt::PlainText));
}

void ScreenshotTest::offlineStart_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("zh-Hans") << QStringLiteral("zh-Hans");
    QTest::newRow("en") << QStringLiteral("en");
    QTest::newRow("ru") << QStringLiteral("ru");
}

// A restart while the backend fails: the session stays, the home page says it is offline.
void ScreenshotTest::offlineStart()
{
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_server->setFault(QStringLiteral("/api/v1/bootstrap"), DevServer::Fault::withStatus(503, QString(), 1000));
    loadWindow(QSize(1040, 680));
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(m_controller->backendOffline(), 20000);
    QVERIFY(m_controller->loggedIn());
    const auto banner = [this] {
        QList<QQuickItem *> pending{m_window->contentItem()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeLast();
            if (item->objectName() == QLatin1String("offlineBanner") && item->isVisible())
                return true;
            pending << item->childItems();
        }
        return false;
    };
    QTRY_VERIFY(banner());
    capture(QStringLiteral("connect-offline-") + language);
    m_server->clearFaults();
    m_controller->onNetworkReachable();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->backendOffline() && m_controller->bootstrapReady(), 20000);
    QTRY_VERIFY(!banner());
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::showPage(const QString &page, const QString &windowProperty, const QString &value)
{
    if (page == QLatin1String("auth"))
        m_controller->setCurrentPage(page); // the form itself, as a signed-out user sees it
    else
        m_controller->navigate(page);
    if (windowProperty == QLatin1String("accountTab"))
        m_window->setProperty("settingsTab", QStringLiteral("account")); // the account tab's own tabs
    if (!windowProperty.isEmpty())
        m_window->setProperty(windowProperty.toLatin1().constData(), value);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    QTest::qWait(150); // layouts settle, elision is measured after
}

QStringList ScreenshotTest::visibleTexts(bool elidedOnly) const
{
    QStringList texts;
    QList<QQuickItem *> pending{m_window->contentItem()};
    while (!pending.isEmpty()) {
        QQuickItem *item = pending.takeLast();
        if (!item->isVisible())
            continue;
        pending << item->childItems();
        if (elidedOnly ? item->property("truncated").toBool() : item->property("textFormat").isValid())
            texts << item->property("text").toString();
    }
    return texts;
}

QQuickItem *ScreenshotTest::itemNamed(const QString &name) const
{
    // Visible only: the page being left may linger a moment beside the new one.
    return findItem(m_window->contentItem(),
                    [&name](QQuickItem *item) { return item->objectName() == name && item->isVisible(); });
}

namespace {

struct PageRow
{
    const char *name;
    const char *page;
    const char *windowProperty;
    const char *value;
};

const PageRow kEveryPage[] = {
    {"connect", "connect", "", ""},
    {"servers", "servers", "serverSortMode", "name"},
    {"speedtest", "speedtest", "", ""},
    {"plans", "plans", "", ""},
    {"stats-traffic", "stats", "statsTab", "traffic"},
    {"stats-billing", "stats", "statsTab", "billing"},
    {"settings-account", "settings", "settingsTab", "account"},
    {"settings-password", "settings", "accountTab", "password"},
    {"settings-routing", "settings", "settingsTab", "routing"},
    {"settings-language", "settings", "settingsTab", "language"},
    {"settings-about", "settings", "settingsTab", "about"},
    {"billing", "billing", "", ""},
    {"devices", "devices", "", ""},
    {"invite", "invite", "", ""},
    {"messages", "messages", "", ""},
    {"support", "supportChat", "", ""},
    {"auth", "auth", "", ""},
};

const char *const kCheckedLanguages[] = {"zh-Hans", "en", "ru"};

} // namespace

void ScreenshotTest::minimumSizeInEveryLanguage_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("windowProperty");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("language");
    for (const char *language : kCheckedLanguages) {
        for (const PageRow &row : kEveryPage)
            QTest::addRow("min-%s-%s", language, row.name) << row.page << row.windowProperty << row.value << language;
    }
}

// Every page at the smallest window size in Chinese, English and Russian, for a person to
// look at; what is elided there is listed in elided-at-minimum-size.txt beside the pictures.
void ScreenshotTest::minimumSizeInEveryLanguage()
{
    QFETCH(QString, page);
    QFETCH(QString, windowProperty);
    QFETCH(QString, value);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_window->resize(1040, 680);
    showPage(page, windowProperty, value);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    capture(name);
    QStringList elided = visibleTexts(true);
    // A page taller than the window is also seen scrolled to its end.
    QQuickItem *loader = itemNamed(QStringLiteral("pageLoader"));
    QVERIFY(loader);
    auto *shown = loader->property("item").value<QQuickItem *>();
    const qreal end = shown ? shown->property("contentHeight").toReal() - shown->height() : 0;
    if (end > 1 && shown->property("contentY").isValid()) {
        shown->setProperty("contentY", end);
        capture(name + QStringLiteral("-end"));
        elided << visibleTexts(true);
        shown->setProperty("contentY", 0);
    }
    elided.removeDuplicates();
    // The region count is one whole line at the smallest size: it once wrapped to "Регионы" / ": 4".
    if (page == QLatin1String("servers")) {
        QQuickItem *count = itemNamed(QStringLiteral("serverCountLabel"));
        QVERIFY(count);
        QCOMPARE(count->property("lineCount").toInt(), 1);
        QVERIFY2(!count->property("truncated").toBool(), qPrintable(count->property("text").toString()));
    }

    QFile report(QDir(m_outputDir).filePath(QStringLiteral("elided-at-minimum-size.txt")));
    const bool first = name == QLatin1String("min-zh-Hans-connect");
    QVERIFY(report.open(first ? QIODevice::WriteOnly | QIODevice::Truncate : QIODevice::Append));
    for (const QString &text : std::as_const(elided))
        report.write(QStringLiteral("%1: %2\n").arg(name, text).toUtf8());

    m_window->resize(1240, 780);
    m_controller->navigate(QStringLiteral("connect"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::noLabelElidedAtDefaultSize_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("windowProperty");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("language");
    for (const char *language : kCheckedLanguages) {
        for (const PageRow &row : kEveryPage) {
            const QByteArray page(row.page);
            if (page == "connect" || page == "servers" || page == "settings")
                QTest::addRow("%s-%s", language, row.name) << row.page << row.windowProperty << row.value << language;
        }
        QTest::addRow("%s-servers-latency", language) << "servers" << "serverSortMode" << "latency" << language;
    }
}

// At the default size nothing on the servers page, the connect page or the settings tabs
// is cut short.
void ScreenshotTest::noLabelElidedAtDefaultSize()
{
    QFETCH(QString, page);
    QFETCH(QString, windowProperty);
    QFETCH(QString, value);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    m_window->resize(1240, 780);
    showPage(page, windowProperty, value);
    const QStringList elided = visibleTexts(true);
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    QVERIFY2(elided.isEmpty(), qPrintable(QStringLiteral("elided: ") + elided.join(QStringLiteral(" | "))));
}

void ScreenshotTest::placeNamesFollowLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("country");
    QTest::addColumn<QString>("node");

    QTest::newRow("en") << "en" << "Japan" << "Japan · Tokyo";
    QTest::newRow("ru") << "ru" << "Япония" << "Япония · Токио";
    QTest::newRow("ja") << "ja" << "日本" << "日本 · 東京";
}

// The country list, the servers page header and the connect page's node card name the
// same place in the interface language.
void ScreenshotTest::placeNamesFollowLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, country);
    QFETCH(QString, node);
    signInDemo();
    m_controller->setLanguage(language);
    // The backend's content is fetched again in the new language; its answer names the node the
    // server had, so the choice is made after it.
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000);
    m_controller->selectNodeWithMode(QStringLiteral("jp-tokyo"), QStringLiteral("fixed"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000);
    QCOMPARE(m_controller->selectedNodeId(), QStringLiteral("jp-tokyo"));

    showPage(QStringLiteral("connect"), QString(), QString());
    QTRY_VERIFY2(visibleTexts(false).contains(node), qPrintable(visibleTexts(false).join(QLatin1Char('|'))));
    showPage(QStringLiteral("servers"), QStringLiteral("serverSortMode"), QStringLiteral("name"));
    const QString header = m_controller->trText(QStringLiteral("当前节点：%1")).arg(node);
    QTRY_VERIFY2(visibleTexts(false).contains(header), qPrintable(visibleTexts(false).join(QLatin1Char('|'))));
    QVERIFY(visibleTexts(false).contains(country));
    capture(QStringLiteral("servers-names-") + language);

    m_controller->selectNodeWithMode(QStringLiteral("hk-smart"), QStringLiteral("smart"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000);
    m_controller->navigate(QStringLiteral("connect"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

// A refused form keeps its own error, one at a time, and loses it when the user moves on.
void ScreenshotTest::formErrorsStayWithTheirForm()
{
    signInDemo();
    showPage(QStringLiteral("settings"), QStringLiteral("accountTab"), QStringLiteral("password"));
    QQuickItem *form = itemNamed(QStringLiteral("passwordForm"));
    QVERIFY(form);
    itemNamed(QStringLiteral("currentPasswordField"))->setProperty("text", QStringLiteral("Wrong-password-1"));
    itemNamed(QStringLiteral("newPasswordField"))->setProperty("text", QStringLiteral("Another-password-2026"));
    itemNamed(QStringLiteral("confirmPasswordField"))->setProperty("text", QStringLiteral("Another-password-2026"));
    QVERIFY(QMetaObject::invokeMethod(form, "submit"));
    const QString wrongCurrent = QStringLiteral("当前密码不正确，请重新输入。"); // i18n-exempt: the expected message
    QTRY_COMPARE(itemNamed(QStringLiteral("passwordFormError"))->property("text").toString(), wrongCurrent);
    QCOMPARE(textFormatsShowing(wrongCurrent).size(), 1);
    QCOMPARE(itemNamed(QStringLiteral("currentPasswordField"))->property("text").toString(), QString());
    QCOMPARE(itemNamed(QStringLiteral("newPasswordField"))->property("text").toString(),
             QStringLiteral("Another-password-2026"));
    QCOMPARE(itemNamed(QStringLiteral("confirmPasswordField"))->property("text").toString(),
             QStringLiteral("Another-password-2026"));
    capture(QStringLiteral("settings-password-wrong-current"));

    m_window->setProperty("settingsTab", QStringLiteral("routing"));
    QTRY_VERIFY(textFormatsShowing(wrongCurrent).isEmpty());
    m_window->setProperty("settingsTab", QStringLiteral("account"));
    m_window->setProperty("accountTab", QStringLiteral("password"));
    QTRY_COMPARE(itemNamed(QStringLiteral("passwordFormError"))->property("text").toString(), QString());

    // Signed out: the sign-in error does not follow the user to the reset form.
    m_controller->signOut();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn() && !m_controller->busy(), 10000);
    QVERIFY(QMetaObject::invokeMethod(m_window, "switchAuthMode", Q_ARG(QVariant, QStringLiteral("login")),
                                      Q_ARG(QVariant, QStringLiteral("password"))));
    m_controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Wrong-password-1"));
    const QString wrongSignIn = QStringLiteral("用户名或密码错误"); // i18n-exempt: the expected message
    QTRY_COMPARE(itemNamed(QStringLiteral("authMessage"))->property("text").toString(), wrongSignIn);
    QCOMPARE(textFormatsShowing(wrongSignIn).size(), 1);
    QVERIFY(QMetaObject::invokeMethod(m_window, "switchAuthMode", Q_ARG(QVariant, QStringLiteral("forgot")),
                                      Q_ARG(QVariant, QString())));
    QTRY_COMPARE(itemNamed(QStringLiteral("authMessage"))->property("text").toString(), QString());
    capture(QStringLiteral("auth-reset-after-wrong-sign-in"));
    QVERIFY(QMetaObject::invokeMethod(m_window, "switchAuthMode", Q_ARG(QVariant, QStringLiteral("login")),
                                      Q_ARG(QVariant, QStringLiteral("password"))));
}

void ScreenshotTest::noChineseInEnglishOrRussian_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("windowProperty");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("language");
    for (const char *language : {"en", "ru"}) {
        for (const PageRow &row : kEveryPage)
            QTest::addRow("%s-%s", language, row.name) << row.page << row.windowProperty << row.value << language;
        QTest::addRow("%s-servers-latency", language) << "servers" << "serverSortMode" << "latency" << language;
    }
}

// Every page in English and in Russian, with the backend's own content, scrolled from top to end:
// no Chinese, Japanese or Korean character anywhere, except the language list's native names and
// what the user typed into the support chat.
void ScreenshotTest::noChineseInEnglishOrRussian()
{
    QFETCH(QString, page);
    QFETCH(QString, windowProperty);
    QFETCH(QString, value);
    QFETCH(QString, language);
    signInDemo();
    m_controller->setLanguage(language);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000);
    if (page == QLatin1String("speedtest")
        && m_controller->experience().value(QStringLiteral("speed")).toMap().value(QStringLiteral("records")).toList().isEmpty()) {
        // A history row names its node: make one.
        m_controller->setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接")); // i18n-exempt: test phase
        QSignalSpy finished(m_controller.get(), &AppController::speedTestFinished);
        m_controller->runSpeedTest();
        QVERIFY(finished.wait(15000));
        m_controller->setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接")); // i18n-exempt: reset
        m_controller->resetRuntimeTrafficStats(false);
    }
    if (page == QLatin1String("supportChat"))
        m_controller->refreshSupportChat();
    showPage(page, windowProperty, value);

    QSet<QString> allowed;
    for (const QVariant &option : m_controller->languageOptions())
        allowed << option.toMap().value(QStringLiteral("nativeName")).toString();
    QStringList typed;
    const QVariantList chat = m_controller->experience().value(QStringLiteral("support")).toMap()
                                  .value(QStringLiteral("conversation")).toMap().value(QStringLiteral("messages")).toList();
    for (const QVariant &message : chat) {
        if (message.toMap().value(QStringLiteral("sender")).toString() == QLatin1String("user"))
            typed << message.toMap().value(QStringLiteral("text")).toString().left(40);
    }
    const auto foreignScript = [](const QString &text) {
        for (const QChar c : text) {
            const QChar::Script script = c.script();
            if (script == QChar::Script_Han || script == QChar::Script_Hiragana || script == QChar::Script_Katakana
                || script == QChar::Script_Hangul || script == QChar::Script_Bopomofo
                || (c.unicode() >= 0x3000 && c.unicode() <= 0x303f) || (c.unicode() >= 0xff01 && c.unicode() <= 0xff5e))
                return true;
        }
        return false;
    };
    QStringList found;
    const auto collect = [&] {
        for (QString text : visibleTexts(false)) {
            if (allowed.contains(text))
                continue;
            for (const QString &own : std::as_const(typed))
                text.remove(own);
            if (foreignScript(text))
                found << text;
        }
    };
    collect();
    QQuickItem *loader = itemNamed(QStringLiteral("pageLoader"));
    QVERIFY(loader);
    auto *shown = loader->property("item").value<QQuickItem *>();
    const qreal end = shown ? shown->property("contentHeight").toReal() - shown->height() : 0;
    if (end > 1 && shown->property("contentY").isValid()) {
        shown->setProperty("contentY", end);
        QTest::qWait(150);
        collect();
        shown->setProperty("contentY", 0);
    }
    found.removeDuplicates();
    capture(QStringLiteral("walk-") + QString::fromLatin1(QTest::currentDataTag()));
    m_controller->navigate(QStringLiteral("connect"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral(" | "))));
}

void ScreenshotTest::askingAndPayingPages_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QSize>("size");
    for (const char *language : kCheckedLanguages) {
        QTest::addRow("%s-default", language) << QString::fromLatin1(language) << QSize(1240, 780);
        QTest::addRow("%s-min", language) << QString::fromLatin1(language) << QSize(1040, 680);
    }
}

// "清理缓存" asks before it deletes anything; a checkout page no browser took leaves its link on
// the plans page; the trial offer says what it gives. Captured in each language and size.
void ScreenshotTest::askingAndPayingPages()
{
    QFETCH(QString, language);
    QFETCH(QSize, size);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    signInDemo();
    m_controller->setLanguage(language);
    m_window->resize(size);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading() && !m_controller->busy(), 10000);

    showPage(QStringLiteral("settings"), QStringLiteral("settingsTab"), QStringLiteral("about"));
    m_controller->clearApiError();
    QQuickItem *clear = itemNamed(QStringLiteral("clearCacheButton"));
    QVERIFY(clear);
    QVERIFY(QMetaObject::invokeMethod(clear, "clicked"));
    QTRY_VERIFY(m_window->property("clearCacheDialogVisible").toBool());
    QVERIFY(m_controller->apiError().isEmpty()); // nothing cleared yet
    capture(QStringLiteral("clear-cache-ask-") + tag);
    m_window->setProperty("clearCacheDialogVisible", false);

    m_controller->setUrlOpener([](const QUrl &) { return false; });
    showPage(QStringLiteral("plans"), QString(), QString());
    m_controller->choosePlan(QStringLiteral("team-yearly"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->checkoutNotice().isEmpty() && !m_controller->busy(), 10000);
    QTRY_VERIFY(itemNamed(QStringLiteral("checkoutNotice")));
    const QString link = m_controller->checkoutNotice().value(QStringLiteral("url")).toString();
    QQuickItem *field = itemNamed(QStringLiteral("checkoutLink"));
    QVERIFY(field);
    QCOMPARE(field->property("text").toString(), link);
    capture(QStringLiteral("checkout-unopened-") + tag);
    const QString orderId = m_controller->pendingOrderId();
    QVERIFY(!orderId.isEmpty());
    m_controller->cancelOrder(orderId);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->busy() && !m_controller->networkLoading(), 10000);
    m_controller->dismissCheckoutNotice();
    m_controller->setUrlOpener({});

    m_window->setProperty("trialPromptVisible", true);
    capture(QStringLiteral("trial-offer-") + tag);
    m_window->setProperty("trialPromptVisible", false);

    m_window->resize(1240, 780);
    m_controller->navigate(QStringLiteral("connect"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

void ScreenshotTest::serversPageAtScale_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("countries"); // the count line once the search has run; -1: not checked
    QTest::addColumn<QString>("shown"); // a text the page then shows (a source text: translated)

    QTest::newRow("servers-1000-zh-Hans") << "zh-Hans" << "" << 40 << "香港";
    QTest::newRow("servers-1000-search-zh-Hans") << "zh-Hans" << "东京" << 1 << "日本";
    QTest::newRow("servers-1000-search-en") << "en" << "tokyo" << 1 << "Japan";
    QTest::newRow("servers-1000-search-ru") << "ru" << "ГОНКОНГ" << -1 << "Гонконг";
    QTest::newRow("servers-1000-no-match") << "zh-Hans" << "atlantis" << 0 << "没有找到匹配的国家或城市";
}

// The servers page over a catalogue of 1,000 nodes in forty countries: it opens on the
// selected node's country, and a search lands after the pause in typing.
void ScreenshotTest::serversPageAtScale()
{
    QFETCH(QString, language);
    QFETCH(QString, query);
    QFETCH(int, countries);
    QFETCH(QString, shown);
    static std::unique_ptr<DevServerRunner> large;
    if (!large) {
        DevServer::Options options;
        options.demoNodes = 1000;
        large = std::make_unique<DevServerRunner>(options);
        QVERIFY(large->isRunning());
        if (m_controller->loggedIn()) {
            QTRY_VERIFY_WITH_TIMEOUT(!m_controller->busy(), 10000);
            m_controller->signOut();
            QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn(), 10000);
        }
        qputenv("TARN_API_BASE_URL", large->baseUrl().toUtf8());
        loadWindow(QSize(1240, 780));
        signInDemo();
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->nodes().size(), qsizetype(1000), 15000);
    }
    m_controller->setLanguage(language);
    shown = m_controller->trText(shown);
    m_window->setProperty("serverSearchQuery", QString());
    showPage(QStringLiteral("servers"), QStringLiteral("serverSortMode"), QStringLiteral("latency"));
    m_window->setProperty("serverSearchQuery", query);
    QQuickItem *count = itemNamed(QStringLiteral("serverCountLabel"));
    QVERIFY(count);
    if (countries >= 0)
        QTRY_COMPARE_WITH_TIMEOUT(count->property("text").toString(),
                                  m_controller->trText(QStringLiteral("%1 个国家/地区")).arg(countries), 5000);
    QTRY_VERIFY2_WITH_TIMEOUT(visibleTexts(false).contains(shown), qPrintable(visibleTexts(false).join(QLatin1Char('|'))),
                              5000);
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_window->setProperty("serverSearchQuery", QString());

    if (QByteArray(QTest::currentDataTag()) == "servers-1000-no-match") {
        // Back to the ordinary demo catalogue for whatever runs after.
        m_controller->setLanguage(QStringLiteral("zh-Hans"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->busy(), 10000);
        m_controller->signOut();
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->loggedIn(), 10000);
        qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
        loadWindow(QSize());
        large.reset();
    }
}

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshots.moc"
