#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShownAnswer = "shown\n";

} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(serverName)
{
}

QString SingleInstance::serverNameForCurrentUser()
{
    QByteArray user = qgetenv("USER");
    if (user.isEmpty())
        user = qgetenv("USERNAME");
    const QByteArray identity = user + '\n' + QDir::homePath().toUtf8();
    const QByteArray digest = QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("quillet-desktop-%1").arg(QString::fromLatin1(digest));
}

bool SingleInstance::activateRunningInstance(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The answer comes once the window is up; a running instance that is too
    // busy to answer still counts: a second client must not start beside it.
    while (!socket.canReadLine() && socket.waitForReadyRead(timeoutMs)) {
    }
    return true;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (m_server->listen(m_serverName))
        return true;
    // Nobody answered on the name (checked by the caller): a crashed run left it behind.
    QLocalServer::removeServer(m_serverName);
    return m_server->listen(m_serverName);
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray request = socket->readLine(64);
            if (request != kShowRequest) {
                socket->disconnectFromServer();
                return;
            }
            Q_EMIT activationRequested();
            socket->write(kShownAnswer);
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}
