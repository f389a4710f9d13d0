#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

namespace {

QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

// Every warning the QML engine reports while the window lives is a failure.
void collectingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_messages << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

class QmlSmokeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void loadsWithoutWarnings();
    void everyPageLoadsWithoutWarnings_data();
    void everyPageLoadsWithoutWarnings();
    void titleFollowsLanguage();
    void closeRequestOnlyOffersToHide();

private:
    QObject *rootWindow() const { return m_engine->rootObjects().value(0); }

    TestEnvironment m_env;
    AppController *m_controller = nullptr;
    QQmlApplicationEngine *m_engine = nullptr;
};

void QmlSmokeTest::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(collectingHandler);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    m_controller = new AppController;
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    m_engine = new QQmlApplicationEngine;
    m_engine->rootContext()->setContextProperty(QStringLiteral("appController"), m_controller);
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
}

void QmlSmokeTest::cleanupTestCase()
{
    delete m_engine;
    delete m_controller;
    qInstallMessageHandler(g_previousHandler);
}

void QmlSmokeTest::loadsWithoutWarnings()
{
    QTest::qWait(200);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    QVERIFY(window);
    QCOMPARE(window->width(), 1240);
    QCOMPARE(window->height(), 780);
    QVERIFY(window->flags() & Qt::FramelessWindowHint);
}

void QmlSmokeTest::everyPageLoadsWithoutWarnings_data()
{
    QTest::addColumn<QString>("page");
    for (const char *page : {"connect", "dashboard", "servers", "speedtest", "plans", "stats", "profile", "settings",
                             "billing", "devices", "invite", "messages", "supportChat", "auth", "unknown-page"})
        QTest::newRow(page) << QString::fromLatin1(page);
}

void QmlSmokeTest::everyPageLoadsWithoutWarnings()
{
    QFETCH(QString, page);
    g_messages.clear();
    m_controller->setCurrentPage(page);
    QTest::qWait(150);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::titleFollowsLanguage()
{
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    QCOMPARE(window->title(), QStringLiteral("岚舟")); // i18n-exempt: the expected title
    m_controller->setLanguage(QStringLiteral("en"));
    QTRY_COMPARE(window->title(), QStringLiteral("Quillet"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::closeRequestOnlyOffersToHide()
{
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->close();
    QTest::qWait(100);
    QVERIFY2(window->isVisible(), "a close request must not hide the window before it is confirmed");
}

QTEST_MAIN(QmlSmokeTest)
#include "tst_qmlsmoke.moc"
