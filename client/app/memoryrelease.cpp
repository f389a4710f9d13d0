#include "memoryrelease.h"

#include "platform/platform.h"

#include <QQmlEngine>
#include <QQuickWindow>

MemoryRelease::MemoryRelease(QQmlEngine *engine, QQuickWindow *window, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_window(window)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &MemoryRelease::release);
    if (window) {
        connect(window, &QWindow::visibilityChanged, this, [this](QWindow::Visibility visibility) {
            if (visibility == QWindow::Hidden || visibility == QWindow::Minimized)
                schedule();
        });
    }
}

void MemoryRelease::schedule()
{
    m_settle.start();
}

void MemoryRelease::release()
{
    m_settle.stop();
    ++m_releaseCount;
    // The unloaded page's items are gone (deleteLater ran during the delay);
    // their JS wrappers and bindings go with this collection.
    if (m_engine)
        m_engine->collectGarbage();
    // Glyph caches and textures that nothing on screen uses; the next frame
    // makes again what the shown page needs.
    if (m_window)
        m_window->releaseResources();
    Platform::releaseUnusedMemory();
}
