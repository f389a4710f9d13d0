#pragma once

#include <QByteArray>
#include <QString>

// A tunnel service laid out in a test folder the way an installation lays it
// out: quillet-vpn-service and quillet-servicectl side by side, the engine as
// "bin/sing-box" (the stand-in), logs in "logs". quillet-servicectl runs it in
// user mode under the "ProgramData" of the test environment. Whatever still
// runs when the object goes away is stopped, so no test leaves processes behind.
class ServiceInstall
{
public:
    // withEngine: false leaves "bin/sing-box" out.
    explicit ServiceInstall(const QString &directory, bool withEngine = true);
    ~ServiceInstall();

    bool isValid() const { return m_valid; }
    QString directory() const { return m_directory; }
    QString servicectl() const;
    QString serviceProgram() const;
    QString serviceLogPath() const;
    QString engineLogPath() const;
    QString serviceLog() const;
    QString engineLog() const;

    struct Answer
    {
        int exitCode = -1;
        QString output;
    };
    // Runs quillet-servicectl with the verb on "QuilletVpnService".
    Answer control(const QString &verb) const;
    // "RUNNING", "STOPPED", "START_PENDING", "STOP_PENDING", or empty.
    QString state() const;
    bool waitForState(const QString &state, int timeoutMs) const;
    // The service process recorded in the runtime folder, 0 when none.
    qint64 recordedPid() const;
    // Ends the recorded service (SIGTERM, then SIGKILL) and waits for it.
    void stopEverything();

    // The shared data directory of the current environment and its files.
    static QString sharedDataDirectory();
    static bool writeActiveConfig(const QByteArray &bytes);
    // A configuration the stand-in engine runs and the service accepts, with
    // the control API on 127.0.0.1:port.
    static QByteArray runnableConfig(quint16 port, const QString &secret);
    // A loopback port that was free a moment ago.
    static quint16 freePort();

    struct HttpAnswer
    {
        int status = 0; // 0: no connection or no answer
        QByteArray body;
    };
    // One blocking HTTP/1.0 GET to 127.0.0.1:port, with the secret as a Bearer token when given.
    static HttpAnswer httpGet(quint16 port, const QByteArray &path, const QByteArray &secret);

private:
    QString m_directory;
    bool m_valid = false;
};
