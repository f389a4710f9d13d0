// A stand-in for the sing-box engine, for machines where the real engine
// cannot be installed (tests, development). It does what the client and the
// service rely on and nothing more:
//
//   sing-box check -c FILE          validates like sing-box 1.12 (or 1.13) for
//                                   the fields the client uses; the engine's
//                                   ERROR/WARN lines and "FATAL[0000] ..." on
//                                   standard error and exit 1 on a problem
//   sing-box run -D DIR -c FILE     creates and enters DIR, serves the control
//                                   API on experimental.clash_api, logs
//                                   "INFO[0000] sing-box started (0.01s)" on
//                                   standard error, ends with exit 0 on
//                                   SIGTERM/SIGINT
//   sing-box version
//
// It opens no tunnel and downloads nothing. Environment switches for tests:
//   QUILLET_FAKE_ENGINE_VERSION=1.13  play sing-box 1.13.2 (default 1.12: 1.12.24); what the release
//                                     accepts, its deprecations, "version" and GET /version follow it
//   QUILLET_FAKE_ENGINE_START_DELAY_MS=N  the control API listens N ms after "run" begins (default
//                                     300: the engine starts it last, after the tun and rule sets)
//   QUILLET_FAKE_ENGINE_FAIL_START=1  "run" fails at start (exit 1); =TAG[,TAG...]: only with an outbound so tagged;
//                                     =once:FILE: only the first start (leaves FILE)
//   QUILLET_FAKE_ENGINE_EXIT_AFTER=N  "run" ends by itself with a fatal error after N seconds
//   QUILLET_FAKE_ENGINE_NO_TRAFFIC=1  GET /traffic reports {"up":0,"down":0}
//   QUILLET_FAKE_ENGINE_HANG=check    "check" never finishes (=run: "run" never starts)
//   QUILLET_FAKE_ENGINE_RECORD=FILE   each invocation appends its arguments as one line to FILE

#include "controlapi.h"
#include "enginecheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

struct Options
{
    QString command;
    QString configPath;
    QString directory;
    bool color = true;
};

Options parseOptions(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if ((argument == QLatin1String("-c") || argument == QLatin1String("--config")) && i + 1 < arguments.size())
            options.configPath = arguments.at(++i);
        else if ((argument == QLatin1String("-D") || argument == QLatin1String("--directory"))
            && i + 1 < arguments.size())
            options.directory = arguments.at(++i);
        else if (argument == QLatin1String("--disable-color"))
            options.color = false;
        else if (options.command.isEmpty() && !argument.startsWith(QLatin1Char('-')))
            options.command = argument;
    }
    return options;
}

class Logger
{
public:
    bool color = true;
    int minimumLevel = 2; // trace 0, debug 1, info 2, warn 3, error 4, fatal 5, panic 6
    FILE *sink = stderr;
    QElapsedTimer clock;

    void line(int level, const QString &message) const
    {
        static const char *names[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "PANIC"};
        static const char *colors[] = {"37", "37", "36", "33", "31", "31", "31"};
        if (level < minimumLevel && level < 5)
            return;
        const qint64 seconds = clock.isValid() ? clock.elapsed() / 1000 : 0;
        const QByteArray name
            = color ? QByteArray("\x1b[") + colors[level] + 'm' + names[level] + "\x1b[0m" : QByteArray(names[level]);
        std::fprintf(
            sink, "%s[%04lld] %s\n", name.constData(), static_cast<long long>(seconds), message.toUtf8().constData());
        std::fflush(sink);
    }
};

int levelNumber(const QString &level)
{
    static const QStringList levels {QStringLiteral("trace"), QStringLiteral("debug"), QStringLiteral("info"),
        QStringLiteral("warn"), QStringLiteral("error"), QStringLiteral("fatal"), QStringLiteral("panic")};
    const int index = levels.indexOf(level.toLower());
    return index < 0 ? 2 : index;
}

void record(const QStringList &arguments)
{
    const QString path = qEnvironmentVariable("QUILLET_FAKE_ENGINE_RECORD");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(arguments.mid(1).join(QLatin1Char(' ')).toUtf8() + '\n');
}

bool hangsFor(const QString &command)
{
    return qEnvironmentVariable("QUILLET_FAKE_ENGINE_HANG") == command;
}

void hang()
{
    while (true)
        QThread::sleep(60);
}

// Reads and checks the configuration; prints the engine's fatal line on failure.
bool loadConfig(const Options &options, const Logger &logger, EngineCheckResult &result)
{
    QFile file(options.configPath);
    if (options.configPath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        logger.line(5, QStringLiteral("read config at %1: open %1: no such file or directory").arg(options.configPath));
        return false;
    }
    result = checkEngineConfig(file.readAll(), options.configPath);
    for (const auto &note : std::as_const(result.notes))
        logger.line(note.first, note.second);
    if (!result.ok) {
        // "run" wraps what building the box reports; "check" adds nothing of its own.
        const bool run = options.command == QLatin1String("run");
        logger.line(5, (run && result.createStage ? QStringLiteral("create service: ") : QString()) + result.error);
    }
    return result.ok;
}

bool enterDirectory(const QString &directory, const Logger &logger)
{
    if (directory.isEmpty())
        return true;
    if (!QDir().mkpath(directory) || !QDir::setCurrent(directory)) {
        logger.line(5, QStringLiteral("create working directory %1: permission denied").arg(directory));
        return false;
    }
    return true;
}

// The real engine starts its control API after every other service (the tun
// device, rule-set downloads): a client that asks at once finds nobody there.
void waitForStartDelay()
{
    bool ok = false;
    const int delayMs = qEnvironmentVariableIntValue("QUILLET_FAKE_ENGINE_START_DELAY_MS", &ok);
    QThread::msleep(static_cast<unsigned long>(ok && delayMs >= 0 ? delayMs : 300));
}

int runEngine(QCoreApplication &app, const Options &options, Logger &logger)
{
    logger.clock.start();
    if (!enterDirectory(options.directory, logger))
        return 1;
    EngineCheckResult config;
    if (!loadConfig(options, logger, config))
        return 1;
    if (hangsFor(QStringLiteral("run")))
        hang();

    const QJsonObject log = config.document.value(QStringLiteral("log")).toObject();
    logger.minimumLevel = levelNumber(log.value(QStringLiteral("level")).toString(QStringLiteral("info")));
    if (log.value(QStringLiteral("disabled")).toBool())
        logger.minimumLevel = 7;
    const QString output = log.value(QStringLiteral("output")).toString();
    if (!output.isEmpty()) {
        if (FILE *file = std::fopen(QFile::encodeName(output).constData(), "a"))
            logger.sink = file;
    }

    const QString failStart = qEnvironmentVariable("QUILLET_FAKE_ENGINE_FAIL_START");
    const QStringList failTags = failStart.split(QLatin1Char(','), Qt::SkipEmptyParts);
    bool failsHere = failStart == QLatin1String("1");
    // "once:FILE": only the first start fails (it leaves FILE behind), whichever node it is for.
    if (failStart.startsWith(QLatin1String("once:"))) {
        QFile marker(failStart.mid(5));
        failsHere = !marker.exists() && marker.open(QIODevice::WriteOnly);
    }
    for (const QJsonValue &outbound : config.document.value(QStringLiteral("outbounds")).toArray())
        failsHere = failsHere || failTags.contains(outbound.toObject().value(QStringLiteral("tag")).toString());
    if (failsHere) {
        logger.line(5,
            QStringLiteral("start service: start inbound/tun[tun-in]: configure tun interface: "
                           "operation not permitted"));
        return 1;
    }

    const QJsonObject experimental = config.document.value(QStringLiteral("experimental")).toObject();
    const QJsonObject cacheFile = experimental.value(QStringLiteral("cache_file")).toObject();
    if (cacheFile.value(QStringLiteral("enabled")).toBool()) {
        QFile cache(cacheFile.value(QStringLiteral("path")).toString(QStringLiteral("cache.db")));
        if (!cache.open(QIODevice::WriteOnly | QIODevice::Append)) {
            logger.line(5, QStringLiteral("start service: open cache file: %1").arg(cache.errorString()));
            return 1;
        }
    }

    const bool reportTraffic = qEnvironmentVariable("QUILLET_FAKE_ENGINE_NO_TRAFFIC") != QLatin1String("1");
    ControlApiServer api(config.document, reportTraffic);
    api.setVersionText(QStringLiteral("sing-box ") + engineVersionText());
    waitForStartDelay();
    if (cacheFile.value(QStringLiteral("enabled")).toBool())
        api.rememberModeIn(cacheFile.value(QStringLiteral("path")).toString(QStringLiteral("cache.db")));
    const QJsonObject clashApi = experimental.value(QStringLiteral("clash_api")).toObject();
    const QString controller = clashApi.value(QStringLiteral("external_controller")).toString();
    if (!controller.isEmpty() && !api.listen(controller)) {
        logger.line(5, QStringLiteral("start service: start clash-server: %1").arg(api.errorText()));
        return 1;
    }

    int exitCode = 0;
    bool ok = false;
    const int exitAfter = qEnvironmentVariableIntValue("QUILLET_FAKE_ENGINE_EXIT_AFTER", &ok);
    if (ok && exitAfter >= 0) {
        QTimer::singleShot(exitAfter * 1000, &app, [&app, &logger, &exitCode, exitAfter] {
            logger.line(5, QStringLiteral("stand-in engine: ending after %1 seconds as asked").arg(exitAfter));
            exitCode = 1;
            app.quit();
        });
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
        std::signal(SIGTERM, onStopSignal);
        std::signal(SIGINT, onStopSignal);
    }

    logger.line(2, QStringLiteral("sing-box started (0.01s)"));
    app.exec();
    if (logger.sink != stderr)
        std::fclose(logger.sink);
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    record(arguments);
    const Options options = parseOptions(arguments);
    Logger logger;
    logger.color = options.color;

    if (!engineVersionKnown()) {
        logger.line(5, QStringLiteral("stand-in engine: QUILLET_FAKE_ENGINE_VERSION=%1 is not a release it plays "
                                      "(1.12 or 1.13)")
                           .arg(qEnvironmentVariable("QUILLET_FAKE_ENGINE_VERSION")));
        return 1;
    }
    if (options.command == QLatin1String("version")) {
        std::printf("sing-box version %s\n\nEnvironment: stand-in for tests\n", engineVersionText().toUtf8().constData());
        return 0;
    }
    if (options.command == QLatin1String("check")) {
        if (hangsFor(QStringLiteral("check")))
            hang();
        if (!enterDirectory(options.directory, logger))
            return 1;
        EngineCheckResult result;
        return loadConfig(options, logger, result) ? 0 : 1;
    }
    if (options.command == QLatin1String("run"))
        return runEngine(app, options, logger);

    std::fprintf(stderr, "Error: unknown command \"%s\" for \"sing-box\"\n", options.command.toUtf8().constData());
    return 1;
}
