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

#include <memory>

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
    void supportConversation();
    void kickMessageShownAsText();

private:
    void capture(const QString &name);
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
    m_controller = std::make_unique<AppController>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->rootContext()->setContextProperty(QStringLiteral("appController"), m_controller.get());
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(m_window);
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
    if (!m_controller->loggedIn()) {
        m_controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
        QTRY_VERIFY_WITH_TIMEOUT(m_controller->loggedIn() && !m_controller->busy(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->nodeCountries().isEmpty() && !m_controller->networkLoading(), 15000);
    }
    m_controller->setLanguage(language);
    m_controller->navigate(page);
    if (!windowProperty.isEmpty())
        m_window->setProperty(windowProperty.toLatin1().constData(), value);
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->networkLoading(), 10000);
    capture(QString::fromLatin1(QTest::currentDataTag()));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
}

// A conversation with the backend's agent, whose reply arrives by event;
// the markup in the question shows as typed.
void ScreenshotTest::supportConversation()
{
    QVERIFY(m_controller->loggedIn());
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
    QVERIFY(m_controller->loggedIn());
    m_controller->handleRealtimeEvent(QString(),
                                      QStringLiteral(R"({"type":"kicked_out","message":"<a href='file:///etc'>账号</a>已在别处登录"})"));
    QTRY_VERIFY(m_controller->sessionKickDialogVisible());
    capture(QStringLiteral("session-kick-markup"));
    const QList<int> formats = textFormatsShowing(QStringLiteral("账号</a>已在别处登录"));
    QVERIFY(!formats.isEmpty());
    for (int format : formats)
        QCOMPARE(format, int(Qt::PlainText));
}

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshots.moc"
