#include "controlapi.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

constexpr qsizetype kMaxRequestBytes = 1024 * 1024;

void collectClashModes(const QJsonArray &rules, QStringList &modes)
{
    for (const QJsonValue &rule : rules) {
        const QJsonObject object = rule.toObject();
        const QString mode = object.value(QStringLiteral("clash_mode")).toString();
        if (!mode.isEmpty() && !modes.contains(mode))
            modes << mode;
        collectClashModes(object.value(QStringLiteral("rules")).toArray(), modes);
    }
}

QByteArray statusText(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Status";
    }
}

bool keepsAlive(const QByteArray &version, const QByteArray &connection)
{
    if (connection.compare("close", Qt::CaseInsensitive) == 0)
        return false;
    return version == "HTTP/1.1" || connection.compare("keep-alive", Qt::CaseInsensitive) == 0;
}

} // namespace

ControlApiServer::ControlApiServer(const QJsonObject &config, bool reportTraffic, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_reportTraffic(reportTraffic)
{
    const QJsonObject clashApi
        = config.value(QStringLiteral("experimental")).toObject().value(QStringLiteral("clash_api")).toObject();
    m_secret = clashApi.value(QStringLiteral("secret")).toString();
    m_mode = clashApi.value(QStringLiteral("default_mode")).toString();
    if (m_mode.isEmpty())
        m_mode = QStringLiteral("Rule");
    // The engine offers the default mode plus every clash_mode its rules name.
    m_modeList << m_mode;
    collectClashModes(
        config.value(QStringLiteral("route")).toObject().value(QStringLiteral("rules")).toArray(), m_modeList);
    collectClashModes(
        config.value(QStringLiteral("dns")).toObject().value(QStringLiteral("rules")).toArray(), m_modeList);
    connect(m_server, &QTcpServer::newConnection, this, &ControlApiServer::onNewConnection);
}

void ControlApiServer::rememberModeIn(const QString &cachePath)
{
    m_modeStore = cachePath;
    QFile store(cachePath);
    if (!store.open(QIODevice::ReadOnly))
        return;
    const QByteArray line = store.readLine().trimmed();
    if (!line.startsWith("clash_mode="))
        return;
    const QString stored = QString::fromUtf8(line.mid(11));
    for (const QString &known : std::as_const(m_modeList)) {
        if (known.compare(stored, Qt::CaseInsensitive) == 0)
            m_mode = known;
    }
}

bool ControlApiServer::listen(const QString &address)
{
    const QUrl url(QStringLiteral("http://") + address);
    const int port = url.port(-1);
    if (!url.isValid() || port < 0) {
        m_errorText = QStringLiteral("listen tcp %1: address %1: missing port in address").arg(address);
        return false;
    }
    QHostAddress host(QHostAddress::Any);
    if (url.host() == QLatin1String("localhost"))
        host = QHostAddress(QHostAddress::LocalHost);
    else if (!url.host().isEmpty())
        host = QHostAddress(url.host());
    if (host.isNull()) {
        m_errorText = QStringLiteral("listen tcp %1: lookup %2: no such host").arg(address, url.host());
        return false;
    }
    if (!m_server->listen(host, quint16(port))) {
        m_errorText = m_server->serverError() == QAbstractSocket::AddressInUseError
            ? QStringLiteral("listen tcp %1: bind: address already in use").arg(address)
            : QStringLiteral("listen tcp %1: %2").arg(address, m_server->errorString());
        return false;
    }
    return true;
}

void ControlApiServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (!m_buffers.contains(socket))
                return; // a stream: nothing more is read from it
            m_buffers[socket] += socket->readAll();
            processBuffer(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void ControlApiServer::processBuffer(QTcpSocket *socket)
{
    while (m_buffers.contains(socket)) {
        QByteArray &buffer = m_buffers[socket];
        if (buffer.size() > kMaxRequestBytes) {
            m_buffers.remove(socket);
            socket->abort();
            return;
        }
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        request.version = requestLine.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(
                    lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (length < 0 || length > kMaxRequestBytes) {
            reply(socket, request, 400, "{\"message\":\"Body invalid\"}");
            m_buffers.remove(socket);
            socket->disconnectFromHost();
            return;
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        handle(socket, request);
    }
}

void ControlApiServer::handle(QTcpSocket *socket, const Request &request)
{
    if (!m_secret.isEmpty() && request.headers.value("authorization") != "Bearer " + m_secret.toUtf8()) {
        reply(socket, request, 401, "{\"message\":\"Unauthorized\"}");
        return;
    }
    const qsizetype query = request.path.indexOf('?');
    const QByteArray path = query < 0 ? request.path : request.path.left(query);
    const QByteArray &method = request.method;
    if (path == "/" && method == "GET") {
        reply(socket, request, 200, "{\"hello\":\"clash\"}");
    } else if (path == "/version" && method == "GET") {
        reply(socket, request, 200,
            "{\"version\":\"" + m_versionText.toUtf8() + "\",\"premium\":true,\"meta\":true}");
    } else if (path == "/traffic" && method == "GET") {
        startTrafficStream(socket, request);
    } else if (path == "/configs") {
        if (method == "GET") {
            reply(socket, request, 200, configsBody());
        } else if (method == "PUT") {
            reply(socket, request, 204, QByteArray());
        } else if (method == "PATCH") {
            QJsonParseError error;
            const QJsonDocument body = QJsonDocument::fromJson(request.body, &error);
            const QJsonValue mode = body.object().value(QStringLiteral("mode"));
            if (error.error != QJsonParseError::NoError || !body.isObject()
                || !(mode.isUndefined() || mode.isNull() || mode.isString())) {
                reply(socket, request, 400, "{\"message\":\"Body invalid\"}");
                return;
            }
            // A mode outside the list is ignored; the list is matched without regard to case.
            for (const QString &known : std::as_const(m_modeList)) {
                if (known.compare(mode.toString(), Qt::CaseInsensitive) == 0) {
                    m_mode = known;
                    if (!m_modeStore.isEmpty()) {
                        QFile store(m_modeStore);
                        if (store.open(QIODevice::WriteOnly | QIODevice::Truncate))
                            store.write("clash_mode=" + known.toUtf8() + '\n');
                    }
                }
            }
            reply(socket, request, 204, QByteArray());
        } else {
            reply(socket, request, 405, QByteArray(), "text/plain");
        }
    } else {
        reply(socket, request, 404, "404 page not found\n", "text/plain; charset=utf-8");
    }
}

void ControlApiServer::reply(
    QTcpSocket *socket, const Request &request, int status, const QByteArray &body, const QByteArray &contentType)
{
    const bool keepAlive = keepsAlive(request.version, request.headers.value("connection"));
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status) + "\r\n";
    if (status != 204) {
        out += "Content-Type: " + contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    if (!keepAlive)
        out += "Connection: close\r\n";
    out += "\r\n" + body;
    socket->write(out);
    if (!keepAlive) {
        m_buffers.remove(socket);
        socket->disconnectFromHost();
    }
}

void ControlApiServer::startTrafficStream(QTcpSocket *socket, const Request &request)
{
    // The connection now belongs to the stream: later bytes from the client are not requests.
    m_buffers.remove(socket);
    const bool chunked = request.version == "HTTP/1.1";
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    head += chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Connection: close\r\n\r\n";
    auto *timer = new QTimer(socket);
    timer->setInterval(1000);
    // The engine writes nothing, headers included, until its first one-second
    // tick; the counts are the bytes really moved, so the first one is 0.
    connect(timer, &QTimer::timeout, socket, [this, socket, chunked, head, tick = 0]() mutable {
        if (tick == 0)
            socket->write(head);
        const bool moved = m_reportTraffic && tick > 0;
        const qint64 up = moved ? 1500 + (tick % 5) * 250 : 0;
        const qint64 down = moved ? 24000 + (tick % 7) * 3000 : 0;
        ++tick;
        const QByteArray line = "{\"up\":" + QByteArray::number(up) + ",\"down\":" + QByteArray::number(down) + "}\n";
        socket->write(chunked ? QByteArray::number(line.size(), 16) + "\r\n" + line + "\r\n" : line);
    });
    timer->start();
}

QByteArray ControlApiServer::configsBody() const
{
    QJsonObject configs {{QStringLiteral("port"), 0}, {QStringLiteral("socks-port"), 0},
        {QStringLiteral("redir-port"), 0}, {QStringLiteral("tproxy-port"), 0}, {QStringLiteral("mixed-port"), 0},
        {QStringLiteral("allow-lan"), false}, {QStringLiteral("bind-address"), QStringLiteral("*")},
        {QStringLiteral("mode"), m_mode}, {QStringLiteral("mode-list"), QJsonArray::fromStringList(m_modeList)},
        {QStringLiteral("log-level"), QStringLiteral("info")}, {QStringLiteral("ipv6"), false},
        {QStringLiteral("tun"), QJsonValue()}};
    return QJsonDocument(configs).toJson(QJsonDocument::Compact);
}
