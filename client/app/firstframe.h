#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

class QQuickWindow;

// Start-up measurement: how long from launch until the window first reaches the screen.
namespace FirstFrame {

// "--benchmark-startup" on the command line, or QUILLET_BENCHMARK_STARTUP set to
// anything but empty or "0".
bool benchmarkRequested(const QStringList &arguments, const QByteArray &environmentValue);

// Milliseconds from a launch stamp (nanoseconds since the epoch, as `date +%s%N`
// prints it) to nowNs; -1 when the stamp is not a plain positive number or lies
// in the future.
qint64 elapsedMsFromLaunchStamp(const QByteArray &stamp, qint64 nowNs);

// Milliseconds since launch: from QUILLET_LAUNCH_EPOCH_NS when the launcher set
// it, else from the kernel's start time of this process (10 ms steps), else -1.
qint64 elapsedSinceLaunchMs();

// Prints "first-frame-ms <n>" on stdout once the window has swapped its first
// frame, then ends the event loop.
void reportThenQuit(QQuickWindow *window);

} // namespace FirstFrame
