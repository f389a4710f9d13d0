#include "firstframe.h"

#include <QCoreApplication>
#include <QFile>
#include <QQuickWindow>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <ctime>
#include <unistd.h>
#endif

namespace FirstFrame {

namespace {

qint64 nowEpochNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

qint64 elapsedFromKernelStartMs()
{
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold blanks and parentheses: count fields after its last ')'.
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Field 22 of the whole line (start time in clock ticks since boot) is the 20th after the name.
    if (fields.size() < 20)
        return -1;
    bool ok = false;
    const qint64 startTicks = fields.at(19).toLongLong(&ok);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec boot{};
    if (!ok || ticksPerSecond <= 0 || clock_gettime(CLOCK_BOOTTIME, &boot) != 0)
        return -1;
    const qint64 nowMs = qint64(boot.tv_sec) * 1000 + boot.tv_nsec / 1000000;
    return nowMs - startTicks * 1000 / ticksPerSecond;
#else
    return -1;
#endif
}

} // namespace

bool benchmarkRequested(const QStringList &arguments, const QByteArray &environmentValue)
{
    const QByteArray value = environmentValue.trimmed();
    return arguments.contains(QStringLiteral("--benchmark-startup")) || (!value.isEmpty() && value != "0");
}

qint64 elapsedMsFromLaunchStamp(const QByteArray &stamp, qint64 nowNs)
{
    const QByteArray digits = stamp.trimmed();
    if (digits.isEmpty() || digits.size() > 19)
        return -1;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
    }
    bool ok = false;
    const qint64 launchNs = digits.toLongLong(&ok);
    if (!ok || launchNs <= 0 || launchNs > nowNs)
        return -1;
    return (nowNs - launchNs) / 1000000;
}

qint64 elapsedSinceLaunchMs()
{
    const qint64 fromStamp = elapsedMsFromLaunchStamp(qgetenv("QUILLET_LAUNCH_EPOCH_NS"), nowEpochNs());
    return fromStamp >= 0 ? fromStamp : elapsedFromKernelStartMs();
}

void reportThenQuit(QQuickWindow *window)
{
    if (!window)
        return;
    auto reported = std::make_shared<std::atomic_bool>(false);
    // frameSwapped comes from the render thread where there is one: take the
    // time there, print and quit on the GUI thread.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [reported] {
            if (reported->exchange(true))
                return;
            const qint64 elapsed = elapsedSinceLaunchMs();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [elapsed] {
                    std::printf("first-frame-ms %lld\n", static_cast<long long>(elapsed));
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

} // namespace FirstFrame
