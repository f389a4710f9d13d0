#include "app/startup.h"
#include "platform/platform.h"
#include "tunnel/diagnosticlog.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

namespace {

// A base folder whose "logs" cannot be created: a plain file sits in its place.
QString blockedBase(const TestEnvironment &env, const QString &name)
{
    const QString base = env.path(name);
    QDir().mkpath(base);
    QFile blocker(QDir(base).filePath(QStringLiteral("logs")));
    blocker.open(QIODevice::WriteOnly);
    return base;
}

QString usableBase(const TestEnvironment &env, const QString &name)
{
    const QString base = env.path(name);
    QDir().mkpath(base);
    return base;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstWritableLogsFolder_data();
    void firstWritableLogsFolder();
    void candidatesEndWithSharedDataFolder_data();
    void candidatesEndWithSharedDataFolder();
    void diagnosticDirectoryEmptyWhenNothingWritable();
    void formatLine_data();
    void formatLine();
    void formatLineDropsUrlQueries_data();
    void formatLineDropsUrlQueries();
    void appendWritesStampedLines();
    void appendWithoutPathWritesNothing();
    void quitFilterSwallowsOnlyQuit();
    void quitRequestDoesNotEndEventLoop();
    void diagnosticLogTrimsToTail();

private:
    TestEnvironment m_env;
};

void StartupTest::firstWritableLogsFolder_data()
{
    QTest::addColumn<QStringList>("kinds"); // "ok" or "blocked", one per candidate
    QTest::addColumn<int>("expectedIndex"); // -1: none

    QTest::newRow("first writable") << QStringList{"ok", "ok", "ok"} << 0;
    QTest::newRow("executable folder blocked") << QStringList{"blocked", "ok", "ok"} << 1;
    QTest::newRow("only shared folder left") << QStringList{"blocked", "blocked", "ok"} << 2;
    QTest::newRow("nothing writable") << QStringList{"blocked", "blocked", "blocked"} << -1;
}

void StartupTest::firstWritableLogsFolder()
{
    QFETCH(QStringList, kinds);
    QFETCH(int, expectedIndex);
    static int round = 0;
    ++round;

    QStringList bases;
    for (int i = 0; i < kinds.size(); ++i) {
        const QString name = QStringLiteral("r%1/c%2").arg(round).arg(i);
        bases << (kinds[i] == QLatin1String("ok") ? usableBase(m_env, name) : blockedBase(m_env, name));
    }
    const QString chosen = DiagnosticLog::firstWritableLogsFolder(bases);
    if (expectedIndex < 0) {
        QVERIFY(chosen.isEmpty());
        return;
    }
    QCOMPARE(chosen, QDir(bases[expectedIndex]).absoluteFilePath(QStringLiteral("logs")));
    QVERIFY(QDir(chosen).exists());
    QVERIFY2(!QFile::exists(QDir(chosen).filePath(QStringLiteral(".write-test"))), "probe file left behind");
}

void StartupTest::candidatesEndWithSharedDataFolder_data()
{
    QTest::addColumn<QByteArray>("programData");
    QTest::addColumn<bool>("useFallback");

    QTest::newRow("set") << QByteArray("/srv/pd") << false;
    QTest::newRow("blank") << QByteArray("   ") << true;
    QTest::newRow("empty") << QByteArray() << true;
}

void StartupTest::candidatesEndWithSharedDataFolder()
{
    QFETCH(QByteArray, programData);
    QFETCH(bool, useFallback);
    const QByteArray saved = qgetenv("ProgramData");
    qputenv("ProgramData", programData);
    const QStringList candidates = DiagnosticLog::logDirectoryCandidates();
    qputenv("ProgramData", saved);

    QCOMPARE(candidates.first(), QCoreApplication::applicationDirPath());
    const QString expected = useFallback ? Platform::fallbackSharedDataDirectory()
                                         : QDir(QString::fromLocal8Bit(programData)).filePath(QStringLiteral("Quillet"));
    QCOMPARE(candidates.last(), expected);
}

void StartupTest::diagnosticDirectoryEmptyWhenNothingWritable()
{
    QVERIFY(!DiagnosticLog::ensureWritableDesktopDir(QStringLiteral("   ")));
    const QString base = blockedBase(m_env, QStringLiteral("blocked-single"));
    QVERIFY(!DiagnosticLog::ensureWritableDesktopDir(QDir(base).filePath(QStringLiteral("logs"))));
}

void StartupTest::formatLine_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("debug without source") << int(QtDebugMsg) << QByteArray() << 0 << QStringLiteral("[DEBUG] hello");
    QTest::newRow("info") << int(QtInfoMsg) << QByteArray() << 0 << QStringLiteral("[INFO] hello");
    QTest::newRow("warning with source")
        << int(QtWarningMsg) << QByteArray("qrc:/qml/Main.qml") << 42
        << QStringLiteral("[WARN] hello (qrc:/qml/Main.qml:42)");
    QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("a.cpp") << 7 << QStringLiteral("[ERROR] hello (a.cpp:7)");
    QTest::newRow("fatal") << int(QtFatalMsg) << QByteArray() << 0 << QStringLiteral("[FATAL] hello");
    QTest::newRow("empty file name") << int(QtWarningMsg) << QByteArray("") << 9 << QStringLiteral("[WARN] hello");
}

void StartupTest::formatLine()
{
    QFETCH(int, type);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);

    const QMessageLogContext context(file.isNull() ? nullptr : file.constData(), line, nullptr, nullptr);
    QCOMPARE(Startup::formatStartupLogLine(QtMsgType(type), context, QStringLiteral("hello")), expected);
}

void StartupTest::formatLineDropsUrlQueries_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("browser warning with order key")
        << "Unable to detect a web browser to launch 'http://pay.example/checkout?order=7&key=s3cr3t'"
        << "Unable to detect a web browser to launch 'http://pay.example/checkout'";
    QTest::newRow("fragment") << "open https://h.example/a#token=abc now" << "open https://h.example/a now";
    QTest::newRow("query then fragment") << "QUrl(\"wss://h.example/ws?code=1#x\")" << "QUrl(\"wss://h.example/ws\")";
    QTest::newRow("two urls") << "a http://x.example/?k=1 b https://y.example/p?q=2"
                              << "a http://x.example/ b https://y.example/p";
    QTest::newRow("no query untouched") << "GET http://x.example/api/v1/bootstrap 200"
                                        << "GET http://x.example/api/v1/bootstrap 200";
    QTest::newRow("plain question untouched") << "is it up? yes" << "is it up? yes";
}

void StartupTest::formatLineDropsUrlQueries()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    const QMessageLogContext context;
    const QString line = Startup::formatStartupLogLine(QtWarningMsg, context, message);
    QCOMPARE(line, QStringLiteral("[WARN] ") + expected);
}

void StartupTest::appendWritesStampedLines()
{
    const QString path = m_env.path(QStringLiteral("startup/desktop.log"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    Startup::g_startupLogPath = path;
    Startup::appendStartupLog(QStringLiteral("Starting 岚舟 from /opt/quillet")); // i18n-exempt: log
    const QMessageLogContext context("main.cpp", 12, nullptr, nullptr);
    Startup::startupMessageHandler(QtWarningMsg, context, QStringLiteral("QML problem"));
    Startup::g_startupLogPath.clear();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    for (const QString &line : lines)
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines[0].endsWith(QStringLiteral(" Starting 岚舟 from /opt/quillet"))); // i18n-exempt: log
    QVERIFY(lines[1].endsWith(QStringLiteral(" [WARN] QML problem (main.cpp:12)")));
}

void StartupTest::appendWithoutPathWritesNothing()
{
    Startup::g_startupLogPath.clear();
    Startup::appendStartupLog(QStringLiteral("dropped"));
    // An unopenable path drops the line silently as well.
    Startup::g_startupLogPath = m_env.path(QStringLiteral("no/such/dir/desktop.log"));
    Startup::appendStartupLog(QStringLiteral("dropped"));
    Startup::g_startupLogPath.clear();
    QVERIFY(!QFile::exists(m_env.path(QStringLiteral("no/such/dir/desktop.log"))));
}

void StartupTest::quitFilterSwallowsOnlyQuit()
{
    Startup::QuitEventFilter filter;
    QEvent quit(QEvent::Quit);
    QEvent close(QEvent::Close);
    QVERIFY(filter.eventFilter(this, &quit));
    QVERIFY(!filter.eventFilter(this, &close));
    QVERIFY(!filter.eventFilter(this, nullptr));
}

void StartupTest::quitRequestDoesNotEndEventLoop()
{
    Startup::QuitEventFilter filter;
    // Not qApp: with the widgets module linked it casts to QApplication, and
    // this test runs under a plain QCoreApplication.
    QCoreApplication::instance()->installEventFilter(&filter);
    bool quitAsked = false;
    QTimer::singleShot(10, this, [&] {
        quitAsked = true;
        QCoreApplication::quit();
    });
    QTimer::singleShot(300, this, [] { QCoreApplication::exit(42); });
    const int code = QCoreApplication::exec();
    QCoreApplication::instance()->removeEventFilter(&filter);
    QVERIFY(quitAsked);
    QCOMPARE(code, 42);
}

void StartupTest::diagnosticLogTrimsToTail()
{
    const QString path = m_env.path(QStringLiteral("trim/desktop-controller.log"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray filler(DiagnosticLog::kTrimThresholdBytes - DiagnosticLog::kTrimKeepBytes, 'a');
        file.write(filler);
        file.write(QByteArray(DiagnosticLog::kTrimKeepBytes, 'b'));
        file.write("c"); // one byte over the threshold
    }
    DiagnosticLog::appendLine(path, QStringLiteral("next line"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(!content.contains('a'));
    QVERIFY(content.startsWith(QByteArray(DiagnosticLog::kTrimKeepBytes - 1, 'b') + 'c'));
    QVERIFY(content.endsWith("] next line\n"));
    QVERIFY(content.size() < DiagnosticLog::kTrimKeepBytes + 64);
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
