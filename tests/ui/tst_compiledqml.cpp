#include "app/firstframe.h"
#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

#include <private/qqmlmetatype_p.h>

namespace {

QStringList g_cacheMessages;
QtMessageHandler g_previousHandler = nullptr;

void cacheMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category) == "qt.qml.diskcache")
        g_cacheMessages << message;
    if (g_previousHandler && type != QtDebugMsg)
        g_previousHandler(type, context, message);
}

} // namespace

// The window's QML is compiled when the program is built: each file is found
// as a compiled unit, and loading the window keeps those units rather than
// compiling the source again. Also the start-up measurement's pure helpers.
class CompiledQmlTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyFileIsCompiled_data();
    void everyFileIsCompiled();
    void windowLoadsFromCompiledUnits();
    void benchmarkSwitch_data();
    void benchmarkSwitch();
    void launchStamp_data();
    void launchStamp();
    void firstFrameEndsTheEventLoop();

private:
    TestEnvironment m_env;
};

void CompiledQmlTest::everyFileIsCompiled_data()
{
    QTest::addColumn<QString>("url");
    for (const char *file : {"Main.qml", "components/InfoBadge.qml", "components/SidebarButton.qml",
                             "components/StatCard.qml", "components/LineIcon.qml", "components/WarmSwitch.qml",
                             "components/LottieBodymovinView.qml", "components/PloverShieldFallback.qml",
                             "components/PloverLottieData.js"})
        QTest::newRow(file) << QStringLiteral("qrc:/qml/%1").arg(QLatin1String(file));
}

void CompiledQmlTest::everyFileIsCompiled()
{
    QFETCH(QString, url);
    QVERIFY2(QFile::exists(QUrl(url).path().prepend(QLatin1Char(':'))), "the file is not where the window loads it");
    QQmlMetaType::CachedUnitLookupError status = QQmlMetaType::CachedUnitLookupError::NoError;
    const auto *unit = QQmlMetaType::findCachedCompilationUnit(QUrl(url), &status);
    QVERIFY(unit);
    QCOMPARE(int(status), int(QQmlMetaType::CachedUnitLookupError::NoError));
}

void CompiledQmlTest::windowLoadsFromCompiledUnits()
{
    // A unit whose dependencies no longer match is thrown away and the source
    // compiled instead: the engine says so on its cache category.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.qml.diskcache.debug=true"));
    g_previousHandler = qInstallMessageHandler(cacheMessageHandler);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    AppController controller;
    {
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
        engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
        QVERIFY(!engine.rootObjects().isEmpty());
    }
    qInstallMessageHandler(g_previousHandler);
    QLoggingCategory::setFilterRules(QString());
    const QStringList recompiled = g_cacheMessages.filter(QRegularExpression(QStringLiteral("mismatch|Error loading")));
    QVERIFY2(recompiled.isEmpty(), qPrintable(recompiled.join(QLatin1Char('\n'))));
}

void CompiledQmlTest::benchmarkSwitch_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<bool>("requested");
    const QString program = QStringLiteral("quillet-desktop");
    QTest::newRow("plain start") << QStringList{program} << QByteArray() << false;
    QTest::newRow("switch") << QStringList{program, QStringLiteral("--benchmark-startup")} << QByteArray() << true;
    QTest::newRow("switch as a value elsewhere")
        << QStringList{program, QStringLiteral("--benchmark-startup=no")} << QByteArray() << false;
    QTest::newRow("environment") << QStringList{program} << QByteArray("1") << true;
    QTest::newRow("environment zero") << QStringList{program} << QByteArray("0") << false;
    QTest::newRow("environment blank") << QStringList{program} << QByteArray("  ") << false;
}

void CompiledQmlTest::benchmarkSwitch()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, environment);
    QFETCH(bool, requested);
    QCOMPARE(FirstFrame::benchmarkRequested(arguments, environment), requested);
}

void CompiledQmlTest::launchStamp_data()
{
    QTest::addColumn<QByteArray>("stamp");
    QTest::addColumn<qint64>("nowNs");
    QTest::addColumn<qint64>("elapsedMs");
    const qint64 now = Q_INT64_C(1800000000000000000);
    QTest::newRow("650 ms ago") << QByteArray::number(now - 650999999) << now << qint64(650);
    QTest::newRow("trailing newline") << QByteArray::number(now - 5000000).append('\n') << now << qint64(5);
    QTest::newRow("same instant") << QByteArray::number(now) << now << qint64(0);
    QTest::newRow("in the future") << QByteArray::number(now + 1) << now << qint64(-1);
    QTest::newRow("empty") << QByteArray() << now << qint64(-1);
    QTest::newRow("negative") << QByteArrayLiteral("-5") << now << qint64(-1);
    QTest::newRow("not a number") << QByteArrayLiteral("12ab") << now << qint64(-1);
    QTest::newRow("too long for 64 bits") << QByteArrayLiteral("99999999999999999999") << now << qint64(-1);
}

void CompiledQmlTest::launchStamp()
{
    QFETCH(QByteArray, stamp);
    QFETCH(qint64, nowNs);
    QFETCH(qint64, elapsedMs);
    QCOMPARE(FirstFrame::elapsedMsFromLaunchStamp(stamp, nowNs), elapsedMs);
}

void CompiledQmlTest::firstFrameEndsTheEventLoop()
{
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 120; height: 80; visible: true }");
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    QVERIFY(window);
    FirstFrame::reportThenQuit(window);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
    guard.start(10000);
    window->requestUpdate();
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(CompiledQmlTest)
#include "tst_compiledqml.moc"
