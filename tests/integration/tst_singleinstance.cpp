#include "app/singleinstance.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// One client per user: a second launch shows the first one's window and ends.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void secondLaunchRaisesTheFirst();
    void nameLeftByACrashIsTakenOver();
    void namesDifferPerHome();

private:
    QString desktopLog() const;
    std::unique_ptr<TestEnvironment> m_env;
};

void SingleInstanceTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    // The launched programs see a home of their own, so their socket is this test's alone.
    qputenv("HOME", m_env->path(QStringLiteral("home")).toLocal8Bit());
    QVERIFY(QDir().mkpath(m_env->logDirectory()));
}

QString SingleInstanceTest::desktopLog() const
{
    QFile file(m_env->logDirectory() + QStringLiteral("/desktop.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void SingleInstanceTest::secondLaunchRaisesTheFirst()
{
    QProcess first;
    first.setProgram(QStringLiteral(QUILLET_DESKTOP_BINARY));
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start();
    QVERIFY(first.waitForStarted());
    auto stopFirst = qScopeGuard([&first] {
        first.kill();
        first.waitForFinished(5000);
    });
    // Up once it has loaded its window (the log says so) and listens.
    QTRY_VERIFY_WITH_TIMEOUT(desktopLog().contains(QStringLiteral("QML import paths")), 30000);

    QProcess second;
    second.setProgram(QStringLiteral(QUILLET_DESKTOP_BINARY));
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start();
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(desktopLog().contains(QStringLiteral("Launched again: showing the window.")), 10000);
    QVERIFY(desktopLog().contains(QStringLiteral("Already running: asked the running client to show its window.")));
    QCOMPARE(first.state(), QProcess::Running);
}

void SingleInstanceTest::nameLeftByACrashIsTakenOver()
{
    const QString name = QStringLiteral("quillet-test-%1").arg(QCoreApplication::applicationPid());
    // A crashed run leaves its socket file behind on Unix; nobody answers on it.
    QFile stale(QDir::temp().filePath(name));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    auto removeStale = qScopeGuard([&stale] { stale.remove(); });
    SingleInstance first(name);
    QVERIFY(!first.activateRunningInstance(500));
    QVERIFY(first.listen());

    QSignalSpy activated(&first, &SingleInstance::activationRequested);
    bool answered = false;
    // The asking side blocks; run it once the event loop is going.
    QTimer::singleShot(0, [&] {
        SingleInstance second(name);
        answered = second.activateRunningInstance(200);
    });
    QTRY_VERIFY(activated.count() == 1);
    QVERIFY(answered);
}

void SingleInstanceTest::namesDifferPerHome()
{
    const QString here = SingleInstance::serverNameForCurrentUser();
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", m_env->path(QStringLiteral("other")).toLocal8Bit());
    const QString other = SingleInstance::serverNameForCurrentUser();
    qputenv("HOME", home);
    QVERIFY(here.startsWith(QStringLiteral("quillet-desktop-")));
    QVERIFY(here != other);
}

QTEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
