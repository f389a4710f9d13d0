#pragma once

#include <QObject>
#include <QString>

class QProcess;

// The client's single point of control over the tunnel engine, which runs
// inside the privileged tunnel service.
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

    Q_INVOKABLE bool start(const QString &configPath);
    Q_INVOKABLE void stop();

    bool running();
    bool connected() { return running(); }
    QString binaryPath() const { return m_binaryPath; }
    void setBinaryPath(const QString &path);
    QString lastError() const { return m_lastError; }
    QString recentLog() const { return m_recentLog; }

    void appendLog(const QString &message);
    void appendDiagnosticLog(const QString &message) { appendLog(message); }

    QString macSystemTunnelStateLine() const { return QString(); }
    void prepareMacVpnEnvironment() {}

Q_SIGNALS:
    void runningChanged();
    void binaryPathChanged();
    void lastErrorChanged();
    void recentLogChanged();

private:
    QProcess *m_process = nullptr;
    QString m_binaryPath;
    QString m_lastError;
    QString m_recentLog;
    bool m_cachedRunning = false;
    qint64 m_cachedAt = 0;
};
