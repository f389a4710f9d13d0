// quillet-devserver [--port N] [--data-dir DIR] [--dev] [--demo] [--port-file FILE]
//                   [--node-host HOST] [--config-templates DIR] [--demo-nodes N]
#include "devserver/devserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>
#include <QTextStream>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>
#else
#include <QTimer>
#include <atomic>
#endif

namespace {

#ifdef Q_OS_UNIX
int s_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop reads the byte.
    [[maybe_unused]] const auto written = ::write(s_signalPipe[0], &byte, 1);
}

bool installTerminationHandler(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(s_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, &app] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const auto readBytes = ::read(s_signalPipe[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}
#else
std::atomic_bool s_terminate {false};

void onTerminationSignal(int)
{
    s_terminate = true;
}

bool installTerminationHandler(QCoreApplication &app)
{
    std::signal(SIGTERM, onTerminationSignal);
    std::signal(SIGINT, onTerminationSignal);
    auto *poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, &app, [&app] {
        if (s_terminate)
            app.quit();
    });
    poll->start(200);
    return true;
}
#endif

int fail(const QString &message)
{
    std::fprintf(stderr, "quillet-devserver: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillet-devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quillet's local development backend (127.0.0.1 only)."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: a free port)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption dataDirOption(QStringLiteral("data-dir"),
        QStringLiteral("Directory of devserver.sqlite (default: in memory)."), QStringLiteral("DIR"));
    const QCommandLineOption devOption(
        QStringLiteral("dev"), QStringLiteral("Development mode: /dev/ routes and fault injection."));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("Create the demo accounts."));
    const QCommandLineOption portFileOption(
        QStringLiteral("port-file"), QStringLiteral("Write the chosen port to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption nodeHostOption(QStringLiteral("node-host"),
        QStringLiteral("Host the catalogue's nodes point at (default: 127.0.0.1)."), QStringLiteral("HOST"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption templatesOption(QStringLiteral("config-templates"),
        QStringLiteral("Directory of the engine configuration templates (default: the source tree's tests/data)."),
        QStringLiteral("DIR"));
    const QCommandLineOption demoNodesOption(QStringLiteral("demo-nodes"),
        QStringLiteral("Serve a generated catalogue of N nodes over about 40 countries, each on a loopback address "
                       "of its own (default: the 8 demo nodes)."),
        QStringLiteral("N"), QStringLiteral("0"));
    parser.addOptions({portOption, dataDirOption, devOption, demoOption, portFileOption, nodeHostOption,
        templatesOption, demoNodesOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("invalid port \"%1\"").arg(parser.value(portOption)));

    DevServer::Options options;
    options.port = quint16(port);
    options.dataDir = parser.value(dataDirOption);
    options.developmentMode = parser.isSet(devOption);
    options.demoData = parser.isSet(demoOption);
    options.nodeHost = parser.value(nodeHostOption).trimmed();
    if (options.nodeHost.isEmpty())
        return fail(QStringLiteral("invalid node host"));
    options.configTemplateDir = parser.value(templatesOption);
    bool demoNodesOk = false;
    options.demoNodes = parser.value(demoNodesOption).toInt(&demoNodesOk);
    if (!demoNodesOk || options.demoNodes < 0 || options.demoNodes > 60000)
        return fail(QStringLiteral("invalid node count \"%1\" (0 to 60000)").arg(parser.value(demoNodesOption)));

    if (!installTerminationHandler(app))
        return fail(QStringLiteral("cannot install signal handlers"));

    DevServer server;
    if (!server.start(options))
        return fail(server.errorString());

    if (parser.isSet(portFileOption)) {
        QSaveFile portFile(parser.value(portFileOption));
        if (!portFile.open(QIODevice::WriteOnly) || portFile.write(QByteArray::number(server.port()) + '\n') < 0
            || !portFile.commit())
            return fail(
                QStringLiteral("cannot write port file %1: %2").arg(portFile.fileName(), portFile.errorString()));
    }

    QTextStream out(stdout);
    out << "quillet-devserver listening on " << server.baseUrl() << '\n';
    out << "  storage: " << (options.dataDir.isEmpty() ? QStringLiteral("in memory") : options.dataDir) << '\n';
    if (options.developmentMode)
        out << "  development mode: /dev/mailbox, /dev/faults, /dev/stats, /dev/encryption, /dev/push, /dev/clock\n";
    if (options.demoData) {
        out << "  demo account:  demo@quillet.dev / Quillet-demo-2026 (active membership)\n";
        out << "  trial account: trial@quillet.dev / Quillet-trial-2026 (no membership)\n";
    }
    if (options.demoNodes > 0)
        out << "  nodes: " << server.nodesJson().size() << " generated, at loopback addresses 127.1.x.y\n";
    else
        out << "  nodes: " << server.nodesJson().size() << " at " << options.nodeHost
            << " (closed ports until moved with DevServer::setNodeEndpoint)\n";
    out.flush();

    const int code = app.exec();
    server.stop();
    std::fprintf(stderr, "quillet-devserver: stopped\n");
    return code;
}
