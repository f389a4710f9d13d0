#include "platform/servicecontrol.h"
#include "testenvironment.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

// The engine controller's own bookkeeping: the in-memory log tail, the
// diagnostic log file and its trim, the binary choice and the service-control
// program. The service paths run in the integration tests.
class ServiceEngineLogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void recentLogKeepsTheLast8000Characters();
    void logFileIsTrimmedToItsLast384KiB();
    void logLinesCarryTimeAndNewline();
    void setBinaryPathEmitsOnlyOnChange();
    void binaryChoice();
    void serviceControlProgram();

private:
    TestEnvironment m_env;
    QString m_logPath;
};

void ServiceEngineLogTest::initTestCase()
{
    m_logPath = DiagnosticLog::desktopDiagnosticLogPath();
    QVERIFY(!m_logPath.isEmpty());
}

void ServiceEngineLogTest::recentLogKeepsTheLast8000Characters()
{
    SingBoxProcessManager manager;
    QSignalSpy changed(&manager, &SingBoxProcessManager::recentLogChanged);
    QVERIFY(changed.isValid());
    manager.appendLog(QString(7990, QLatin1Char('a')));
    QCOMPARE(manager.recentLog().size(), 7990);
    manager.appendLog(QStringLiteral("0123456789ABCDEFGHIJ\n"));
    QCOMPARE(manager.recentLog().size(), SingBoxProcessManager::kRecentLogLimit);
    QVERIFY(manager.recentLog().endsWith(QStringLiteral("0123456789ABCDEFGHIJ\n")));
    QVERIFY(manager.recentLog().startsWith(QLatin1Char('a')));
    manager.appendDiagnosticLog(QString(9000, QLatin1Char('z')));
    QCOMPARE(manager.recentLog(), QString(8000, QLatin1Char('z')));
    QCOMPARE(changed.count(), 3);
}

void ServiceEngineLogTest::logFileIsTrimmedToItsLast384KiB()
{
    // Every test program writes to this file: put the padding in front of what
    // is there, so lines that others just wrote survive the trim.
    QFile file(m_logPath);
    QByteArray existing;
    if (file.open(QIODevice::ReadOnly)) {
        existing = file.readAll();
        file.close();
    }
    existing = existing.right(DiagnosticLog::kTrimKeepBytes / 2);
    const QByteArray padding(DiagnosticLog::kTrimThresholdBytes, 'h');
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(padding) == padding.size() && file.write(existing) == existing.size());
    file.close();

    SingBoxProcessManager manager;
    manager.appendLog(QStringLiteral("after trim"));

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    const QByteArray appended = content.mid(DiagnosticLog::kTrimKeepBytes);
    QVERIFY2(appended.startsWith('[') && appended.endsWith("] after trim\n"), appended.constData());
    QVERIFY(content.startsWith(QByteArray(DiagnosticLog::kTrimKeepBytes - existing.size(), 'h') + existing));
}

void ServiceEngineLogTest::logLinesCarryTimeAndNewline()
{
    SingBoxProcessManager manager;
    manager.appendLog(QStringLiteral("VPN stop requested. runningBefore=false\n"));
    manager.appendLog(QStringLiteral("no newline"));
    QFile file(m_logPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    // Other test programs may write to the same file meanwhile: look for the lines, not their position.
    const QString stamp = QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\] ");
    const auto hasLine = [&](const QString &text) {
        return QRegularExpression(
            stamp + QRegularExpression::escape(text) + QStringLiteral("\n"), QRegularExpression::MultilineOption)
            .match(content)
            .hasMatch();
    };
    QVERIFY(hasLine(QStringLiteral("VPN stop requested. runningBefore=false")));
    QVERIFY(hasLine(QStringLiteral("no newline")));
    QVERIFY(!content.contains(QStringLiteral("runningBefore=false\n\n")));
}

void ServiceEngineLogTest::setBinaryPathEmitsOnlyOnChange()
{
    SingBoxProcessManager manager;
    QSignalSpy changed(&manager, &SingBoxProcessManager::binaryPathChanged);
    manager.setBinaryPath(QString());
    QCOMPARE(changed.count(), 0);
    manager.setBinaryPath(QStringLiteral("/opt/engine"));
    manager.setBinaryPath(QStringLiteral("/opt/engine"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(manager.binaryPath(), QStringLiteral("/opt/engine"));
}

void ServiceEngineLogTest::binaryChoice()
{
    SingBoxProcessManager manager;
    qputenv("TARN_SINGBOX_BINARY", "/from/environment/sing-box");
    QCOMPARE(manager.resolvedBinaryPath(), QStringLiteral("/from/environment/sing-box"));
    manager.setBinaryPath(QStringLiteral("/explicit/sing-box"));
    QCOMPARE(manager.resolvedBinaryPath(), QStringLiteral("/explicit/sing-box"));
    manager.setBinaryPath(QString());
    qunsetenv("TARN_SINGBOX_BINARY");
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const char *relative :
        {"bin/sing-box", "../../../bin/sing-box", "bin/sing-box.exe", "../../../bin/sing-box.exe"}) {
        if (QFileInfo::exists(programDir.filePath(QLatin1String(relative))))
            QSKIP("an engine is installed beside the test programs");
    }
    // Nothing beside the program: the bare name, left to the search path.
    QCOMPARE(manager.resolvedBinaryPath(), QStringLiteral("sing-box"));
}

void ServiceEngineLogTest::serviceControlProgram()
{
    QCOMPARE(Platform::serviceControlArguments(QStringLiteral("query")),
        QStringList({QStringLiteral("query"), QStringLiteral("QuilletVpnService")}));
    qputenv("QUILLET_SERVICECTL", "/tests/fake-sc");
    QCOMPARE(Platform::serviceControlProgram(), QStringLiteral("/tests/fake-sc"));
    qunsetenv("QUILLET_SERVICECTL");
    QCOMPARE(Platform::serviceControlProgram(), Platform::defaultServiceControlProgram());
}

QTEST_GUILESS_MAIN(ServiceEngineLogTest)
#include "tst_serviceenginelog.moc"
