#include "appcontroller.h"

#include "api/apirequest.h"
#include "i18n/translations.h"
#include "model/eventstream.h"

#include <QTimer>
#include <QWebSocket>

#include <utility>

void AppController::startEventStreamIfNeeded()
{
    const QString token = m_authToken.trimmed();
    if (!m_loggedIn || token.isEmpty()) {
        stopEventStream();
        return;
    }
    if (m_signingOut)
        return;
    if (token != m_eventStreamToken) {
        // Another session: the old stream and its back-off go.
        stopEventStream();
    } else if (m_eventSocket) {
        const QAbstractSocket::SocketState state = m_eventSocket->state();
        if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ConnectingState
            || state == QAbstractSocket::HostLookupState)
            return;
        QWebSocket *stale = std::exchange(m_eventSocket, nullptr);
        stale->disconnect(this);
        stale->abort();
        stale->deleteLater();
    } else if (m_eventReconnectTimer->isActive()) {
        // A reconnect of this session is already due: opening now would skip
        // the back-off (every applied bootstrap lands here).
        return;
    }
    m_eventReconnectTimer->stop();
    m_eventSocketOpenSince.invalidate();
    m_eventStreamToken = token;

    EventStream::StreamIdentity identity;
    identity.apiBaseUrl = m_apiBaseUrl;
    identity.token = token;
    identity.acceptLanguage = I18n::acceptLanguageForDesktopLanguage(m_language);
    identity.platform = Api::desktopConfigPlatform();
    identity.deviceId = m_deviceId;
    identity.appVersion = Api::desktopAppVersion();
    identity.userAgent = Api::desktopApiUserAgent();

    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    m_eventSocket = socket;
    appendDiagnosticLog(QStringLiteral("WebSocket opening desktop event stream.\n"));

    connect(socket, &QWebSocket::connected, this, [this, socket] { onEventSocketConnected(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, token](const QString &text) {
        if (m_authToken.trimmed() == token && !m_signingOut)
            handleRealtimeEvent(QString(), text);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, token](const QByteArray &bytes) {
        if (m_authToken.trimmed() == token && !m_signingOut)
            handleRealtimeEvent(QString(), QString::fromUtf8(bytes));
    });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket] { onEventSocketError(socket); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket, token] { onEventSocketGone(socket, token); });
    socket->open(EventStream::streamRequest(identity));
}

void AppController::stopEventStream()
{
    m_eventReconnectTimer->stop();
    if (m_eventSocket) {
        QWebSocket *socket = std::exchange(m_eventSocket, nullptr);
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("closing"));
        socket->deleteLater();
    }
    m_eventSocketOpenSince.invalidate();
    m_eventStreamLost = false;
    if (!m_eventStreamToken.isEmpty())
        m_eventStreamToken.clear();
    m_eventReconnectBackoffMs = EventStream::kInitialBackoffMs;
}

void AppController::scheduleEventStreamReconnect()
{
    if (!m_loggedIn || m_signingOut || m_authToken.trimmed().isEmpty() || m_eventReconnectTimer->isActive())
        return;
    const int delay = EventStream::reconnectDelay(m_eventReconnectBackoffMs);
    m_eventReconnectBackoffMs = EventStream::nextBackoff(delay);
    m_eventReconnectTimer->start(delay);
}

void AppController::onEventSocketConnected(QWebSocket *socket)
{
    if (socket != m_eventSocket)
        return;
    // The back-off starts over only once the connection has proved stable (or
    // the server says "connected"): a server that accepts and drops at once
    // must not be dialled every second.
    m_eventSocketOpenSince.start();
    appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream connected.\n"));
    if (m_eventStreamLost) {
        // Back after a loss: what changed meanwhile is read afresh.
        m_eventStreamLost = false;
        resyncWithBackend();
    }
}

void AppController::onEventSocketError(QWebSocket *socket)
{
    if (socket != m_eventSocket)
        return;
    QString detail = socket->errorString().trimmed();
    if (detail.isEmpty())
        detail = QStringLiteral("unknown");
    appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream error detail=%1\n").arg(detail));
    if (m_signingOut)
        return;
    if (shouldForceLogout(0, detail, true)) {
        triggerForcedLogout(QStringLiteral("您已被踢下线。"));
        return;
    }
    // A dead session shows in the next API answer; one reload per back-off
    // period is enough to find out.
    if (!m_eventErrorReloadSince.isValid() || m_eventErrorReloadSince.elapsed() >= m_eventErrorReloadWindowMs) {
        m_eventErrorReloadSince.start();
        m_eventErrorReloadWindowMs = EventStream::reconnectDelay(m_eventReconnectBackoffMs);
        resyncWithBackend();
    }
    // A dial that failed never reports a disconnection: count it as one, or
    // the stream would stay closed.
    if (m_eventSocket == socket && socket->state() == QAbstractSocket::UnconnectedState)
        onEventSocketGone(socket, m_eventStreamToken);
}

void AppController::onEventSocketGone(QWebSocket *socket, const QString &token)
{
    if (socket != m_eventSocket) {
        socket->deleteLater();
        return;
    }
    const qint64 openFor = m_eventSocketOpenSince.isValid() ? m_eventSocketOpenSince.elapsed() : -1;
    m_eventSocketOpenSince.invalidate();
    m_eventSocket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    if (!m_loggedIn || m_authToken.trimmed() != token)
        return;
    // The server may refuse a stale session by closing the stream with its reason.
    if (!m_signingOut && shouldForceLogout(0, socket->closeReason(), true)) {
        triggerForcedLogout(QStringLiteral("您已被踢下线。"));
        return;
    }
    m_eventReconnectBackoffMs = EventStream::backoffAfterDisconnect(m_eventReconnectBackoffMs, openFor);
    m_eventStreamLost = true;
    appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream closed.\n"));
    scheduleEventStreamReconnect();
}

void AppController::handleRealtimeEvent(const QString &type, const QString &payload)
{
    if (m_signingOut)
        return;
    const EventStream::Event event = EventStream::parseEvent(type, payload);
    switch (event.action) {
    case EventStream::Action::ResetBackoff:
        m_eventReconnectBackoffMs = EventStream::kInitialBackoffMs;
        break;
    case EventStream::Action::ForcedLogout:
        triggerForcedLogout(event.message.isEmpty() ? QStringLiteral("您已被踢下线。") : event.message);
        break;
    case EventStream::Action::ReloadBootstrap:
        reloadBootstrapQuietly(true);
        break;
    case EventStream::Action::RefreshSupport:
        refreshSupportChat();
        break;
    case EventStream::Action::RefreshMessages:
        refreshMessagesExperienceAsync();
        break;
    case EventStream::Action::None:
        break;
    }
}

void AppController::reloadBootstrapQuietly(bool refreshPreview)
{
    loadBootstrapAsync(
        [this, refreshPreview](bool success) {
            if (success && refreshPreview)
                refreshRemoteConfigPreview();
        },
        false);
}
