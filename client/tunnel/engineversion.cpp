#include "engineversion.h"

#include "tunnel/singboxprocessmanager.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

namespace EngineVersion {

namespace {

constexpr int kVersionAnswerMs = 5000;

} // namespace

bool isSupportedRelease(const QString &versionLine)
{
    static const QRegularExpression release(QStringLiteral("^sing-box version 1\\.(12|13)(\\.\\d+)?(\\D|$)"));
    return release.match(versionLine).hasMatch();
}

QString logLine(const QString &versionLine, const QString &problem, const QString &binary)
{
    if (versionLine.isEmpty())
        return QStringLiteral("sing-box version unknown: %1 binary=%2\n").arg(problem, binary);
    const QString line = versionLine.trimmed().left(200);
    if (!line.startsWith(QLatin1String("sing-box version ")))
        return QStringLiteral("sing-box version unknown: unexpected answer \"%1\" binary=%2\n").arg(line, binary);
    return QStringLiteral("%1 binary=%2%3\n")
        .arg(line, binary,
            isSupportedRelease(line) ? QString() : QStringLiteral(" (not a supported release: 1.12 or 1.13)"));
}

void logOnce(SingBoxProcessManager *engine)
{
    static bool asked = false;
    if (!engine || asked)
        return;
    asked = true;
    const QString binary = engine->resolvedBinaryPath();
    auto *process = new QProcess(engine);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    const auto finish = [engine, process, binary](const QString &problem) {
        if (process->property("logged").toBool())
            return;
        process->setProperty("logged", true);
        const QString first = problem.isEmpty()
            ? QString::fromUtf8(process->readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0)
            : QString();
        engine->appendDiagnosticLog(logLine(first, problem.isEmpty() && first.isEmpty()
                ? QStringLiteral("empty answer") : problem, binary));
        if (process->state() != QProcess::NotRunning)
            process->kill();
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, engine, [finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && code == 0
                ? QString()
                : QStringLiteral("exit code %1").arg(code));
    });
    QObject::connect(process, &QProcess::errorOccurred, engine, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(QStringLiteral("the engine could not be started"));
    });
    QObject::connect(deadline, &QTimer::timeout, engine, [finish] {
        finish(QStringLiteral("no answer within %1 ms").arg(kVersionAnswerMs));
    });
    deadline->start(kVersionAnswerMs);
    process->start(binary, {QStringLiteral("version")});
}

} // namespace EngineVersion
