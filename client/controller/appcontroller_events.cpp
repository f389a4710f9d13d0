#include "appcontroller.h"

#include "api/apirequest.h"
#include "i18n/translations.h"
#include "model/eventstream.h"

#include <QDateTime>
#include <QNetworkProxy>
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
    watchEventStreamWakeUps();

    EventStream::StreamIdentity identity;
    identity.apiBaseUrl = m_apiBaseUrl;
    identity.token = token;
    identity.acceptLanguage = I18n::acceptLanguageForDesktopLanguage(m_language);
    identity.platform = Api::desktopConfigPlatform();
    identity.deviceId = m_deviceId;
    identity.appVersion = Api::desktopAppVersion();
    identity.userAgent = Api::desktopApiUserAgent();

    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    // Like every API call, the stream goes straight to the backend: a system
    // proxy that wants office credentials or is gone would otherwise cut the
    // session's only way to hear a kick or a payment.
    socket->setProxy(QNetworkProxy::NoProxy);
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
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (socket == m_eventSocket)
            m_eventPongTimer->stop();
    });
    socket->open(EventStream::streamRequest(identity));
}

void AppController::stopEventStream()
{
    m_eventReconnectTimer->stop();
    stopEventKeepAlive();
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
    // The back-off starts over only once the connection has proved stable: a
    // server that accepts and drops at once must not be dialled every second.
    m_eventSocketOpenSince.start();
    appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream connected.\n"));
    m_eventPingTimer->start(m_eventPingIntervalMs);
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
    if (EventStream::socketErrorEndsSession(socket->error(), detail, m_loggedIn)) {
        triggerForcedLogout(QStringLiteral("您已被踢下线。"));
        return;
    }
    // A stream that had connected is read afresh when it connects again: one
    // reload per reconnect.
    if (!m_eventSocketOpenSince.isValid())
        reloadAfterFailedDial();
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
    stopEventKeepAlive();
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
    // A dial that never connected may end here without an error first.
    if (openFor < 0)
        reloadAfterFailedDial();
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
        // The greeting comes from every server that accepts the stream, also
        // from one that drops it a moment later: only a connection that stays
        // up resets the back-off (on its disconnection).
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

// A dial that fails learns from one reload per back-off period whether the
// session is still alive and the backend reachable.
void AppController::reloadAfterFailedDial()
{
    if (m_eventErrorReloadSince.isValid() && m_eventErrorReloadSince.elapsed() < m_eventErrorReloadWindowMs)
        return;
    m_eventErrorReloadSince.start();
    m_eventErrorReloadWindowMs = EventStream::reconnectDelay(m_eventReconnectBackoffMs);
    resyncWithBackend();
}

// --- keep-alive, network return and wake-up -------------------------------------------

void AppController::ensureEventKeepAliveTimers()
{
    if (m_eventPingTimer)
        return;
    m_eventPingTimer = new QTimer(this);
    connect(m_eventPingTimer, &QTimer::timeout, this, &AppController::pingEventStream);
    m_eventPongTimer = new QTimer(this);
    m_eventPongTimer->setSingleShot(true);
    connect(m_eventPongTimer, &QTimer::timeout, this, &AppController::onEventStreamSilent);
}

void AppController::stopEventKeepAlive()
{
    if (m_eventPingTimer)
        m_eventPingTimer->stop();
    if (m_eventPongTimer)
        m_eventPongTimer->stop();
}

void AppController::setEventKeepAliveForTesting(int pingIntervalMs, int answerWaitMs)
{
    m_eventPingIntervalMs = qMax(1, pingIntervalMs);
    m_eventPongWaitMs = qMax(1, answerWaitMs);
}

void AppController::pingEventStream()
{
    if (!m_eventSocket || m_eventSocket->state() != QAbstractSocket::ConnectedState) {
        stopEventKeepAlive();
        return;
    }
    if (m_eventPongTimer->isActive())
        return; // the previous ping is still waiting for its answer
    m_eventSocket->ping();
    m_eventPongTimer->start(m_eventPongWaitMs);
}

// A socket that no longer answers is half-open (a NAT that forgot it, a laptop
// that slept): it would stay "connected" and lose every event. It is dropped
// as if the server had closed it, so the usual reconnect follows.
void AppController::onEventStreamSilent()
{
    QWebSocket *socket = m_eventSocket;
    if (!socket)
        return;
    appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream keep-alive timed out.\n"));
    onEventSocketGone(socket, m_eventStreamToken);
    socket->abort();
}

void AppController::watchEventStreamWakeUps()
{
    if (m_eventWakeTimer)
        return;
    ensureEventKeepAliveTimers();
    // Sleep and resume: the monotonic clock stands still while the machine
    // sleeps, the wall clock does not; a heartbeat that finds them apart by
    // far more than its period has just woken up.
    m_eventWakeTimer = new QTimer(this);
    m_eventWakeTimer->setInterval(kEventWakeCheckMs);
    connect(m_eventWakeTimer, &QTimer::timeout, this, [this] {
        const qint64 wall = QDateTime::currentMSecsSinceEpoch();
        const qint64 monotonic = m_eventWakeClock.restart();
        const qint64 lastWall = std::exchange(m_eventWakeLastWallMs, wall);
        if (lastWall > 0 && (wall - lastWall) - monotonic > kEventWakeJumpMs)
            onNetworkReturned();
    });
    m_eventWakeClock.start();
    m_eventWakeLastWallMs = QDateTime::currentMSecsSinceEpoch();
    m_eventWakeTimer->start();

    whenNetworkReturns(&AppController::onNetworkReturned);
}

// The network came back or the system woke up: a pending reconnect dials at
// once instead of sitting out its back-off, and an open stream proves at once
// that it still lives.
void AppController::onNetworkReturned()
{
    if (!m_loggedIn || m_signingOut || m_authToken.trimmed().isEmpty())
        return;
    // A membership that ended while the machine slept is asked about now, not
    // when the timer (which slept too) catches up.
    if (m_membershipEndTimer && m_membershipEndDueMs > 0 && QDateTime::currentMSecsSinceEpoch() >= m_membershipEndDueMs)
        m_membershipEndTimer->start(0);
    if (m_eventSocket && m_eventSocket->state() == QAbstractSocket::ConnectedState) {
        pingEventStream();
        return;
    }
    if (m_eventReconnectTimer->isActive() || !m_eventSocket) {
        m_eventReconnectTimer->stop();
        appendDiagnosticLog(QStringLiteral("WebSocket desktop event stream redial: network is back.\n"));
        startEventStreamIfNeeded();
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
