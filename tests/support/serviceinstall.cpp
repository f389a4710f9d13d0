#include "serviceinstall.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace {

bool copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to)
        && QFile::setPermissions(to,
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                | QFileDevice::ExeGroup);
}

bool processExists(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return ::kill(pid_t(pid), 0) == 0;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && close + 2 < line.size() && line.at(close + 2) != 'Z';
}

} // namespace

ServiceInstall::ServiceInstall(const QString &directory, bool withEngine)
    : m_directory(QDir(directory).absolutePath())
{
    QDir().mkpath(m_directory);
    m_valid = copyExecutable(QStringLiteral(QUILLET_SERVICE_PROGRAM), serviceProgram())
        && copyExecutable(QStringLiteral(QUILLET_SERVICECTL_PROGRAM), servicectl());
    if (withEngine) {
        QDir().mkpath(m_directory + QStringLiteral("/bin"));
        m_valid = m_valid
            && QFile::link(QStringLiteral(QUILLET_FAKE_ENGINE_PROGRAM), m_directory + QStringLiteral("/bin/sing-box"));
    }
}

ServiceInstall::~ServiceInstall()
{
    stopEverything();
}

QString ServiceInstall::servicectl() const
{
    return m_directory + QStringLiteral("/quillet-servicectl");
}

QString ServiceInstall::serviceProgram() const
{
    return m_directory + QStringLiteral("/quillet-vpn-service");
}

QString ServiceInstall::serviceLogPath() const
{
    return m_directory + QStringLiteral("/logs/service.log");
}

QString ServiceInstall::engineLogPath() const
{
    return m_directory + QStringLiteral("/logs/sing-box.log");
}

QString ServiceInstall::serviceLog() const
{
    QFile file(serviceLogPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString ServiceInstall::engineLog() const
{
    QFile file(engineLogPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

ServiceInstall::Answer ServiceInstall::control(const QString &verb) const
{
    Answer answer;
    QProcess process;
    process.start(servicectl(), {verb, QStringLiteral("QuilletVpnService")});
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit)
        answer.exitCode = process.exitCode();
    answer.output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    return answer;
}

QString ServiceInstall::state() const
{
    static const QRegularExpression stateLine(QStringLiteral("STATE\\s*:\\s*\\d+\\s+(\\w+)"));
    return stateLine.match(control(QStringLiteral("query")).output).captured(1);
}

bool ServiceInstall::waitForState(const QString &wanted, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (state() == wanted)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

qint64 ServiceInstall::recordedPid() const
{
    QFile file(sharedDataDirectory() + QStringLiteral("/runtime/quillet-vpn-service.pid"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

void ServiceInstall::stopEverything()
{
    const qint64 pid = recordedPid();
    if (!processExists(pid))
        return;
    ::kill(pid_t(pid), SIGTERM);
    QDeadlineTimer deadline(8000);
    while (processExists(pid) && !deadline.hasExpired())
        QThread::msleep(50);
    // A service killed outright takes its engine along (it dies with its parent).
    if (processExists(pid))
        ::kill(pid_t(pid), SIGKILL);
}

QString ServiceInstall::sharedDataDirectory()
{
    return QDir(qEnvironmentVariable("ProgramData")).filePath(QStringLiteral("Quillet"));
}

bool ServiceInstall::writeActiveConfig(const QByteArray &bytes)
{
    const QString configs = sharedDataDirectory() + QStringLiteral("/configs");
    QDir().mkpath(configs);
    QFile file(configs + QStringLiteral("/active.json"));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ServiceInstall::runnableConfig(quint16 port, const QString &secret)
{
    const QJsonObject config {
        {QStringLiteral("log"), QJsonObject {{QStringLiteral("level"), QStringLiteral("info")}}},
        {QStringLiteral("inbounds"),
            QJsonArray {QJsonObject {{QStringLiteral("type"), QStringLiteral("tun")},
                {QStringLiteral("tag"), QStringLiteral("tun-in")}, {QStringLiteral("interface_name"), QString()},
                {QStringLiteral("address"), QJsonArray {QStringLiteral("172.19.0.1/30")}},
                {QStringLiteral("mtu"), 1400}, {QStringLiteral("auto_route"), true},
                {QStringLiteral("strict_route"), true}}}},
        {QStringLiteral("outbounds"),
            QJsonArray {QJsonObject {{QStringLiteral("type"), QStringLiteral("direct")},
                            {QStringLiteral("tag"), QStringLiteral("selected")}},
                QJsonObject {{QStringLiteral("type"), QStringLiteral("block")},
                    {QStringLiteral("tag"), QStringLiteral("block")}}}},
        {QStringLiteral("route"),
            QJsonObject {{QStringLiteral("final"), QStringLiteral("selected")},
                {QStringLiteral("rules"),
                    QJsonArray {QJsonObject {{QStringLiteral("action"), QStringLiteral("sniff")}}}}}},
        {QStringLiteral("experimental"),
            QJsonObject {{QStringLiteral("cache_file"),
                             QJsonObject {{QStringLiteral("enabled"), true},
                                 {QStringLiteral("path"), QStringLiteral("cache.db")}}},
                {QStringLiteral("clash_api"),
                    QJsonObject {{QStringLiteral("external_controller"), QStringLiteral("127.0.0.1:%1").arg(port)},
                        {QStringLiteral("external_ui"), QStringLiteral("ui")}, {QStringLiteral("secret"), secret}}}}},
    };
    return QJsonDocument(config).toJson();
}

quint16 ServiceInstall::freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

ServiceInstall::HttpAnswer ServiceInstall::httpGet(quint16 port, const QByteArray &path, const QByteArray &secret)
{
    HttpAnswer answer;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return answer;
    QByteArray request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!secret.isEmpty())
        request += "Authorization: Bearer " + secret + "\r\n";
    socket.write(request + "\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(3000))
        response += socket.readAll();
    response += socket.readAll();
    const qsizetype headerEnd = response.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = response.left(response.indexOf("\r\n")).split(' ');
    answer.status = statusLine.value(1).toInt();
    answer.body = headerEnd < 0 ? QByteArray() : response.mid(headerEnd + 4);
    return answer;
}
