#pragma once

#include <QObject>
#include <QString>

class QProcess;

// The client's single point of control over the tunnel engine, which runs
// inside the privileged tunnel service. The service is driven through the
// platform's service-control program (sc.exe, quillet-servicectl); start, stop
// and their polls block the calling thread, as the connection workflow expects.
class SingBoxProcessManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(QString binaryPath READ binaryPath WRITE setBinaryPath NOTIFY binaryPathChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QString recentLog READ recentLog NOTIFY recentLogChanged)

public:
    explicit SingBoxProcessManager(QObject *parent = nullptr);

    static constexpr int kRecentLogLimit = 8000;

    // Waits, polls and sleeps of the service control, in milliseconds.
    struct Timings
    {
        int checkTimeout = 8000;
        int checkKillWait = 1000;
        int queryTimeout = 1200;
        int existenceTimeout = 2000;
        int startTimeout = 5000;
        int stopTimeout = 5000;
        int pollInterval = 500;
        int startPolls = 12;
        int stopPolls = 16;
        int adapterReleaseDelay = 1200;
        int cacheWindow = 1500;
    };

    Q_INVOKABLE bool start(const QString &configPath);
    Q_INVOKABLE void stop();

    // What one state query said. A query that does not finish in time tells
    // nothing: it is Unknown, never taken for "not running".
    enum class ServiceState { Running, Stopped, Unknown };

    // The service state, queried again once the cached answer is older than the cache window.
    bool running();
    // Queries now; emits runningChanged when the state differs from the cached one.
    // A running service counts as stopped only when a second query at once agrees;
    // an Unknown answer keeps the last known state.
    bool refreshRunning();
    // The last query's answer, as refreshRunning saw it.
    ServiceState lastServiceState() const { return m_lastServiceState; }
    // True while start() or stop() runs (their own state changes are not news).
    bool commandInProgress() const { return m_commandDepth > 0; }
    // The last known state, without asking the service.
    bool cachedRunning() const { return m_cachedRunning; }
    bool connected() { return running(); }
    QString binaryPath() const { return m_binaryPath; }
    void setBinaryPath(const QString &path);
    QString lastError() const { return m_lastError; }
    QString recentLog() const { return m_recentLog; }

    // The engine binary used for configuration checks.
    QString resolvedBinaryPath() const;

    // Starts (or restarts) the service and waits until it runs.
    bool startWindowsService(const QString &configPath);
    // Stops the service and waits until it no longer runs.
    void stopWindowsService();
    // One uncached state query.
    bool queryWindowsServiceRunning();
    ServiceState queryServiceState();

    void appendLog(const QString &message);
    void appendDiagnosticLog(const QString &message) { appendLog(message); }

    QString macSystemTunnelStateLine() const { return QString(); }
    void prepareMacVpnEnvironment() { }

    // Tests shorten the waits so the failure paths run in a fraction of the time.
    void setTimingsForTesting(const Timings &timings) { m_timings = timings; }

Q_SIGNALS:
    void runningChanged();
    void binaryPathChanged();
    void lastErrorChanged();
    void recentLogChanged();

private:
    struct ServiceCommandResult
    {
        bool started = false;
        bool finished = false;
        int exitCode = -1;
        QString output; // standard output followed by standard error
        QString errorOutput;
    };

    ServiceCommandResult runServiceCommand(const QString &verb, int waitMs) const;
    void setLastError(const QString &text);
    void sleepFor(int ms);

    QProcess *m_process = nullptr;
    QString m_binaryPath;
    QString m_lastError;
    QString m_recentLog;
    bool m_cachedRunning = false;
    qint64 m_cachedAt = 0;
    ServiceState m_lastServiceState = ServiceState::Unknown;
    int m_commandDepth = 0;
    Timings m_timings;
};
