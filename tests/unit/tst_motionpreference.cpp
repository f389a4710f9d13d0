#include "app/windowmotion.h"
#include "platform/motion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

using Platform::MotionPreference;
Q_DECLARE_METATYPE(Platform::MotionPreference)

// The window's animations follow the system's motion preference and rest while
// nobody can see the window; a misread answer either keeps a laptop awake or
// freezes a window that should move.
class MotionPreferenceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gnomeAnswer_data();
    void gnomeAnswer();
    void kdeglobals_data();
    void kdeglobals();
    void clientAreaAnimation_data();
    void clientAreaAnimation();
    void linuxDesktopSources_data();
    void linuxDesktopSources();
    void exposureFollowsTheWindow_data();
    void exposureFollowsTheWindow();
    void preferenceIsReadAgainOnActivation();
};

void MotionPreferenceTest::gnomeAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<MotionPreference>("expected");

    QTest::newRow("true") << "true\n" << MotionPreference::Full;
    QTest::newRow("false") << "false\n" << MotionPreference::Reduced;
    QTest::newRow("false in whitespace") << " \tfalse \r\n" << MotionPreference::Reduced;
    QTest::newRow("empty") << "" << MotionPreference::NoPreference;
    QTest::newRow("whitespace only") << " \n\t" << MotionPreference::NoPreference;
    QTest::newRow("capitalised") << "False\n" << MotionPreference::NoPreference;
    QTest::newRow("quoted") << "'false'\n" << MotionPreference::NoPreference;
    QTest::newRow("longer word") << "falsely\n" << MotionPreference::NoPreference;
    QTest::newRow("error text") << "No such schema \xe2\x80\x9corg.gnome.desktop.interface\xe2\x80\x9d\n"
                                << MotionPreference::NoPreference;
    QTest::newRow("two answers") << "false\ntrue\n" << MotionPreference::NoPreference;
}

void MotionPreferenceTest::gnomeAnswer()
{
    QFETCH(QString, answer);
    QFETCH(MotionPreference, expected);
    QCOMPARE(Platform::parseGnomeEnableAnimations(answer.toStdString()), expected);
}

void MotionPreferenceTest::kdeglobals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<MotionPreference>("expected");

    QTest::newRow("factor 0") << "[KDE]\nAnimationDurationFactor=0\n" << MotionPreference::Reduced;
    QTest::newRow("factor 0.0") << "[KDE]\nAnimationDurationFactor=0.0\n" << MotionPreference::Reduced;
    QTest::newRow("factor 0.5") << "[General]\nfoo=1\n\n[KDE]\nAnimationDurationFactor=0.5\n" << MotionPreference::Full;
    QTest::newRow("factor 1, no newline") << "[KDE]\nAnimationDurationFactor=1" << MotionPreference::Full;
    QTest::newRow("whitespace around") << "[KDE]\n  AnimationDurationFactor = 0 \t\n" << MotionPreference::Reduced;
    QTest::newRow("CRLF") << "[KDE]\r\nAnimationDurationFactor=0\r\n" << MotionPreference::Reduced;
    QTest::newRow("immutable entry") << "[KDE]\nAnimationDurationFactor[$i]=0\n" << MotionPreference::Reduced;
    QTest::newRow("last entry wins") << "[KDE]\nAnimationDurationFactor=0\nAnimationDurationFactor=2\n"
                                     << MotionPreference::Full;
    QTest::newRow("empty value") << "[KDE]\nAnimationDurationFactor=\n" << MotionPreference::NoPreference;
    QTest::newRow("whitespace value") << "[KDE]\nAnimationDurationFactor=   \n" << MotionPreference::NoPreference;
    QTest::newRow("garbage") << "[KDE]\nAnimationDurationFactor=slow\n" << MotionPreference::NoPreference;
    QTest::newRow("decimal comma") << "[KDE]\nAnimationDurationFactor=0,5\n" << MotionPreference::NoPreference;
    QTest::newRow("negative") << "[KDE]\nAnimationDurationFactor=-1\n" << MotionPreference::NoPreference;
    QTest::newRow("trailing text") << "[KDE]\nAnimationDurationFactor=0x\n" << MotionPreference::NoPreference;
    QTest::newRow("missing key") << "[KDE]\nSingleClick=false\n" << MotionPreference::NoPreference;
    QTest::newRow("other group") << "[General]\nAnimationDurationFactor=0\n" << MotionPreference::NoPreference;
    QTest::newRow("nested group") << "[KDE][Sub]\nAnimationDurationFactor=0\n" << MotionPreference::NoPreference;
    QTest::newRow("group ended") << "[KDE]\n[Icons]\nAnimationDurationFactor=0\n" << MotionPreference::NoPreference;
    QTest::newRow("commented out") << "[KDE]\n#AnimationDurationFactor=0\n" << MotionPreference::NoPreference;
    QTest::newRow("longer key") << "[KDE]\nAnimationDurationFactorX=0\n" << MotionPreference::NoPreference;
    QTest::newRow("empty file") << "" << MotionPreference::NoPreference;
}

void MotionPreferenceTest::kdeglobals()
{
    QFETCH(QString, file);
    QFETCH(MotionPreference, expected);
    QCOMPARE(Platform::parseKdeAnimationDurationFactor(file.toStdString()), expected);
}

void MotionPreferenceTest::clientAreaAnimation_data()
{
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<MotionPreference>("expected");

    QTest::newRow("animations on") << true << true << MotionPreference::Full;
    QTest::newRow("animations off") << true << false << MotionPreference::Reduced;
    QTest::newRow("no answer") << false << false << MotionPreference::NoPreference;
}

void MotionPreferenceTest::clientAreaAnimation()
{
    QFETCH(bool, answered);
    QFETCH(bool, enabled);
    QFETCH(MotionPreference, expected);
    QCOMPARE(Platform::clientAreaAnimationPreference(answered, enabled), expected);
}

void MotionPreferenceTest::linuxDesktopSources_data()
{
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("kdeglobals");
    // A stand-in gsettings script's body; empty: none on the path.
    QTest::addColumn<QString>("gsettings");
    QTest::addColumn<MotionPreference>("expected");
    QTest::addColumn<QString>("source");

    const QString kdeOff = QStringLiteral("[KDE]\nAnimationDurationFactor=0\n");
    QTest::newRow("KDE session reads kdeglobals") << "KDE" << kdeOff << "echo true" << MotionPreference::Reduced
                                                  << "kdeglobals";
    QTest::newRow("KDE session without the file") << "X-Test:KDE" << "" << "echo false"
                                                   << MotionPreference::NoPreference << "none";
    QTest::newRow("GNOME turns animations off") << "GNOME" << "" << "echo false" << MotionPreference::Reduced
                                                << "gsettings";
    QTest::newRow("GNOME leaves them on") << "GNOME" << kdeOff << "echo true" << MotionPreference::Full
                                          << "gsettings";
    QTest::newRow("no schema falls back to kdeglobals")
        << "XFCE" << kdeOff << "echo 'No such schema' >&2; exit 1" << MotionPreference::Reduced << "kdeglobals";
    QTest::newRow("garbage answer") << "GNOME" << "" << "echo maybe" << MotionPreference::NoPreference << "none";
    QTest::newRow("no gsettings") << "GNOME" << "" << "" << MotionPreference::NoPreference << "none";
    QTest::newRow("hung gsettings times out") << "GNOME" << "" << "exec sleep 30" << MotionPreference::NoPreference
                                              << "none";
}

// The real Linux reader against a stand-in gsettings and a kdeglobals of the test's own.
void MotionPreferenceTest::linuxDesktopSources()
{
    QFETCH(QString, desktop);
    QFETCH(QString, kdeglobals);
    QFETCH(QString, gsettings);
    QFETCH(MotionPreference, expected);
    QFETCH(QString, source);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("config")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("bin")));
    if (!kdeglobals.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("config/kdeglobals")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kdeglobals.toUtf8());
    }
    if (!gsettings.isEmpty()) {
        QFile script(dir.filePath(QStringLiteral("bin/gsettings")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n[ \"$*\" = \"get org.gnome.desktop.interface enable-animations\" ] || exit 2\n");
        script.write(gsettings.toUtf8() + '\n');
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    const QByteArray oldPath = qgetenv("PATH");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    // sh and sleep stay reachable for the stand-in; only our bin holds a gsettings.
    const QString binDir = dir.filePath(QStringLiteral("bin"));
    for (const char *tool : {"sh", "sleep", "echo"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(tool));
        if (!found.isEmpty())
            QFile::link(found, binDir + QLatin1Char('/') + QLatin1String(tool));
    }
    qputenv("PATH", binDir.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CURRENT_DESKTOP", desktop.toLocal8Bit());

    auto reading = std::make_shared<Platform::MotionReading>();
    auto answers = std::make_shared<int>(0);
    QElapsedTimer clock;
    clock.start();
    Platform::readMotionPreference([reading, answers](const Platform::MotionReading &r) {
        *reading = r;
        ++*answers;
    });
    // The program, if any, has started with the environment above.
    qputenv("PATH", oldPath);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    qputenv("XDG_CURRENT_DESKTOP", oldDesktop);
    // The caller never waits for the program.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(*answers, 1, 8000);
    QCOMPARE(reading->preference, expected);
    QVERIFY2(QString::fromStdString(reading->source).startsWith(source), reading->source.c_str());
    QTest::qWait(50);
    QCOMPARE(*answers, 1);
}

void MotionPreferenceTest::exposureFollowsTheWindow_data()
{
    QTest::addColumn<QString>("action");

    QTest::newRow("hidden") << "hide";
    QTest::newRow("minimized") << "minimize";
    QTest::newRow("cloaked on another desktop") << "cloak";
}

void MotionPreferenceTest::exposureFollowsTheWindow()
{
    QFETCH(QString, action);
    QWindow window;
    window.resize(200, 120);
    WindowMotion motion;
    bool cloaked = false;
    int probes = 0;
    motion.setCloakProbe([&](QWindow *) {
        ++probes;
        return cloaked;
    });
    motion.attach(&window);
    QVERIFY(!motion.exposed());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(motion.exposed());
    QSignalSpy changes(&motion, &WindowMotion::exposedChanged);

    if (action == QLatin1String("hide")) {
        window.hide();
    } else if (action == QLatin1String("minimize")) {
        window.showMinimized();
    } else {
        // The compositor's word reaches the window through its activation (or, on
        // Windows, the cloak hook): a desktop switch takes the focus away.
        cloaked = true;
        QWindow other;
        other.resize(50, 50);
        other.show();
        other.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTest::qWait(20);
        if (motion.exposed()) {
            window.requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(&window));
        }
    }
    QTRY_VERIFY(!motion.exposed());
    QCOMPARE(changes.count(), 1);

    cloaked = false;
    window.showNormal();
    window.requestActivate();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(motion.exposed());
    QCOMPARE(changes.count(), 2);
    QVERIFY(probes > 0);
}

void MotionPreferenceTest::preferenceIsReadAgainOnActivation()
{
    QWindow window;
    window.resize(200, 120);
    WindowMotion motion;
    motion.setCloakProbe([](QWindow *) { return false; });
    MotionPreference answer = MotionPreference::Reduced;
    int reads = 0;
    std::function<void(const Platform::MotionReading &)> pending;
    motion.setPreferenceReader([&](std::function<void(const Platform::MotionReading &)> done) {
        ++reads;
        pending = std::move(done);
    });
    motion.attach(&window);
    QCOMPARE(reads, 0);
    QVERIFY(!motion.reducedMotion());

    QSignalSpy changes(&motion, &WindowMotion::reducedMotionChanged);
    motion.readPreference();
    // One read at a time: a second request while the first waits starts none.
    motion.readPreference();
    QCOMPARE(reads, 1);
    Platform::MotionReading reading;
    reading.preference = answer;
    reading.source = "test";
    pending(reading);
    QVERIFY(motion.reducedMotion());
    QCOMPARE(changes.count(), 1);

    // Back from the system settings: the window's activation reads again, once
    // the last read is old enough.
    window.show();
    window.requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::qWait(50);
    QCOMPARE(reads, 1); // read a moment ago
    QWindow other;
    other.resize(100, 80);
    other.show();
    other.requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_VERIFY(!window.isActive());
    motion.setActivationRereadMs(0);
    window.requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_COMPARE(reads, 2);
    reading.preference = MotionPreference::Full;
    pending(reading);
    QVERIFY(!motion.reducedMotion());
    QCOMPARE(changes.count(), 2);
    // The same answer again changes nothing.
    motion.readPreference();
    QCOMPARE(reads, 3);
    pending(reading);
    QCOMPARE(changes.count(), 2);
}

QTEST_MAIN(MotionPreferenceTest)
#include "tst_motionpreference.moc"
