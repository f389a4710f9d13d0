#include "singboxprocessmanager.h"

#include "diagnosticlog.h"
#include "serviceanswer.h"
#include "platform/servicecontrol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <functional>

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// The engine colours its log levels with terminal escapes even into a pipe;
// the user and the log file get the plain words.
QString engineOutputText(const QByteArray &bytes)
{
    static const QRegularExpression escapes(QStringLiteral("\\x1b\\[[0-9;]*[A-Za-z]"));
    return QString::fromUtf8(bytes).remove(escapes).trimmed();
}

// A child program run to its end or a time limit. The wait spins a nested loop
// that keeps the window painting and timers and sockets serviced, but takes no
// user input, so a click cannot re-enter a start or a stop half-way.
struct ChildRun
{
    bool started = false;
    bool finished = false;
    bool normalExit = false;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

void waitWithoutUserInput(QProcess &process, int waitMs, const std::function<bool()> &done)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::started, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    timer.start(qMax(0, waitMs));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    process.disconnect(&loop);
}

ChildRun runChild(const QString &program, const QStringList &arguments, int waitMs, int killWaitMs)
{
    ChildRun run;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    auto failedToStart = [&process] {
        return process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart;
    };
    waitWithoutUserInput(process, waitMs, [&] { return process.state() != QProcess::Starting; });
    run.started = !failedToStart() && process.state() != QProcess::Starting;
    if (run.started) {
        waitWithoutUserInput(process, waitMs - int(clock.elapsed()),
            [&process] { return process.state() == QProcess::NotRunning; });
        run.finished = process.state() == QProcess::NotRunning;
        if (!run.finished) {
            process.kill();
            waitWithoutUserInput(process, killWaitMs, [&process] { return process.state() == QProcess::NotRunning; });
        } else {
            run.normalExit = process.exitStatus() == QProcess::NormalExit;
            if (run.normalExit)
                run.exitCode = process.exitCode();
        }
    } else if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(killWaitMs);
    }
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

const char *stateWord(SingBoxProcessManager::ServiceState state)
{
    switch (state) {
    case SingBoxProcessManager::ServiceState::Running:
        return "running";
    case SingBoxProcessManager::ServiceState::Stopped:
        return "stopped";
    case SingBoxProcessManager::ServiceState::Unknown:
        break;
    }
    return "unknown";
}

// Counts a start or stop in progress for as long as it runs.
struct CommandScope
{
    explicit CommandScope(int &depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~CommandScope() { --m_depth; }
    int &m_depth;
};

} // namespace

SingBoxProcessManager::SingBoxProcessManager(QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
{
    connect(m_process, &QProcess::readyReadStandardOutput, this,
        [this] { appendLog(QString::fromUtf8(m_process->readAllStandardOutput())); });
    connect(m_process, &QProcess::readyReadStandardError, this,
        [this] { appendLog(QString::fromUtf8(m_process->readAllStandardError())); });
    connect(m_process, &QProcess::stateChanged, this, &SingBoxProcessManager::runningChanged);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError) {
        m_lastError = QStringLiteral("VPN 核心启动异常：%1").arg(m_process->errorString());
        Q_EMIT lastErrorChanged();
    });
}

bool SingBoxProcessManager::start(const QString &configPath)
{
    const CommandScope scope(m_commandDepth);
    const bool runningBefore = running();
    appendLog(
        QStringLiteral("VPN start requested. config=%1 runningBefore=%2\n").arg(configPath, boolText(runningBefore)));
    if (runningBefore) {
        appendLog(QStringLiteral("VPN start skipped because current runner is already active.\n"));
        return true;
    }

    const QString binary = resolvedBinaryPath();
    if (!m_lastError.isEmpty()) {
        m_lastError.clear();
        Q_EMIT lastErrorChanged();
    }
    const QFileInfo config(configPath);
    appendLog(QStringLiteral("Config preflight. exists=%1 size=%2 binary=%3\n")
                  .arg(boolText(config.exists()))
                  .arg(config.exists() ? config.size() : 0)
                  .arg(binary));

    const ChildRun check = runChild(binary, {QStringLiteral("check"), QStringLiteral("-c"), configPath},
        m_timings.checkTimeout, m_timings.checkKillWait);
    if (!check.started) {
        setLastError(QStringLiteral("无法找到或启动 VPN 核心：%1。请确认 sing-box 已打包到应用内。").arg(binary));
        appendLog(QStringLiteral("Config check failed to start for %1\nbinary=%2\n").arg(configPath, binary));
        return false;
    }

    const QString errorText = engineOutputText(check.standardError);
    const QString outputText = engineOutputText(check.standardOutput);
    if (!check.finished) {
        QString detail = !errorText.isEmpty() ? errorText : outputText;
        if (detail.isEmpty())
            detail = QStringLiteral("校验进程超过 8 秒没有完成。");
        setLastError(QStringLiteral("sing-box 配置校验超时：%1").arg(detail));
        appendLog(QStringLiteral("Config check timed out for %1\nstderr=%2\nstdout=%3\n")
                      .arg(configPath, errorText, outputText));
        return false;
    }

    if (!check.normalExit || check.exitCode != 0) {
        const QString detail = !errorText.isEmpty() ? errorText : outputText;
        setLastError(detail.isEmpty() ? QStringLiteral("sing-box 配置校验失败，请检查节点协议、DNS 或 TUN 设置。")
                                      : QStringLiteral("sing-box 配置校验失败：%1").arg(detail));
        appendLog(QStringLiteral("Config check failed for %1\nexitStatus=%2 exitCode=%3\nstderr=%4\nstdout=%5\n")
                      .arg(configPath)
                      .arg(check.normalExit ? 0 : 1)
                      .arg(check.exitCode)
                      .arg(errorText, outputText));
        return false;
    }

    return startWindowsService(configPath);
}

void SingBoxProcessManager::stop()
{
    const CommandScope scope(m_commandDepth);
    const bool runningBefore = running();
    appendLog(QStringLiteral("VPN stop requested. runningBefore=%1\n").arg(boolText(runningBefore)));
    if (!runningBefore) {
        appendLog(QStringLiteral("VPN stop skipped because runner is not active.\n"));
        return;
    }
    stopWindowsService();
}

bool SingBoxProcessManager::running()
{
    if (QDateTime::currentMSecsSinceEpoch() - m_cachedAt > m_timings.cacheWindow - 1)
        return refreshRunning();
    return m_cachedRunning;
}

bool SingBoxProcessManager::refreshRunning()
{
    ServiceState state = queryServiceState();
    // One stopped answer for a running service may be a hiccup of the tool:
    // a tunnel is declared gone only when the next query agrees.
    if (state == ServiceState::Stopped && m_cachedRunning) {
        state = queryServiceState();
        if (state != ServiceState::Stopped)
            appendLog(QStringLiteral("Service state not confirmed: first query stopped, second %1; keeping running.\n")
                          .arg(QLatin1String(stateWord(state))));
    }
    m_lastServiceState = state;
    m_cachedAt = QDateTime::currentMSecsSinceEpoch();
    if (state == ServiceState::Unknown) {
        appendLog(QStringLiteral("Service state query did not answer in time; keeping running=%1\n")
                      .arg(boolText(m_cachedRunning)));
        return m_cachedRunning;
    }
    const bool now = state == ServiceState::Running;
    const bool changed = now != m_cachedRunning;
    m_cachedRunning = now;
    // An engine that ends on its own (or is started elsewhere) is reported like a stop or start.
    if (changed)
        Q_EMIT runningChanged();
    return now;
}

void SingBoxProcessManager::setBinaryPath(const QString &path)
{
    if (m_binaryPath == path)
        return;
    m_binaryPath = path;
    Q_EMIT binaryPathChanged();
}

QString SingBoxProcessManager::resolvedBinaryPath() const
{
    if (!m_binaryPath.isEmpty())
        return m_binaryPath;
    const QString fromEnvironment = QString::fromUtf8(qgetenv("TARN_SINGBOX_BINARY"));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Beside the program when installed; "../../../bin" from inside a build tree's program folder.
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const char *relative :
        {"bin/sing-box", "../../../bin/sing-box", "bin/sing-box.exe", "../../../bin/sing-box.exe"}) {
        const QFileInfo candidate(programDir.filePath(QString::fromLatin1(relative)));
        if (candidate.exists())
            return candidate.canonicalFilePath();
    }
    return QStringLiteral("sing-box");
}

bool SingBoxProcessManager::startWindowsService(const QString &configPath)
{
    const ServiceCommandResult existence = runServiceCommand(QStringLiteral("query"), m_timings.existenceTimeout);
    if (!existence.finished || !ServiceAnswer::queryFoundService(existence.exitCode)) {
        setLastError(
            QStringLiteral("Windows 系统 VPN 服务未安装。请重新运行岚舟安装器，安装器会注册系统级 TUN 服务。"));
        // sc.exe reports its failures on standard output.
        const QString why
            = existence.errorOutput.trimmed().isEmpty() ? existence.output.trimmed() : existence.errorOutput.trimmed();
        appendLog(QStringLiteral("Windows service missing: %1\n").arg(why));
        return false;
    }

    // Unknown may be running too: a stop of a stopped service is harmless.
    if (queryServiceState() != ServiceState::Stopped) {
        // The service reads the configuration only when it starts.
        appendLog(
            QStringLiteral("Windows service already running; restarting with active config %1\n").arg(configPath));
        stopWindowsService();
    }

    const ServiceCommandResult startCommand = runServiceCommand(QStringLiteral("start"), m_timings.startTimeout);
    if (!startCommand.finished) {
        setLastError(QStringLiteral("启动 Windows 系统 VPN 服务超时，请确认服务未被安全软件拦截。"));
        return false;
    }
    const QString output = startCommand.output.trimmed();
    const bool accepted = ServiceAnswer::startAccepted(startCommand.exitCode, output.toStdString());

    if (!accepted) {
        const bool denied = ServiceAnswer::accessDenied(output.toStdString());
        if (denied)
            setLastError(
                QStringLiteral("没有权限启动 Windows 系统 VPN 服务。请重新运行安装器，或以管理员身份安装一次岚舟。"));
        else if (!output.isEmpty())
            setLastError(QStringLiteral("Windows 系统 VPN 服务启动失败：%1").arg(output));
        else
            setLastError(QStringLiteral("Windows 系统 VPN 服务启动失败。"));
        appendLog(QStringLiteral("Windows service start failed:\n%1\n").arg(output));
        return false;
    }

    bool reachedRunning = false;
    for (int attempt = 0; attempt < m_timings.startPolls && !reachedRunning; ++attempt) {
        reachedRunning = queryWindowsServiceRunning();
        if (!reachedRunning)
            sleepFor(m_timings.pollInterval);
    }
    if (!reachedRunning) {
        setLastError(QStringLiteral("Windows 系统 VPN 服务已请求启动，但没有进入运行状态。请查看服务日志。"));
        appendLog(QStringLiteral("Windows service did not reach RUNNING state:\n%1\n").arg(output));
        return false;
    }

    m_cachedRunning = true;
    m_cachedAt = QDateTime::currentMSecsSinceEpoch();
    appendLog(QStringLiteral("Started Windows system VPN service with %1\n").arg(configPath));
    Q_EMIT runningChanged();
    return true;
}

void SingBoxProcessManager::stopWindowsService()
{
    runServiceCommand(QStringLiteral("stop"), m_timings.stopTimeout);

    bool stopped = false;
    for (int attempt = 0; attempt < m_timings.stopPolls && !stopped; ++attempt) {
        stopped = queryServiceState() == ServiceState::Stopped;
        if (!stopped)
            sleepFor(m_timings.pollInterval);
    }
    if (!stopped) {
        appendLog(QStringLiteral("Windows system VPN service did not stop within the expected window.\n"));
        m_cachedRunning = true;
        m_cachedAt = QDateTime::currentMSecsSinceEpoch();
        appendLog(QStringLiteral("Requested Windows system VPN service stop, but it is still running.\n"));
        Q_EMIT runningChanged();
        return;
    }

    // Time for the service to release the tunnel adapter.
    sleepFor(m_timings.adapterReleaseDelay);
    m_cachedRunning = false;
    m_cachedAt = QDateTime::currentMSecsSinceEpoch();
    appendLog(QStringLiteral("Stopped Windows system VPN service\n"));
    Q_EMIT runningChanged();
}

bool SingBoxProcessManager::queryWindowsServiceRunning()
{
    return queryServiceState() == ServiceState::Running;
}

SingBoxProcessManager::ServiceState SingBoxProcessManager::queryServiceState()
{
    const ServiceCommandResult query = runServiceCommand(QStringLiteral("query"), m_timings.queryTimeout);
    if (!query.finished)
        return query.started ? ServiceState::Unknown : ServiceState::Stopped;
    return ServiceAnswer::reportsRunning(query.exitCode, query.output.toStdString()) ? ServiceState::Running
                                                                                      : ServiceState::Stopped;
}

SingBoxProcessManager::ServiceCommandResult SingBoxProcessManager::runServiceCommand(
    const QString &verb, int waitMs) const
{
    const ChildRun run = runChild(Platform::serviceControlProgram(), Platform::serviceControlArguments(verb), waitMs, 1000);
    ServiceCommandResult result;
    result.started = run.started;
    result.finished = run.finished;
    result.exitCode = run.exitCode;
    result.errorOutput = QString::fromLocal8Bit(run.standardError);
    result.output = QString::fromLocal8Bit(run.standardOutput) + result.errorOutput;
    return result;
}

void SingBoxProcessManager::setLastError(const QString &text)
{
    m_lastError = text;
    Q_EMIT lastErrorChanged();
}

void SingBoxProcessManager::sleepFor(int ms)
{
    // A short nested loop keeps timers and sockets serviced; the user cannot act meanwhile.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void SingBoxProcessManager::appendLog(const QString &message)
{
    m_recentLog.append(message);
    if (m_recentLog.size() > kRecentLogLimit)
        m_recentLog = m_recentLog.right(kRecentLogLimit);
    DiagnosticLog::appendLine(DiagnosticLog::desktopDiagnosticLogPath(), message);
    Q_EMIT recentLogChanged();
}
