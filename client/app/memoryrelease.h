#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QQmlEngine;
class QQuickWindow;

// A page the window unloads leaves its memory with the process: the JS heap
// keeps the freed objects until a collection, the scene graph keeps glyph and
// texture caches for texts no longer shown, and the C heap keeps freed blocks.
// Once the window has settled on its new page (or has been hidden), this hands
// them back: a garbage collection, the window's cached graphics resources, then
// the heap's free pages.
class MemoryRelease : public QObject
{
public:
    static constexpr int kSettleMs = 1500;

    MemoryRelease(QQmlEngine *engine, QQuickWindow *window, QObject *parent = nullptr);

    // Restarts the settle delay: a quick run through several pages releases once.
    void schedule();
    // Runs the release now; counts how often it ran.
    void release();
    int releaseCount() const { return m_releaseCount; }

private:
    QPointer<QQmlEngine> m_engine;
    QPointer<QQuickWindow> m_window;
    QTimer m_settle;
    int m_releaseCount = 0;
};
