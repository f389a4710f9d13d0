#pragma once

// What the window benchmarks share: the process's CPU time and resident memory,
// and the real window loaded as the program loads it.
#include "controller/appcontroller.h"

#include <QFile>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>

#include <sys/resource.h>

namespace Bench {

// User + system seconds of RUSAGE_SELF or RUSAGE_THREAD.
inline double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Main.qml with the controller in the Fusion style, shown; null when it did not load.
inline QQuickWindow *showMainWindow(QQmlApplicationEngine &engine, AppController &controller)
{
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    auto *window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (window)
        window->show();
    return window;
}

} // namespace Bench
