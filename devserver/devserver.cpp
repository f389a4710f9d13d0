#include "devserver.h"
#include "devserverwords.h"

#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    const char *key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QByteArray(key).toUpper() : QByteArray("UNKNOWN");
}

QString bearerToken(const QByteArray &authorization)
{
    const QByteArray value = authorization.trimmed();
    static const QByteArray prefix("bearer ");
    if (value.size() <= prefix.size() || value.left(prefix.size()).toLower() != prefix)
        return {};
    return QString::fromUtf8(value.mid(prefix.size()).trimmed());
}

DevRequest toDevRequest(const QHttpServerRequest &httpRequest)
{
    DevRequest request;
    request.method = methodName(httpRequest.method());
    const QUrl url = httpRequest.url();
    request.path = url.path();
    request.query = httpRequest.query();
    const auto headers = httpRequest.headers();
    for (const auto &header : headers) {
        const QByteArray name = header.first.toLower();
        auto existing = request.headers.find(name);
        if (existing == request.headers.end())
            request.headers.insert(name, header.second);
        else
            existing.value() += ", " + header.second;
    }
    request.body = httpRequest.body();
    if (request.body.trimmed().isEmpty()) {
        request.jsonValid = true;
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
        request.jsonValid = error.error == QJsonParseError::NoError && document.isObject();
        if (request.jsonValid)
            request.json = document.object();
    }
    return request;
}

// Bytes no HTTP client can read as a status line.
const char kGarbage[] = "\x16\x03\x01 quillet-devserver garbage \xff\xfe\r\n\r\nthis is not HTTP\r\n";

// A header block that promises a body it never sends.
const char kTruncatedHead[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 64\r\n\r\n";

const char kMalformedBody[] = "<html>quillet-devserver: this body is not JSON {\"token\":";

} // namespace

DevServer::Fault DevServer::Fault::withStatus(int status, const QString &error, int count)
{
    Fault fault;
    fault.mode = FaultMode::Status;
    fault.status = status;
    fault.error = error;
    fault.count = count;
    return fault;
}

DevServer::Fault DevServer::Fault::delayed(int delayMs, int count)
{
    Fault fault;
    fault.mode = FaultMode::Delay;
    fault.delayMs = delayMs;
    fault.count = count;
    return fault;
}

DevServer::Fault DevServer::Fault::ofMode(FaultMode mode, int count)
{
    Fault fault;
    fault.mode = mode;
    fault.count = count;
    return fault;
}

DevServer::DevServer(QObject *parent)
    : QObject(parent)
{
    addAccountRoutes();
    addProfileRoutes();
    addNodeRoutes();
    addBillingRoutes();
    addSupportRoutes();
    addSpeedRoutes();
    addDevelopmentRoutes();
}

DevServer::~DevServer()
{
    stop();
}

bool DevServer::start(const Options &options)
{
    stop();
    m_options = options;
    m_errorString.clear();
    if (!m_store.open(options.dataDir, &m_errorString))
        return false;
    if (!seedNodes()) {
        m_errorString = QStringLiteral("cannot store the node catalogue: %1").arg(m_store.lastError());
        m_store.close();
        return false;
    }
    if (options.demoData)
        seedDemoData();

    m_http = std::make_unique<QHttpServer>();
    // One catch-all rule: routing, access checks, faults and envelopes are ours.
    m_http->route(QStringLiteral("/<arg>"),
        [this](const QUrl &, const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            handleHttp(request, std::move(responder));
        });
    connect(m_http.get(), &QAbstractHttpServer::newWebSocketConnection, this, &DevServer::acceptWebSockets);

    m_port = m_http->listen(QHostAddress::LocalHost, options.port);
    if (m_port == 0) {
        m_errorString = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(options.port);
        m_http.reset();
        m_store.close();
        return false;
    }
    return true;
}

void DevServer::stop()
{
    const QList<StreamClient> streams = std::exchange(m_streams, {});
    for (const StreamClient &client : streams) {
        if (client.socket) {
            client.socket->disconnect(this);
            client.socket->abort();
            client.socket->deleteLater();
        }
    }
    m_http.reset();
    m_port = 0;
    m_faults.clear();
    m_store.close();
}

bool DevServer::isListening() const
{
    return m_http && m_port != 0;
}

QString DevServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void DevServer::addRoute(const QByteArray &method, const QString &path, Access access, Handler handler, Body body)
{
    m_routes.append(Route {method.toUpper(), path, access, std::move(handler), body});
}

// --- request handling -------------------------------------------------------

void DevServer::handleHttp(const QHttpServerRequest &httpRequest, QHttpServerResponder &&responder)
{
    // Qt 6.4 offers an upgrade request to the routes before it hands the
    // socket to its WebSocket server; any answer here would break the handshake.
    if (httpRequest.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return;

    DevRequest request = toDevRequest(httpRequest);
    ++m_requestCounts[request.path];

    Fault fault;
    if (takeFault(request.path, &fault)) {
        applyFault(fault, request, std::make_shared<QHttpServerResponder>(std::move(responder)));
        return;
    }
    writeReply(responder, route(std::move(request)));
}

DevReply DevServer::route(DevRequest request)
{
    const Route *match = nullptr;
    bool pathKnown = false;
    for (const Route &candidate : std::as_const(m_routes)) {
        if (candidate.path != request.path)
            continue;
        if (candidate.access == Access::Development && !m_options.developmentMode)
            continue;
        pathKnown = true;
        if (candidate.method == request.method) {
            match = &candidate;
            break;
        }
    }
    if (!match)
        return pathKnown ? DevReply::error(405, QStringLiteral("method not allowed"))
                         : DevReply::error(404, QStringLiteral("not found"));

    if (match->access != Access::Development) {
        const QString token = bearerToken(request.header("authorization"));
        const auto session = m_store.sessionByToken(token);
        if (match->access == Access::Token && token.isEmpty())
            return DevReply::error(401, QStringLiteral("authentication required"));
        if (match->access != Access::Public && !token.isEmpty() && !session)
            return DevReply::error(401, QStringLiteral("invalid token"));
        if (session) {
            const auto account = m_store.accountById(session->accountId);
            if (!account)
                return DevReply::error(401, QStringLiteral("session user missing"));
            if (account->disabled && match->access == Access::Token)
                return DevReply::error(403, QStringLiteral("account disabled"));
            request.token = token;
            request.accountId = account->id;
            m_store.touchSession(token);
        }
    }
    if (match->body == Body::Json && !request.jsonValid && request.header("content-type").contains("json"))
        return DevReply::error(400, QStringLiteral("invalid json body"));

    m_requestLanguage = DevWords::languageOf(request.header("accept-language"));
    DevReply reply = match->handler(request);

    const bool wantsEnvelope = request.header("x-tarn-encrypted").trimmed() == "1";
    if (reply.isSuccess() && reply.encryptable && wantsEnvelope && !request.token.isEmpty()
        && encryptionApplies(request.token, request.path)) {
        QString error;
        const QByteArray sealed = DevCrypto::sealEnvelope(reply.body, request.token, &error);
        if (sealed.isEmpty())
            return DevReply::error(500, error);
        reply.body = sealed;
        reply.contentType = "application/json";
    }
    return reply;
}

void DevServer::writeReply(QHttpServerResponder &responder, const DevReply &reply)
{
    if (!responder.socket() || !responder.socket()->isOpen())
        return;
    responder.write(reply.body, {{"Content-Type", reply.contentType}, {"Cache-Control", "no-store"}},
        QHttpServerResponder::StatusCode(reply.status));
}

// --- faults -------------------------------------------------------------------

void DevServer::setFault(const QString &route, const Fault &fault)
{
    if (route.isEmpty() || fault.count < 1)
        return;
    m_faults[route].append(fault);
}

void DevServer::clearFaults()
{
    m_faults.clear();
}

bool DevServer::faultModeFromString(const QString &text, FaultMode *mode)
{
    static const QHash<QString, FaultMode> modes {
        {QStringLiteral("status"), FaultMode::Status},
        {QStringLiteral("delay"), FaultMode::Delay},
        {QStringLiteral("close"), FaultMode::Close},
        {QStringLiteral("drop"), FaultMode::Drop},
        {QStringLiteral("garbage"), FaultMode::Garbage},
        {QStringLiteral("malformed"), FaultMode::Malformed},
    };
    const auto it = modes.constFind(text.trimmed().toLower());
    if (it == modes.constEnd())
        return false;
    if (mode)
        *mode = it.value();
    return true;
}

bool DevServer::takeFault(const QString &path, Fault *fault)
{
    // The switches themselves stay reachable whatever is injected.
    if (!m_options.developmentMode || path.startsWith(QLatin1String("/dev/")))
        return false;
    auto it = m_faults.find(path);
    if (it == m_faults.end() || it->isEmpty())
        return false;
    Fault &front = it->first();
    *fault = front;
    if (--front.count <= 0)
        it->removeFirst();
    if (it->isEmpty())
        m_faults.erase(it);
    return true;
}

void DevServer::applyFault(
    const Fault &fault, const DevRequest &request, std::shared_ptr<QHttpServerResponder> responder)
{
    const QPointer<QTcpSocket> socket = responder->socket();
    switch (fault.mode) {
    case FaultMode::Status:
        writeReply(*responder, DevReply::error(fault.status, fault.error));
        return;
    case FaultMode::Delay:
        // A timer, not a sleep: the server keeps serving while this answer waits.
        QTimer::singleShot(qMax(0, fault.delayMs), this, [this, request, responder, socket] {
            if (socket && socket->state() == QAbstractSocket::ConnectedState)
                writeReply(*responder, route(request));
        });
        return;
    case FaultMode::Close:
        if (socket) {
            socket->write(kTruncatedHead);
            socket->disconnectFromHost();
        }
        return;
    case FaultMode::Drop:
        if (socket)
            socket->disconnectFromHost();
        return;
    case FaultMode::Garbage:
        if (socket) {
            socket->write(kGarbage, sizeof(kGarbage) - 1);
            socket->disconnectFromHost();
        }
        return;
    case FaultMode::Malformed: {
        DevReply reply = DevReply::raw(QByteArray(kMalformedBody), "application/json", 200);
        reply.encryptable = false;
        writeReply(*responder, reply);
        return;
    }
    }
}

// --- counters and switches ---------------------------------------------------

int DevServer::requestCount(const QString &route) const
{
    return m_requestCounts.value(route);
}

void DevServer::resetRequestCounts()
{
    m_requestCounts.clear();
}

void DevServer::setEncryption(bool enabled, const QString &token, const QString &route)
{
    if (token.isEmpty() && route.isEmpty()) {
        m_encryptAll = enabled;
        if (!enabled) {
            m_encryptedTokens.clear();
            m_encryptedRoutes.clear();
        }
        return;
    }
    if (!token.isEmpty()) {
        if (enabled)
            m_encryptedTokens.insert(token);
        else
            m_encryptedTokens.remove(token);
    }
    if (!route.isEmpty()) {
        if (enabled)
            m_encryptedRoutes.insert(route);
        else
            m_encryptedRoutes.remove(route);
    }
}

bool DevServer::encryptionApplies(const QString &token, const QString &route) const
{
    return m_encryptAll || m_encryptedTokens.contains(token) || m_encryptedRoutes.contains(route);
}

QString DevServer::lastMailCode(const QString &email) const
{
    const auto code = m_store.latestCode(email);
    return code ? code->code : QString();
}

bool DevServer::membershipActive(const DevServerStore::Account &account) const
{
    return account.expiresAt.isValid() && account.expiresAt > m_store.now();
}

QJsonObject DevServer::userJson(const DevServerStore::Account &account) const
{
    const bool active = membershipActive(account);
    QString planType;
    if (!account.planId.isEmpty())
        planType = account.planId == QLatin1String("trial") ? QStringLiteral("trial") : QStringLiteral("paid");
    return QJsonObject {
        {QStringLiteral("id"), account.id},
        {QStringLiteral("email"), account.email},
        {QStringLiteral("name"), account.name},
        {QStringLiteral("created_at"), account.createdAt.toString(Qt::ISODate)},
        {QStringLiteral("selected_node_id"), account.selectedNodeId},
        {QStringLiteral("active_plan_id"), account.planId},
        {QStringLiteral("active_plan_name"), localized(account.planName)},
        {QStringLiteral("membership_label"), localized(account.planName)},
        {QStringLiteral("plan_type"), planType},
        {QStringLiteral("plan_expires_at"),
            account.expiresAt.isValid() ? account.expiresAt.toString(Qt::ISODate) : QString()},
        {QStringLiteral("membership_active"), active},
        {QStringLiteral("invite_code"), account.inviteCode},
        {QStringLiteral("trial_claim"), trialJson(account)},
    };
}

// --- event stream --------------------------------------------------------------

namespace {

// Closed on the next turn: Qt is still reading the handshake's socket while it
// announces the connection.
void rejectStream(QWebSocket *socket, const QString &reason)
{
    QTimer::singleShot(
        0, socket, [socket, reason] { socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason); });
}

} // namespace

void DevServer::acceptWebSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> owned = m_http->nextPendingWebSocketConnection();
        if (!owned)
            break;
        QWebSocket *socket = owned.release();
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_streams.removeIf([socket](const StreamClient &client) { return client.socket == socket; });
            socket->deleteLater();
        });

        const QUrl url = socket->requestUrl();
        ++m_requestCounts[url.path()];
        if (url.path() != QLatin1String(Backend::Path::kEventStream)) {
            rejectStream(socket, QStringLiteral("not found"));
            continue;
        }
        QString token = bearerToken(socket->request().rawHeader("Authorization"));
        if (token.isEmpty())
            token = QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).trimmed();
        const auto session = m_store.sessionByToken(token);
        if (!session) {
            rejectStream(
                socket, token.isEmpty() ? QStringLiteral("authentication required") : QStringLiteral("invalid token"));
            continue;
        }
        m_store.touchSession(token);
        m_streams.append(StreamClient {socket, token, session->accountId});
        connect(socket, &QWebSocket::textMessageReceived, this, [socket](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QStringLiteral("type")).toString() == QLatin1String("ping"))
                socket->sendTextMessage(QStringLiteral("{\"type\":\"pong\"}"));
        });
        socket->sendTextMessage(QStringLiteral("{\"type\":\"connected\"}"));
    }
}

int DevServer::pushEvent(qint64 accountId, const QJsonObject &event)
{
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    int reached = 0;
    for (const StreamClient &client : std::as_const(m_streams)) {
        if (client.accountId == accountId && client.socket) {
            client.socket->sendTextMessage(text);
            ++reached;
        }
    }
    return reached;
}

int DevServer::pushEvent(const QString &tokenOrEmail, const QJsonObject &event)
{
    if (tokenOrEmail.contains(QLatin1Char('@'))) {
        const auto account = m_store.accountByEmail(tokenOrEmail);
        return account ? pushEvent(account->id, event) : 0;
    }
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    int reached = 0;
    for (const StreamClient &client : std::as_const(m_streams)) {
        if (client.token == tokenOrEmail && client.socket) {
            client.socket->sendTextMessage(text);
            ++reached;
        }
    }
    return reached;
}

int DevServer::streamSocketCount(qint64 accountId) const
{
    return int(std::count_if(m_streams.cbegin(), m_streams.cend(),
        [accountId](const StreamClient &client) { return client.accountId == accountId && client.socket; }));
}

void DevServer::closeStreamsForToken(const QString &token)
{
    for (const StreamClient &client : std::as_const(m_streams)) {
        if (client.token == token && client.socket)
            client.socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("session ended"));
    }
}

void DevServer::endSession(const QString &token, const QJsonObject &event)
{
    if (token.isEmpty())
        return;
    m_store.revokeSession(token);
    // The frame is queued before the close frame, so the client reads why.
    if (!event.isEmpty())
        pushEvent(token, event);
    closeStreamsForToken(token);
}

void DevServer::endAccountSessions(qint64 accountId, const QString &exceptToken, const QJsonObject &event)
{
    const QList<DevServerStore::Session> sessions = m_store.sessionsForAccount(accountId);
    for (const DevServerStore::Session &session : sessions)
        endSession(session.token, session.token == exceptToken ? QJsonObject() : event);
}

QString DevServer::word(const char *source) const
{
    return DevWords::translated(m_requestLanguage, QString::fromUtf8(source));
}

QString DevServer::localized(const QString &stored) const
{
    return DevWords::translated(m_requestLanguage, stored);
}
