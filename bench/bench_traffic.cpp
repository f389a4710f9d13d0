// The client connected and idle on the connect page: the traffic probe runs
// every 3 s and the chart repaints. Connects for real on the local stack
// (development backend, quillet-servicectl in user mode, the tunnel service
// and the stand-in engine), then measures
//   - CPU time over 60 s, of the whole process and of the GUI thread alone,
//     disconnected (the page's own animations) and then connected
//     (the in-process development backend answers the probe on its own thread
//     and counts in the process figure);
//   - resident memory growth over a soak (default 5 minutes).
//
//   bench_traffic [soak seconds]     prints RESULT lines
#include "controller/appcontroller.h"
#include "benchstack.h"
#include "benchsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int soakSeconds = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    Bench::LocalStack stack;
    if (!stack.start("bench_traffic"))
        return 1;

    AppController controller;
    QQmlApplicationEngine engine;
    QQuickWindow *window = Bench::showMainWindow(engine, controller);
    if (!window)
        return 1;

    controller.signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    if (!QTest::qWaitFor([&] { return controller.loggedIn() && !controller.busy() && !controller.networkLoading(); },
                         20000))
        return 1;
    controller.navigate(QStringLiteral("connect"));

    // The same page while disconnected: its own animations, without the probe.
    QTest::qWait(3000);
    const auto measureCpu = [](double *gui) {
        const double processBefore = Bench::cpuSeconds(RUSAGE_SELF);
        const double guiBefore = Bench::cpuSeconds(RUSAGE_THREAD);
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(60000);
        const double wall = clock.elapsed() / 1000.0;
        *gui = 100.0 * (Bench::cpuSeconds(RUSAGE_THREAD) - guiBefore) / wall;
        return 100.0 * (Bench::cpuSeconds(RUSAGE_SELF) - processBefore) / wall;
    };
    double idleGui = 0;
    const double idleProcess = measureCpu(&idleGui);
    std::printf("RESULT disconnected idle on the connect page, 60 s: process %.2f %% of one core, GUI thread %.2f %%\n",
        idleProcess, idleGui);
    std::fflush(stdout);

    controller.requestDashboardConnectionToggle();
    if (!QTest::qWaitFor([&] { return controller.vpnPhase() == QLatin1String("connected"); }, 40000)) {
        std::fprintf(stderr, "bench_traffic: connect ended %s\n", qPrintable(controller.vpnPhase()));
        return 1;
    }
    QTest::qWait(10000); // the first probes, bootstrap reload and page settle

    const qint64 downloadedBefore = controller.sessionDownloadBytes();
    double connectedGui = 0;
    const double connectedProcess = measureCpu(&connectedGui);
    std::printf("RESULT connected idle on the connect page, 60 s: process %.2f %% of one core, GUI thread %.2f %% "
                "(the probe and the live readout add %.2f %% / %.2f %%); probe moved %lld KiB down\n",
        connectedProcess, connectedGui, connectedProcess - idleProcess, connectedGui - idleGui,
        static_cast<long long>((controller.sessionDownloadBytes() - downloadedBefore) / 1024));
    std::fflush(stdout);

    const qint64 rssStart = Bench::residentKiB();
    QTest::qWait(soakSeconds * 1000);
    const qint64 rssEnd = Bench::residentKiB();
    std::printf("RESULT RSS over a %d s connected soak: %lld KiB -> %lld KiB (growth %lld KiB); still %s\n",
        soakSeconds, static_cast<long long>(rssStart), static_cast<long long>(rssEnd),
        static_cast<long long>(rssEnd - rssStart), qPrintable(controller.vpnPhase()));

    controller.requestDashboardConnectionToggle();
    (void)QTest::qWaitFor([&] { return controller.vpnPhase() == QLatin1String("disconnected"); }, 20000);
    stack.install.stopEverything();
    return 0;
}
