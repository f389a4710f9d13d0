#include "app/windowmotion.h"
#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSet>
#include <QtTest>

// The connect page shows its motion where it means something and then rests: a window
// whose render loop never idles keeps a core (or a laptop's GPU) awake in the background.
class RestingMotionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void restsAfterPhase_data();
    void restsAfterPhase();
    void hoverAndPressPlayThenRest_data();
    void hoverAndPressPlayThenRest();
    void nothingMovesWhileHidden_data();
    void nothingMovesWhileHidden();
    void stillFrameShowsTheShield_data();
    void stillFrameShowsTheShield();
    void gatedMotionStartsNothing_data();
    void gatedMotionStartsNothing();

private:
    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(m_engine->rootObjects().value(0)); }
    QStringList movingParts(bool allowSlowIndicator) const;
    void settle(const QString &phase);
    QImage playAndGrabStill();
    void setReducedMotion(bool reduced);
    void setCloaked(bool cloaked);

    TestEnvironment m_env;
    AppController *m_controller = nullptr;
    QQmlApplicationEngine *m_engine = nullptr;
    WindowMotion *m_motion = nullptr;
    bool m_cloaked = false;
    Platform::MotionPreference m_preference = Platform::MotionPreference::NoPreference;
};

namespace {

// A timer that fires at least this often repaints at an animation's rate.
constexpr int kSlowestIndicatorMs = 400;
// Longer than any bounded play (one loop of the vector animation is about six seconds).
constexpr int kRestWithinMs = 15000;

QString describe(const QObject *object)
{
    QStringList path;
    for (const QObject *o = object; o && path.size() < 4; o = o->parent()) {
        const QString name = o->objectName();
        path.prepend(QString::fromLatin1(o->metaObject()->className())
                     + (name.isEmpty() ? QString() : QLatin1Char('#') + name));
    }
    return path.join(QLatin1Char('/'));
}

void collect(QObject *object, QSet<QObject *> &seen)
{
    if (!object || seen.contains(object))
        return;
    seen.insert(object);
    for (QObject *child : object->children())
        collect(child, seen);
    if (auto *item = qobject_cast<QQuickItem *>(object)) {
        for (QQuickItem *child : item->childItems())
            collect(child, seen);
    }
}

} // namespace

QStringList RestingMotionTest::movingParts(bool allowSlowIndicator) const
{
    QSet<QObject *> seen;
    collect(window(), seen);
    collect(window()->contentItem(), seen);
    QStringList moving;
    for (QObject *object : std::as_const(seen)) {
        if (object->inherits("QQuickAbstractAnimation") && object->property("running").toBool()) {
            moving << QStringLiteral("animation ") + describe(object);
        } else if (object->inherits("QQmlTimer") && object->property("running").toBool()
                   && object->property("repeat").toBool()) {
            const int interval = object->property("interval").toInt();
            if (!allowSlowIndicator || interval < kSlowestIndicatorMs)
                moving << QStringLiteral("timer %1 ms ").arg(interval) + describe(object);
        }
    }
    moving.sort();
    return moving;
}

void RestingMotionTest::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    m_controller = new AppController;
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    m_controller->setCurrentPage(QStringLiteral("connect"));
    // The system's word, as the tests set it: the window's real exposure, a cloak
    // and a motion preference of the test's own.
    m_motion = new WindowMotion;
    m_motion->setCloakProbe([this](QWindow *) { return m_cloaked; });
    m_motion->setPreferenceReader([this](std::function<void(const Platform::MotionReading &)> done) {
        Platform::MotionReading reading;
        reading.preference = m_preference;
        reading.source = "test";
        done(reading);
    });
    m_engine = new QQmlApplicationEngine;
    m_engine->rootContext()->setContextProperty(QStringLiteral("appController"), m_controller);
    m_engine->rootContext()->setContextProperty(QStringLiteral("windowMotion"), m_motion);
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    QVERIFY(window());
    m_motion->attach(window());
    window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(window()));
    QTRY_VERIFY(window()->findChild<QQuickItem *>(QStringLiteral("powerDisc")));
}

void RestingMotionTest::cleanupTestCase()
{
    delete m_engine;
    delete m_motion;
    delete m_controller;
}

void RestingMotionTest::setReducedMotion(bool reduced)
{
    m_preference = reduced ? Platform::MotionPreference::Reduced : Platform::MotionPreference::Full;
    m_motion->readPreference();
    QCOMPARE(window()->property("reducedMotion").toBool(), reduced);
}

void RestingMotionTest::setCloaked(bool cloaked)
{
    m_cloaked = cloaked;
    m_motion->recheckExposure();
    QCOMPARE(m_motion->exposed(), !cloaked);
    QCOMPARE(window()->property("motionAllowed").toBool(), !cloaked);
}

// Sets the phase and waits until the transitions it starts have ended.
void RestingMotionTest::settle(const QString &phase)
{
    m_controller->setCurrentPage(QStringLiteral("connect"));
    QTRY_VERIFY(window()->findChild<QQuickItem *>(QStringLiteral("powerDisc")));
    m_controller->setVpnPhase(phase, QString());
    const bool indicator = phase == QLatin1String("connecting") || phase == QLatin1String("verifying")
                           || phase == QLatin1String("disconnecting");
    QTRY_VERIFY2_WITH_TIMEOUT(movingParts(indicator).isEmpty(), qPrintable(movingParts(indicator).join(QLatin1Char('\n'))),
                              kRestWithinMs);
}

void RestingMotionTest::restsAfterPhase_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<bool>("slowIndicatorAllowed");

    QTest::newRow("disconnected") << "connected" << "disconnected" << false;
    QTest::newRow("connected") << "verifying" << "connected" << false;
    QTest::newRow("failed") << "connecting" << "failed" << false;
    QTest::newRow("connecting keeps a slow indicator") << "disconnected" << "connecting" << true;
    QTest::newRow("verifying keeps a slow indicator") << "connecting" << "verifying" << true;
    QTest::newRow("disconnecting keeps a slow indicator") << "connected" << "disconnecting" << true;
    QTest::newRow("back to disconnected") << "disconnecting" << "disconnected" << false;
}

void RestingMotionTest::restsAfterPhase()
{
    QFETCH(QString, from);
    QFETCH(QString, phase);
    QFETCH(bool, slowIndicatorAllowed);
    m_controller->setVpnPhase(from, QString());
    QTest::qWait(50);
    m_controller->setVpnPhase(phase, QString());
    // A phase change is shown...
    QTRY_VERIFY_WITH_TIMEOUT(!movingParts(false).isEmpty(), 2000);
    // ...for a bounded time, then the page holds a still frame.
    QTRY_VERIFY2_WITH_TIMEOUT(movingParts(slowIndicatorAllowed).isEmpty(),
                              qPrintable(movingParts(slowIndicatorAllowed).join(QLatin1Char('\n'))), kRestWithinMs);
    QTest::qWait(600);
    const QStringList later = movingParts(slowIndicatorAllowed);
    QVERIFY2(later.isEmpty(), qPrintable(later.join(QLatin1Char('\n'))));
}

void RestingMotionTest::hoverAndPressPlayThenRest_data()
{
    QTest::addColumn<QString>("phase");
    QTest::addColumn<bool>("press");

    QTest::newRow("hover, disconnected") << "disconnected" << false;
    QTest::newRow("hover, connected") << "connected" << false;
    QTest::newRow("press, failed") << "failed" << true;
}

void RestingMotionTest::hoverAndPressPlayThenRest()
{
    QFETCH(QString, phase);
    QFETCH(bool, press);
    settle(phase);
    auto *disc = window()->findChild<QQuickItem *>(QStringLiteral("powerDisc"));
    QVERIFY(disc);
    const QPoint outside = disc->mapToScene(QPointF(-40, -40)).toPoint();
    const QPoint centre = disc->mapToScene(QPointF(disc->width() / 2, disc->height() / 2)).toPoint();
    QTest::mouseMove(window(), outside);
    QTest::qWait(50);
    QTest::mouseMove(window(), centre);
    if (press) {
        // Pressed, then let go outside: no click, so the phase and the page stay.
        settle(phase);
        QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseMove(window(), outside);
        QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, outside);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!movingParts(false).isEmpty(), 2000);
    // Staying over the button does not keep it moving.
    QTRY_VERIFY2_WITH_TIMEOUT(movingParts(false).isEmpty(), qPrintable(movingParts(false).join(QLatin1Char('\n'))),
                              kRestWithinMs);
    QTest::mouseMove(window(), outside);
    m_controller->setVpnPhase(QStringLiteral("disconnected"), QString());
}

void RestingMotionTest::nothingMovesWhileHidden_data()
{
    QTest::addColumn<QString>("phase");
    QTest::addColumn<bool>("minimize");

    QTest::newRow("hidden while connecting") << "connecting" << false;
    QTest::newRow("minimized while connecting") << "connecting" << true;
    QTest::newRow("hidden after a phase change") << "connected" << false;
}

void RestingMotionTest::nothingMovesWhileHidden()
{
    QFETCH(QString, phase);
    QFETCH(bool, minimize);
    settle(QStringLiteral("disconnected"));
    m_controller->setVpnPhase(phase, QString());
    QTRY_VERIFY_WITH_TIMEOUT(!movingParts(false).isEmpty(), 2000);
    if (minimize)
        window()->showMinimized();
    else
        window()->hide();
    // Not even the slow indicator runs where nobody sees it.
    QTRY_VERIFY_WITH_TIMEOUT(movingParts(false).isEmpty(), 1000);
    QTest::qWait(300);
    QVERIFY2(movingParts(false).isEmpty(), qPrintable(movingParts(false).join(QLatin1Char('\n'))));
    window()->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(window()));
    settle(QStringLiteral("disconnected"));
}

// Hovers the button, waits for the play to end and grabs the button's still frame.
QImage RestingMotionTest::playAndGrabStill()
{
    auto *disc = window()->findChild<QQuickItem *>(QStringLiteral("powerDisc"));
    if (!disc)
        return QImage();
    const QPoint outside = disc->mapToScene(QPointF(-40, -40)).toPoint();
    const QPoint centre = disc->mapToScene(QPointF(disc->width() / 2, disc->height() / 2)).toPoint();
    QTest::mouseMove(window(), outside);
    QTest::qWait(50);
    QTest::mouseMove(window(), centre);
    if (!QTest::qWaitFor([&] { return !movingParts(false).isEmpty(); }, 2000))
        return QImage();
    if (!QTest::qWaitFor([&] { return movingParts(false).isEmpty(); }, kRestWithinMs))
        return QImage();
    QTest::qWait(100);
    const QRectF area(disc->mapToScene(QPointF(0, 0)), QSizeF(disc->width(), disc->height()));
    return window()->grabWindow().copy(area.toRect());
}

void RestingMotionTest::stillFrameShowsTheShield_data()
{
    QTest::addColumn<QString>("phase");

    QTest::newRow("connect animation") << "disconnected";
    QTest::newRow("disconnect animation") << "connected";
}

// After a play the button holds a drawn frame, the same one every time, not an empty disc.
void RestingMotionTest::stillFrameShowsTheShield()
{
    QFETCH(QString, phase);
    settle(phase);
    const QImage first = playAndGrabStill().convertToFormat(QImage::Format_ARGB32);
    const QImage second = playAndGrabStill().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!first.isNull());
    QCOMPARE(first.size(), second.size());
    int lit = 0;
    int differing = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y);
            const QRgb q = second.pixel(x, y);
            // The shield's fill (coral, or silver for the disconnect animation) against the dark disc.
            if (qMax(qRed(p), qMax(qGreen(p), qBlue(p))) > 140)
                ++lit;
            if (qAbs(qRed(p) - qRed(q)) > 8 || qAbs(qGreen(p) - qGreen(q)) > 8 || qAbs(qBlue(p) - qBlue(q)) > 8)
                ++differing;
        }
    }
    QVERIFY2(lit > 500, qPrintable(QStringLiteral("%1 bright pixels").arg(lit)));
    QVERIFY2(differing * 100 < first.width() * first.height(), qPrintable(QString::number(differing)));
}

void RestingMotionTest::gatedMotionStartsNothing_data()
{
    QTest::addColumn<bool>("reduced");
    QTest::addColumn<QString>("action");

    QTest::newRow("unexposed: phase change") << false << "connecting";
    QTest::newRow("unexposed: hover") << false << "hover";
    QTest::newRow("unexposed: press") << false << "press";
    QTest::newRow("reduced motion: phase change") << true << "connecting";
    QTest::newRow("reduced motion: connected shows its still frame") << true << "connected";
    QTest::newRow("reduced motion: hover") << true << "hover";
    QTest::newRow("reduced motion: press") << true << "press";
    QTest::newRow("reduced motion asked for during a play") << true << "during a play";
}

// A window nobody sees (covered, on another virtual desktop) and a system that
// asks for reduced motion start no animation; under reduced motion the state
// still shows, and "connecting" may keep its slow step.
void RestingMotionTest::gatedMotionStartsNothing()
{
    QFETCH(bool, reduced);
    QFETCH(QString, action);
    settle(QStringLiteral("disconnected"));
    auto *disc = window()->findChild<QQuickItem *>(QStringLiteral("powerDisc"));
    QVERIFY(disc);
    const QPoint outside = disc->mapToScene(QPointF(-40, -40)).toPoint();
    const QPoint centre = disc->mapToScene(QPointF(disc->width() / 2, disc->height() / 2)).toPoint();
    QTest::mouseMove(window(), outside);
    QTest::qWait(50);

    if (action == QLatin1String("during a play")) {
        QTest::mouseMove(window(), centre);
        QTRY_VERIFY_WITH_TIMEOUT(!movingParts(false).isEmpty(), 2000);
    }
    if (reduced)
        setReducedMotion(true);
    else
        setCloaked(true);
    QTRY_VERIFY2_WITH_TIMEOUT(movingParts(false).isEmpty(), qPrintable(movingParts(false).join(QLatin1Char('\n'))),
                              1000);

    const bool slowStepAllowed = reduced && action == QLatin1String("connecting");
    if (action == QLatin1String("connecting") || action == QLatin1String("connected")) {
        m_controller->setVpnPhase(action, QString());
    } else if (action == QLatin1String("hover")) {
        QTest::mouseMove(window(), centre);
    } else if (action == QLatin1String("press")) {
        QTest::mouseMove(window(), centre);
        QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseMove(window(), outside);
        QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, outside);
    }
    QVERIFY2(movingParts(slowStepAllowed).isEmpty(), qPrintable(movingParts(slowStepAllowed).join(QLatin1Char('\n'))));
    QTest::qWait(600);
    QVERIFY2(movingParts(slowStepAllowed).isEmpty(), qPrintable(movingParts(slowStepAllowed).join(QLatin1Char('\n'))));
    if (action == QLatin1String("connected")) {
        // The state shows at once: the button holds the still frame of the animation a press would play.
        auto *view = window()->findChild<QQuickItem *>(QStringLiteral("powerAnimation"));
        QVERIFY(view);
        QObject *animation = view->property("item").value<QObject *>();
        QVERIFY(animation);
        QVERIFY(animation->property("animationSource").toUrl().toString().endsWith(QLatin1String("plover_disconnect.json")));
        QVERIFY(!animation->property("running").toBool());
    }

    // Back to the plain state. Exposure comes back while motion is still reduced,
    // so the return plays nothing and the next row starts at rest.
    m_controller->setVpnPhase(QStringLiteral("disconnected"), QString());
    QTest::mouseMove(window(), outside);
    setReducedMotion(true);
    setCloaked(false);
    setReducedMotion(false);
    QVERIFY2(movingParts(false).isEmpty(), qPrintable(movingParts(false).join(QLatin1Char('\n'))));
}

QTEST_MAIN(RestingMotionTest)
#include "tst_restingmotion.moc"
