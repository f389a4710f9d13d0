#include "app/windowmotion.h"

#include "app/startup.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>

WindowMotion::WindowMotion(QObject *parent)
    : QObject(parent)
    , m_reader(&Platform::readMotionPreference)
    , m_cloakProbe([](QWindow *window) { return Platform::windowCloaked(std::uintptr_t(window->winId())); })
{
}

WindowMotion::~WindowMotion()
{
    Platform::stopWatchingWindowCloaking(m_cloakWatch);
}

void WindowMotion::attach(QWindow *window)
{
    if (!window || m_window == window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    window->installEventFilter(this);
    connect(window, &QWindow::visibilityChanged, this, &WindowMotion::scheduleRecheck);
    connect(window, &QWindow::visibleChanged, this, &WindowMotion::scheduleRecheck);
    connect(window, &QWindow::activeChanged, this, [this] {
        scheduleRecheck();
        // Cheap to read, and the moment a user back from the system settings comes to.
        if (m_window && m_window->isActive() && m_readOnce
            && (!m_sinceRead.isValid() || m_sinceRead.elapsed() >= m_activationRereadMs))
            readPreference();
    });
    if (!m_cloakWatch) {
        QPointer<WindowMotion> self(this);
        m_cloakWatch = Platform::watchWindowCloaking([self](std::uintptr_t, bool) {
            if (self)
                self->scheduleRecheck();
        });
    }
    recheckExposure();
}

bool WindowMotion::eventFilter(QObject *watched, QEvent *event)
{
    // The window's exposed flag is set before its Expose event reaches it; the
    // check runs once the window has handled it.
    if (watched == m_window && event->type() == QEvent::Expose)
        scheduleRecheck();
    return QObject::eventFilter(watched, event);
}

void WindowMotion::scheduleRecheck()
{
    if (m_recheckQueued)
        return;
    m_recheckQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_recheckQueued = false;
        recheckExposure();
    });
}

void WindowMotion::recheckExposure()
{
    bool exposed = m_window && m_window->isVisible() && m_window->isExposed()
                   && m_window->visibility() != QWindow::Hidden && m_window->visibility() != QWindow::Minimized;
    // Only a window that is shown can be cloaked; asking costs a call into the compositor.
    if (exposed && m_cloakProbe && m_cloakProbe(m_window))
        exposed = false;
    if (exposed == m_exposed)
        return;
    m_exposed = exposed;
    Q_EMIT exposedChanged();
}

void WindowMotion::readPreference()
{
    if (m_readInFlight || !m_reader)
        return;
    m_readInFlight = true;
    m_sinceRead.start();
    QPointer<WindowMotion> self(this);
    m_reader([self](const Platform::MotionReading &reading) {
        if (!self)
            return;
        self->m_readInFlight = false;
        self->applyReading(reading);
    });
}

void WindowMotion::applyReading(const Platform::MotionReading &reading)
{
    const bool first = !m_readOnce;
    m_readOnce = true;
    const bool changed = reading.preference != m_reading.preference;
    const bool wasReduced = reducedMotion();
    m_reading = reading;
    if (first || changed) {
        Startup::appendStartupLog(QStringLiteral("Motion preference%1: %2 (source: %3)")
                                      .arg(first ? QString() : QStringLiteral(" changed"),
                                           QString::fromLatin1(Platform::motionPreferenceName(reading.preference)),
                                           QString::fromStdString(reading.source)));
    }
    if (reducedMotion() != wasReduced)
        Q_EMIT reducedMotionChanged();
}
