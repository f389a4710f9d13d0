#include "scriptedhttpserver.h"

#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

// One connection: reads a request head (and any Content-Length body), answers, closes.
class ScriptedHttpConnection : public QObject
{
public:
    ScriptedHttpConnection(ScriptedHttpServer *owner, QTcpSocket *socket)
        : QObject(socket)
        , m_owner(owner)
        , m_socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void onReadyRead()
    {
        m_buffer.append(m_socket->readAll());
        if (m_answered)
            return;
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
        ScriptedHttpServer::Headers headers;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const qsizetype bodyLength = headers.value("content-length").toLongLong();
        if (m_buffer.size() < headEnd + 4 + bodyLength)
            return;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        const QByteArray path = requestLine.value(1).split('?').value(0);
        m_answered = true;
        m_socket->write(m_owner->answerFor(path, headers));
        m_socket->disconnectFromHost();
    }

    ScriptedHttpServer *m_owner;
    QTcpSocket *m_socket;
    QByteArray m_buffer;
    bool m_answered = false;
};

ScriptedHttpServer::ScriptedHttpServer()
    : m_thread(std::make_unique<QThread>())
    , m_context(new QObject)
{
    m_context->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_server = new QTcpServer;
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket *socket = m_server->nextPendingConnection())
                    new ScriptedHttpConnection(this, socket);
            });
            if (m_server->listen(QHostAddress::LocalHost))
                m_port = m_server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            delete m_server;
            m_server = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_context;
}

void ScriptedHttpServer::script(const QByteArray &path, const QList<QByteArray> &answers)
{
    const QMutexLocker locker(&m_mutex);
    m_answers.insert(path, answers);
}

QList<ScriptedHttpServer::Headers> ScriptedHttpServer::requests(const QByteArray &path) const
{
    const QMutexLocker locker(&m_mutex);
    return m_requests.value(path);
}

QByteArray ScriptedHttpServer::answerFor(const QByteArray &path, const Headers &headers)
{
    const QMutexLocker locker(&m_mutex);
    m_requests[path].append(headers);
    QList<QByteArray> &queue = m_answers[path];
    if (queue.isEmpty())
        return jsonAnswer("{\"error\":\"not found\"}", 404);
    return queue.size() > 1 ? queue.takeFirst() : queue.first();
}

QByteArray ScriptedHttpServer::jsonAnswer(const QByteArray &json, int status)
{
    return QByteArray("HTTP/1.1 ") + QByteArray::number(status) + " Scripted\r\nContent-Type: application/json\r\n"
           + "Content-Length: " + QByteArray::number(json.size()) + "\r\nConnection: close\r\n\r\n" + json;
}

QByteArray ScriptedHttpServer::redirectAnswer(const QString &location)
{
    return QByteArray("HTTP/1.1 302 Found\r\nLocation: ") + location.toUtf8()
           + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

QByteArray ScriptedHttpServer::garbageAnswer()
{
    return QByteArray("\x16\x03\x01 not http at all\r\n\r\n");
}

QByteArray ScriptedHttpServer::truncatedAnswer()
{
    return QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 64\r\n\r\n");
}
