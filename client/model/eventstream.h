#pragma once

#include <QAbstractSocket>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

// The desktop event stream's rules: what an event means, where the stream
// lives, and how long to wait before dialling it again.
namespace EventStream {

inline constexpr int kInitialBackoffMs = 1000;
inline constexpr int kMaxBackoffMs = 60000;
// A connection that stayed open this long counts as healthy: the next drop
// starts the back-off again from the beginning.
inline constexpr qint64 kStableConnectionMs = 30000;

enum class Action {
    None,
    ResetBackoff,
    ForcedLogout,
    ReloadBootstrap,
    RefreshSupport,
    RefreshMessages,
};

struct Event
{
    QString type; // lower case
    QString message; // trimmed
    Action action = Action::None;
};

// Reads one frame: a JSON object's "type" (else the given type) and
// "message"; anything else is an event of the given type without message.
Event parseEvent(const QString &givenType, const QString &payload);

// The action for a lower-case event type.
Action actionForType(const QString &type);

// The API base URL followed by "/api/v1/ws", with "http"/"https" turned into "ws"/"wss".
QUrl streamUrl(const QString &apiBaseUrl);

struct StreamIdentity
{
    QString apiBaseUrl;
    QString token;
    QString acceptLanguage;
    QString platform;
    QString deviceId;
    QString appVersion;
    QString userAgent;
};

// The handshake request of the stream: the URL and the identity headers.
QNetworkRequest streamRequest(const StreamIdentity &identity);

// The delay for the current back-off (clamped), and the back-off after it.
int reconnectDelay(int backoffMs);
int nextBackoff(int delayMs);

// The back-off to use after a drop: reset only when the connection was up
// long enough to count as healthy (connectedForMs < 0: it never connected).
int backoffAfterDisconnect(int backoffMs, qint64 connectedForMs);

// The HTTP status of a handshake the server refused, read from the socket's
// error text; 0 when the error is not the server's answer.
int handshakeStatus(const QString &errorString);

// Whether a failed stream means the session is over. Only the server's own
// answer can say so (its handshake status, by the forced-logout rules); a
// proxy that wants credentials or refuses, a dead network or a broken
// connection never ends a session.
bool socketErrorEndsSession(QAbstractSocket::SocketError error, const QString &errorString, bool signedIn);

// A ping goes out this often while the stream is open; no pong within the
// answer window counts the connection as dead.
inline constexpr int kKeepAliveIntervalMs = 30000;
inline constexpr int kKeepAliveAnswerMs = 10000;

// The wait before the next dial after a drop: a stream that was open for
// less than the stable time (or never opened) waits at least the current
// back-off, however soon it dropped.
int redialDelay(int backoffMs, qint64 connectedForMs);

} // namespace EventStream
