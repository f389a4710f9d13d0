#include "app/trayicons.h"
#include "model/tunnelhealth.h"
#include "platform/autostart.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace TunnelHealth;

Q_DECLARE_METATYPE(TunnelHealth::Step)

namespace {

// "ok" for a passing check, "api" for a control API that does not answer,
// "probe" for a probe target that does not, "offline" for no network,
// "drop" for a drop seen directly, "restart-failed" for a failed restart.
Step apply(State &state, const QString &event, bool reconnect)
{
    Observation observation;
    if (event == QLatin1String("api"))
        observation.controlApiAnswers = false;
    else if (event == QLatin1String("probe"))
        observation.probeAnswers = false;
    else if (event == QLatin1String("offline"))
        observation = Observation{false, false, false};
    else if (event == QLatin1String("drop"))
        return state.dropped(reconnect);
    else if (event == QLatin1String("restart-failed"))
        return state.restartFailed();
    return state.observe(observation, reconnect);
}

QString stepName(Step step)
{
    switch (step) {
    case Step::Healthy: return QStringLiteral("healthy");
    case Step::WaitForNetwork: return QStringLiteral("wait");
    case Step::CheckAgainSoon: return QStringLiteral("recheck");
    case Step::Restart: return QStringLiteral("restart");
    case Step::GiveUp: return QStringLiteral("give-up");
    }
    return QString();
}

} // namespace

// The rules that keep a tunnel up, and the login entry of this platform.
class TunnelHealthTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void restartBackoff_data();
    void restartBackoff();
    void resume_data();
    void resume();
    void checkSequence_data();
    void checkSequence();
    void autoConnect_data();
    void autoConnect();
    void loginEntry_data();
    void loginEntry();
    void loginEntryRefusesBadPrograms_data();
    void loginEntryRefusesBadPrograms();
    void trayIconVariants_data();
    void trayIconVariants();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TunnelHealthTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
}

void TunnelHealthTest::restartBackoff_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<int>("delayMs");
    QTest::newRow("first") << 0 << 5000;
    QTest::newRow("second") << 1 << 15000;
    QTest::newRow("third") << 2 << 45000;
    QTest::newRow("none left") << 3 << -1;
    QTest::newRow("negative") << -1 << -1;
}

void TunnelHealthTest::restartBackoff()
{
    QFETCH(int, attempt);
    QFETCH(int, delayMs);
    QCOMPARE(restartDelayMs(attempt), delayMs);
}

void TunnelHealthTest::resume_data()
{
    QTest::addColumn<qint64>("expectedMs");
    QTest::addColumn<qint64>("wallElapsedMs");
    QTest::addColumn<bool>("resumed");
    QTest::newRow("on time") << qint64(60000) << qint64(60020) << false;
    QTest::newRow("a busy machine is late") << qint64(60000) << qint64(95000) << false;
    QTest::newRow("a night asleep") << qint64(60000) << qint64(8 * 3600 * 1000) << true;
    QTest::newRow("three periods") << qint64(60000) << qint64(180000) << true;
    QTest::newRow("clock set back") << qint64(60000) << qint64(-3600000) << false;
    QTest::newRow("no period") << qint64(0) << qint64(100000) << false;
}

void TunnelHealthTest::resume()
{
    QFETCH(qint64, expectedMs);
    QFETCH(qint64, wallElapsedMs);
    QFETCH(bool, resumed);
    QCOMPARE(resumeDetected(expectedMs, wallElapsedMs), resumed);
}

void TunnelHealthTest::checkSequence_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("restartsUsed");

    const QStringList none;
    QTest::newRow("healthy") << true << QStringList{"ok", "ok"} << QStringList{"healthy", "healthy"} << 0;
    QTest::newRow("one failure is not a drop")
        << true << QStringList{"probe", "ok"} << QStringList{"recheck", "healthy"} << 0;
    QTest::newRow("two probe failures restart")
        << true << QStringList{"probe", "probe"} << QStringList{"recheck", "restart"} << 1;
    QTest::newRow("api then probe counts as two")
        << true << QStringList{"api", "probe"} << QStringList{"recheck", "restart"} << 1;
    QTest::newRow("failures apart are not consecutive")
        << true << QStringList{"probe", "ok", "probe", "ok"} << QStringList{"recheck", "healthy", "recheck", "healthy"} << 0;
    QTest::newRow("offline is not counted")
        << true << QStringList{"probe", "offline", "offline", "ok"} << QStringList{"recheck", "wait", "wait", "healthy"} << 0;
    QTest::newRow("offline between two failures keeps the first")
        << true << QStringList{"probe", "offline", "probe"} << QStringList{"recheck", "wait", "restart"} << 1;
    QTest::newRow("three failed restarts give up")
        << true << QStringList{"drop", "restart-failed", "restart-failed", "restart-failed"}
        << QStringList{"restart", "restart", "restart", "give-up"} << 3;
    QTest::newRow("checks after restarts give up on the fourth drop")
        << true << QStringList{"probe", "probe", "probe", "probe", "probe", "probe", "probe", "probe"}
        << QStringList{"recheck", "restart", "recheck", "restart", "recheck", "restart", "recheck", "give-up"} << 3;
    QTest::newRow("a healthy check gives the restarts back")
        << true << QStringList{"drop", "restart-failed", "ok", "drop"}
        << QStringList{"restart", "restart", "healthy", "restart"} << 1;
    QTest::newRow("reconnect off: a drop gives up")
        << false << QStringList{"drop"} << QStringList{"give-up"} << 0;
    QTest::newRow("reconnect off: two failures give up")
        << false << QStringList{"api", "api"} << QStringList{"recheck", "give-up"} << 0;
}

void TunnelHealthTest::checkSequence()
{
    QFETCH(bool, reconnect);
    QFETCH(QStringList, events);
    QFETCH(QStringList, steps);
    QFETCH(int, restartsUsed);

    State state;
    QStringList seen;
    for (const QString &event : std::as_const(events))
        seen << stepName(apply(state, event, reconnect));
    QCOMPARE(seen, steps);
    QCOMPARE(state.restartsUsed, restartsUsed);
}

void TunnelHealthTest::autoConnect_data()
{
    QTest::addColumn<bool>("settingOn");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("bootstrap");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("tried");
    QTest::addColumn<bool>("connects");
    QTest::newRow("all set") << true << true << true << false << false << true;
    QTest::newRow("setting off") << false << true << true << false << false << false;
    QTest::newRow("signed out") << true << false << true << false << false << false;
    QTest::newRow("offline: bootstrap not yet") << true << true << false << false << false << false;
    QTest::newRow("tunnel already running") << true << true << true << true << false << false;
    QTest::newRow("never twice") << true << true << true << false << true << false;
}

void TunnelHealthTest::autoConnect()
{
    QFETCH(bool, settingOn);
    QFETCH(bool, signedIn);
    QFETCH(bool, bootstrap);
    QFETCH(bool, running);
    QFETCH(bool, tried);
    QFETCH(bool, connects);
    QCOMPARE(shouldAutoConnect({settingOn, signedIn, bootstrap, running, tried}), connects);
}

void TunnelHealthTest::loginEntry_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain path") << QStringLiteral("/opt/quillet/quillet-desktop")
                                << QStringLiteral("/opt/quillet/quillet-desktop --minimized");
    QTest::newRow("space is quoted") << QStringLiteral("/home/a b/quillet-desktop")
                                     << QStringLiteral("\"/home/a b/quillet-desktop\" --minimized");
    QTest::newRow("dollar and quote escaped")
        << QStringLiteral("/tmp/$x\"y/quillet")
        << QStringLiteral("\"/tmp/\\\\$x\\\\\"y/quillet\" --minimized");
    QTest::newRow("percent doubled") << QStringLiteral("/tmp/100%/quillet") << QStringLiteral("/tmp/100%%/quillet --minimized");
    QTest::newRow("chinese folder") << QStringLiteral("/home/用户/岚舟/quillet-desktop")
                                    << QStringLiteral("/home/用户/岚舟/quillet-desktop --minimized");
}

void TunnelHealthTest::loginEntry()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    const QString entry = m_env->path(QStringLiteral("config/autostart/quillet-desktop.desktop"));
    QVERIFY(Platform::disableLaunchAtLogin());
    QVERIFY(!QFile::exists(entry));

    QVERIFY(Platform::enableLaunchAtLogin(program.toStdString()));
    QFile file(entry);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(entry));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("X-GNOME-Autostart-enabled=true")));
    QVERIFY(lines.contains(QStringLiteral("Exec=") + exec));
    QCOMPARE(QString::fromStdString(Platform::launchAtLoginCommand()), exec);
    file.close();

    // Written again (the program moved): one entry, the new path.
    QVERIFY(Platform::enableLaunchAtLogin("/usr/bin/quillet-desktop"));
    QCOMPARE(QString::fromStdString(Platform::launchAtLoginCommand()), QStringLiteral("/usr/bin/quillet-desktop --minimized"));
    QCOMPARE(QDir(m_env->path(QStringLiteral("config/autostart"))).entryList(QDir::Files).size(), 1);

    QVERIFY(Platform::disableLaunchAtLogin());
    QVERIFY(!QFile::exists(entry));
    QVERIFY(Platform::launchAtLoginCommand().empty());
    QVERIFY(Platform::disableLaunchAtLogin());
}

void TunnelHealthTest::loginEntryRefusesBadPrograms_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("empty") << QString();
    QTest::newRow("relative") << QStringLiteral("quillet-desktop");
    QTest::newRow("line break would add keys") << QStringLiteral("/tmp/x\nExec=/bin/evil");
}

void TunnelHealthTest::loginEntryRefusesBadPrograms()
{
    QFETCH(QString, program);
    QVERIFY(Platform::enableLaunchAtLogin("/usr/bin/quillet-desktop"));
    QVERIFY(!Platform::enableLaunchAtLogin(program.toStdString()));
    // The entry that was there stays as it was.
    QCOMPARE(QString::fromStdString(Platform::launchAtLoginCommand()), QStringLiteral("/usr/bin/quillet-desktop --minimized"));
    QVERIFY(Platform::disableLaunchAtLogin());
}

void TunnelHealthTest::trayIconVariants_data()
{
    QTest::addColumn<bool>("connected");
    QTest::newRow("connected: colour with a green dot") << true;
    QTest::newRow("not connected: grey") << false;
}

void TunnelHealthTest::trayIconVariants()
{
    QFETCH(bool, connected);
    QImage logo(128, 128, QImage::Format_ARGB32);
    logo.fill(QColor(0xf7, 0x68, 0x5f));
    const QImage image = TrayIcons::trayImage(logo, connected);
    QCOMPARE(image.size(), QSize(64, 64));
    const QColor middle = image.pixelColor(20, 20);
    const QColor corner = image.pixelColor(52, 52);
    if (connected) {
        QCOMPARE(middle, QColor(0xf7, 0x68, 0x5f));
        QVERIFY2(corner.green() > corner.red() && corner.green() > corner.blue(), qPrintable(corner.name()));
    } else {
        for (const QColor &c : {middle, corner}) {
            QCOMPARE(c.red(), c.green());
            QCOMPARE(c.green(), c.blue());
        }
        QVERIFY(middle.alpha() < 255);
    }
    QVERIFY(TrayIcons::trayImage(QImage(), connected).isNull());
}

QTEST_GUILESS_MAIN(TunnelHealthTest)
#include "tst_tunnelhealth.moc"
