#pragma once

#include "platform/motion.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QQuickWindow;
class QWindow;

// What the window's animations need to know from outside QML: whether anyone
// can see the window (shown, not minimized, exposed, not cloaked on another
// virtual desktop) and whether the system asks for reduced motion. Both are
// re-checked when the window's exposure, visibility or activation changes, so
// nothing polls. Published to QML as the "windowMotion" context property.
class WindowMotion : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool exposed READ exposed NOTIFY exposedChanged)
    Q_PROPERTY(bool reducedMotion READ reducedMotion NOTIFY reducedMotionChanged)

public:
    using PreferenceReader = std::function<void(std::function<void(const Platform::MotionReading &)>)>;
    using CloakProbe = std::function<bool(QWindow *)>;

    explicit WindowMotion(QObject *parent = nullptr);
    ~WindowMotion() override;

    // Follows the window from now on. Reads nothing: the preference is read by
    // readPreference(), which the start calls after the first frame.
    void attach(QWindow *window);

    bool exposed() const { return m_exposed; }
    bool reducedMotion() const { return m_reading.preference == Platform::MotionPreference::Reduced; }
    Platform::MotionReading reading() const { return m_reading; }

    // Reads the system's preference again (one read at a time); the first
    // answer and every change are logged.
    void readPreference();
    // Computes the exposure again from the window and the platform.
    void recheckExposure();

    // For tests: where the preference and the cloaking come from.
    void setPreferenceReader(PreferenceReader reader) { m_reader = std::move(reader); }
    void setCloakProbe(CloakProbe probe) { m_cloakProbe = std::move(probe); }
    // An activation reads again only this long after the last read (a process
    // start per alt-tab is not worth it).
    void setActivationRereadMs(int ms) { m_activationRereadMs = ms; }

Q_SIGNALS:
    void exposedChanged();
    void reducedMotionChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyReading(const Platform::MotionReading &reading);
    void scheduleRecheck();

    QPointer<QWindow> m_window;
    PreferenceReader m_reader;
    CloakProbe m_cloakProbe;
    std::uintptr_t m_cloakWatch = 0;
    Platform::MotionReading m_reading;
    bool m_exposed = false;
    bool m_readInFlight = false;
    bool m_readOnce = false;
    bool m_recheckQueued = false;
    int m_activationRereadMs = 30000;
    QElapsedTimer m_sinceRead;
};
