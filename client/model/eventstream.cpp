#include "eventstream.h"

#include "api/apierrors.h"
#include "api/backendcontract.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace EventStream {

Event parseEvent(const QString &givenType, const QString &payload)
{
    Event event;
    QString type = givenType.trimmed();
    const QByteArray trimmed = payload.trimmed().toUtf8();
    if (!trimmed.isEmpty()) {
        const QJsonDocument document = QJsonDocument::fromJson(trimmed);
        if (document.isObject()) {
            const QJsonObject object = document.object();
            if (object.contains(QLatin1String("type")))
                type = object.value(QLatin1String("type")).toVariant().toString().trimmed();
            event.message = object.value(QLatin1String("message")).toVariant().toString().trimmed();
        }
    }
    event.type = type.toLower();
    event.action = actionForType(event.type);
    return event;
}

Action actionForType(const QString &type)
{
    if (type == QLatin1String("connected"))
        return Action::ResetBackoff;
    static const char *const sessionEnds[] = {"session_revoked", "session_expired", "device_revoked", "forced_logout",
                                              "kicked_out"};
    for (const char *name : sessionEnds) {
        if (type == QLatin1String(name))
            return Action::ForcedLogout;
    }
    static const char *const reloads[] = {"payment_updated", "membership_updated", "order_updated",
                                          "bootstrap_updated", "device_updated"};
    for (const char *name : reloads) {
        if (type == QLatin1String(name))
            return Action::ReloadBootstrap;
    }
    if (type == QLatin1String("support_updated"))
        return Action::RefreshSupport;
    if (type == QLatin1String("message_updated"))
        return Action::RefreshMessages;
    return Action::None;
}

QUrl streamUrl(const QString &apiBaseUrl)
{
    QUrl url(apiBaseUrl.trimmed() + QLatin1String(Backend::Path::kEventStream));
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        url.setScheme(QStringLiteral("wss"));
    else if (scheme == QLatin1String("http"))
        url.setScheme(QStringLiteral("ws"));
    return url;
}

QNetworkRequest streamRequest(const StreamIdentity &identity)
{
    QNetworkRequest request(streamUrl(identity.apiBaseUrl));
    const QByteArray version = identity.appVersion.toUtf8();
    request.setHeader(QNetworkRequest::UserAgentHeader, identity.userAgent);
    request.setRawHeader("Authorization", QStringLiteral("Bearer %1").arg(identity.token).toUtf8());
    request.setRawHeader("Accept-Language", identity.acceptLanguage.toUtf8());
    request.setRawHeader("X-Tarn-Client-Platform", identity.platform.toUtf8());
    request.setRawHeader("X-Tarn-Device-ID", identity.deviceId.trimmed().toUtf8());
    request.setRawHeader("X-Tarn-App-Version", version);
    request.setRawHeader("X-Tarn-Build", version);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    return request;
}

int reconnectDelay(int backoffMs)
{
    return qBound(kInitialBackoffMs, backoffMs, kMaxBackoffMs);
}

int nextBackoff(int delayMs)
{
    return delayMs >= kMaxBackoffMs / 2 ? kMaxBackoffMs : qMin(2 * delayMs, kMaxBackoffMs);
}

int handshakeStatus(const QString &errorString)
{
    // Qt words a refused upgrade as "... Unhandled http status code: 401 (Unauthorized)."
    static const QRegularExpression pattern(QStringLiteral("status code:\\s*(\\d{3})"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(errorString);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

bool socketErrorEndsSession(QAbstractSocket::SocketError error, const QString &errorString, bool signedIn)
{
    switch (error) {
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return false;
    default:
        break;
    }
    const int status = handshakeStatus(errorString);
    // 407 is a proxy's word, never the server's.
    if (status == 0 || status == 407)
        return false;
    const qsizetype open = errorString.indexOf(QLatin1Char('('));
    const qsizetype close = errorString.lastIndexOf(QLatin1Char(')'));
    const QString reason = open >= 0 && close > open ? errorString.mid(open + 1, close - open - 1) : QString();
    return Api::shouldForceLogout(status, reason, true, signedIn);
}

int redialDelay(int backoffMs, qint64 connectedForMs)
{
    return reconnectDelay(backoffAfterDisconnect(backoffMs, connectedForMs));
}

int backoffAfterDisconnect(int backoffMs, qint64 connectedForMs)
{
    return connectedForMs >= kStableConnectionMs ? kInitialBackoffMs : backoffMs;
}

} // namespace EventStream
