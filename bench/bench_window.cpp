// The real window at rest: CPU of the whole process (GUI thread, render thread
// and the software GL's threads) in the states a user leaves it in, and
// resident memory on the connect page before and after visiting every page.
// Connects for real on the local stack (development backend in-process,
// quillet-servicectl in user mode, the tunnel service, the stand-in engine).
// Run it under Xvfb with Mesa's software GL for the figures of a machine
// without a GPU (bench/window.sh does), or with QT_QPA_PLATFORM=offscreen.
//
//   bench_window [seconds per state [memory]]     prints RESULT lines (default 30 s;
//                                                 "memory": the memory figures only)
#include "app/memoryrelease.h"
#include "controller/appcontroller.h"
#include "benchstack.h"
#include "benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct ThreadTicks
{
    QString name;
    qint64 ticks = 0;
};

// utime + stime of every thread of this process, by thread id.
QMap<QString, ThreadTicks> threadTicks()
{
    QMap<QString, ThreadTicks> out;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        // Fields 14 and 15 of the whole line are the 12th and 13th after the name.
        out.insert(tid, {QString::fromUtf8(line.mid(open + 1, close - open - 1)),
                         fields.at(11).toLongLong() + fields.at(12).toLongLong()});
    }
    return out;
}

// Where the resident memory is, in MiB: anonymous (heap: QML objects, JS,
// scene graph, the software GL's buffers), the GL driver, fonts, other files.
QString residentParts()
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return QString();
    qint64 anon = 0, gl = 0, fonts = 0, other = 0;
    QByteArray path;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.at(0).contains('-') && !line.endsWith(':')) {
            path = fields.size() >= 6 ? fields.at(5) : QByteArray();
            continue;
        }
        if (!line.startsWith("Rss:") || fields.size() < 2)
            continue;
        const qint64 kib = fields.at(1).toLongLong();
        if (path.isEmpty() || path.startsWith('['))
            anon += kib;
        else if (path.contains("dri") || path.contains("LLVM") || path.contains("libGL") || path.contains("gallium"))
            gl += kib;
        else if (path.endsWith(".ttf") || path.endsWith(".ttc") || path.endsWith(".otf"))
            fonts += kib;
        else
            other += kib;
    }
    return QStringLiteral("anonymous %1, GL driver %2, fonts %3, other files %4 MiB")
        .arg(anon / 1024).arg(gl / 1024).arg(fonts / 1024).arg(other / 1024);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// % of one core over `seconds`, as the median of three equal windows; the
// busiest threads of the last window by name.
void measure(const char *label, int seconds)
{
    const long hz = sysconf(_SC_CLK_TCK);
    std::vector<double> shares;
    QMap<QString, double> byName;
    for (int window = 0; window < 3; ++window) {
        const QMap<QString, ThreadTicks> before = threadTicks();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(seconds * 1000 / 3);
        const double wall = clock.elapsed() / 1000.0;
        const QMap<QString, ThreadTicks> after = threadTicks();
        qint64 total = 0;
        byName.clear();
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            const qint64 spent = it->ticks - before.value(it.key()).ticks;
            total += spent;
            byName[it->name] += 100.0 * spent / hz / wall;
        }
        shares.push_back(100.0 * total / hz / wall);
    }
    QStringList busiest;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        if (it.value() >= 0.5)
            busiest << QStringLiteral("%1 %2").arg(it.key()).arg(it.value(), 0, 'f', 1);
    }
    std::printf("RESULT CPU %s, %d s: %.1f %% of one core (windows %.1f / %.1f / %.1f; threads: %s)\n", label,
        seconds, median(shares), shares[0], shares[1], shares[2],
        busiest.isEmpty() ? "all idle" : qPrintable(busiest.join(QStringLiteral(", "))));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, atoi(argv[1])) : 30;
    const bool memoryOnly = argc > 2 && QByteArray(argv[2]) == "memory";
    Bench::LocalStack stack;
    if (!stack.start("bench_window"))
        return 1;

    AppController controller;
    QQmlApplicationEngine engine;
    QQuickWindow *window = Bench::showMainWindow(engine, controller);
    if (!window)
        return 1;
    // As the program does: what a page left behind goes back once the next one has settled.
    MemoryRelease memoryRelease(&engine, window);
    QObject::connect(&controller, &AppController::currentPageChanged, &memoryRelease, &MemoryRelease::schedule);

    controller.signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    if (!QTest::qWaitFor([&] { return controller.loggedIn() && !controller.busy() && !controller.networkLoading(); },
                         20000))
        return 1;
    controller.navigate(QStringLiteral("connect"));
    QTest::qWait(8000); // the page's entrance and the start-up reads settle

    const qint64 firstVisit = Bench::residentKiB();
    std::printf("RESULT RSS on the connect page, first visit: %lld MiB (%s)\n", static_cast<long long>(firstVisit / 1024),
        qPrintable(residentParts()));
    if (!memoryOnly)
        measure("connect page, disconnected, idle", seconds);

    // Every page once, as a user looking round; then back.
    const QStringList pages{QStringLiteral("servers"), QStringLiteral("speedtest"), QStringLiteral("plans"),
                            QStringLiteral("stats"), QStringLiteral("settings"), QStringLiteral("billing"),
                            QStringLiteral("devices"), QStringLiteral("supportChat"), QStringLiteral("messages"),
                            QStringLiteral("invite")};
    for (const QString &page : pages) {
        controller.navigate(page);
        QTest::qWait(2500);
        std::printf("RESULT RSS after the %s page: %lld MiB\n", qPrintable(page),
            static_cast<long long>(Bench::residentKiB() / 1024));
    }
    controller.navigate(QStringLiteral("connect"));
    QTest::qWait(8000);
    const qint64 back = Bench::residentKiB();
    std::printf("RESULT RSS on the connect page after every page: %lld MiB (%+lld MiB against the first visit; %s)\n",
        static_cast<long long>(back / 1024), static_cast<long long>((back - firstVisit) / 1024),
        qPrintable(residentParts()));
    std::fflush(stdout);
    if (memoryOnly)
        return 0;

    controller.navigate(QStringLiteral("servers"));
    QTest::qWait(4000);
    measure("servers page, disconnected, idle", seconds);
    controller.navigate(QStringLiteral("connect"));
    QTest::qWait(2000);

    // During a connect: from the press until the tunnel is up, whatever it takes.
    {
        const long hz = sysconf(_SC_CLK_TCK);
        const QMap<QString, ThreadTicks> before = threadTicks();
        QElapsedTimer clock;
        clock.start();
        controller.requestDashboardConnectionToggle();
        if (!QTest::qWaitFor([&] { return controller.vpnPhase() == QLatin1String("connected"); }, 60000)) {
            std::fprintf(stderr, "bench_window: connect ended %s\n", qPrintable(controller.vpnPhase()));
            return 1;
        }
        const double wall = clock.elapsed() / 1000.0;
        qint64 total = 0;
        const QMap<QString, ThreadTicks> after = threadTicks();
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            total += it->ticks - before.value(it.key()).ticks;
        std::printf("RESULT CPU during a connect (%.1f s): %.1f %% of one core\n", wall, 100.0 * total / hz / wall);
        std::fflush(stdout);
    }
    QTest::qWait(8000); // the first probes and the page settle
    measure("connect page, connected, idle", seconds);

    window->hide();
    QTest::qWait(2000);
    measure("window hidden, connected", seconds);
    window->show();
    window->showMinimized();
    QTest::qWait(2000);
    measure("window minimized, connected", seconds);

    controller.requestDashboardConnectionToggle();
    (void)QTest::qWaitFor([&] { return controller.vpnPhase() == QLatin1String("disconnected"); }, 20000);
    stack.install.stopEverything();
    return 0;
}
