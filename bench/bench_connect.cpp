// Click → "connected" on the local stack (development backend, quillet-servicectl
// in user mode, the tunnel service and the stand-in engine), and the longest
// stall of the GUI thread while connecting and disconnecting.
//
//   bench_connect [cycles]     prints RESULT lines; default 10 timed connects per mode
#include "controller/appcontroller.h"
#include "benchstack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdio>

namespace {

bool waitForPhase(AppController &controller, const QString &phase, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (controller.vpnPhase() != phase && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    return controller.vpnPhase() == phase;
}

double median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    if (values.isEmpty())
        return 0;
    const auto n = values.size();
    return n % 2 ? double(values.at(n / 2)) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2.0;
}

// How late the event loop runs a 10 ms timer: the longest gap seen.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_worst = std::max(m_worst, now - m_last - 10);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 worst() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    Bench::LocalStack stack;
    if (!stack.start("bench_connect"))
        return 1;

    AppController controller;
    controller.signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    QElapsedTimer signInClock;
    signInClock.start();
    while (!(controller.loggedIn() && !controller.busy()) && signInClock.elapsed() < 15000)
        QTest::qWait(10);

    auto measure = [&](const QString &mode, QList<qint64> *times) {
        const QString node = mode == QLatin1String("fixed") ? QStringLiteral("hk-kowloon") : QStringLiteral("hk-smart");
        controller.selectNodeWithMode(node, mode);
        QTest::qWait(300);
        for (int i = 0; i < cycles; ++i) {
            QElapsedTimer clock;
            clock.start();
            controller.requestDashboardConnectionToggle();
            if (!waitForPhase(controller, QStringLiteral("connected"), 40000)) {
                std::fprintf(stderr, "bench_connect: %s connect %d ended %s\n", qPrintable(mode), i,
                    qPrintable(controller.vpnPhase()));
                return false;
            }
            if (times)
                times->append(clock.elapsed());
            controller.requestDashboardConnectionToggle();
            if (!waitForPhase(controller, QStringLiteral("disconnected"), 20000))
                return false;
        }
        return true;
    };

    QList<qint64> fixedTimes;
    QList<qint64> smartTimes;
    if (!measure(QStringLiteral("fixed"), &fixedTimes) || !measure(QStringLiteral("smart"), &smartTimes))
        return 1;
    std::printf("RESULT connect fixed node, click to connected: median %.0f ms (n=%d)\n", median(fixedTimes), cycles);
    std::printf("RESULT connect smart mode, click to connected: median %.0f ms (n=%d)\n", median(smartTimes), cycles);

    StallMeter meter;
    const int stallCycles = 20;
    for (int i = 0; i < stallCycles; ++i) {
        controller.requestDashboardConnectionToggle();
        if (!waitForPhase(controller, QStringLiteral("connected"), 40000))
            return 1;
        controller.requestDashboardConnectionToggle();
        if (!waitForPhase(controller, QStringLiteral("disconnected"), 20000))
            return 1;
    }
    std::printf("RESULT longest GUI-thread stall over %d connect/disconnect cycles: %lld ms\n", stallCycles,
        static_cast<long long>(meter.worst()));
    stack.install.stopEverything();
    return 0;
}
