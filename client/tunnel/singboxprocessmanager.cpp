#include "singboxprocessmanager.h"
#include "diagnosticlog.h"

#include <QProcess>

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
    // The service start comes with the tunnel work; until then nothing can run.
    Q_UNUSED(configPath);
    return false;
}

void SingBoxProcessManager::stop()
{
}

bool SingBoxProcessManager::running()
{
    return m_cachedRunning;
}

void SingBoxProcessManager::setBinaryPath(const QString &path)
{
    if (m_binaryPath == path)
        return;
    m_binaryPath = path;
    Q_EMIT binaryPathChanged();
}

void SingBoxProcessManager::appendLog(const QString &message)
{
    m_recentLog.append(message);
    if (m_recentLog.size() > kRecentLogLimit)
        m_recentLog = m_recentLog.right(kRecentLogLimit);
    DiagnosticLog::appendLine(DiagnosticLog::desktopDiagnosticLogPath(), message);
    Q_EMIT recentLogChanged();
}
