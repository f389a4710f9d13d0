#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QVariant>

// The system curl program as a second transport over HTTP/1.1, for the failures
// that Qt's HTTP stack has with some proxies and middleboxes.
namespace Api {

// Whether a failed Qt exchange is worth repeating with curl: time-outs and
// transport-level breakage, never an HTTP error answer.
bool shouldRetryApiWithCurl(bool timedOut, QNetworkReply::NetworkError error, int status, const QString &errorText);

// A POST that makes something on the server (an order, a cancellation, a
// speed test, a chat message or upload, a trial, an account): sent twice, it
// could make it twice.
bool createsOnServer(const QString &method, const QString &path);

// An answer that ended before the length its head announced. Qt reports such
// an answer as complete when the connection closes as the head arrives.
// `contentLength` is the reply's Content-Length header (absent when none was
// sent or Qt decompressed the body).
bool answerCutShort(const QVariant &contentLength, qint64 received);

// Whether a failed request may go out again through curl: what
// shouldRetryApiWithCurl allows, except that a request that creates something
// goes again only when Qt failed before it left (TLS handshake, proxy), never
// after a time-out or a dropped connection, when the server may already have
// acted on it.
bool mayResendWithCurl(const QString &method, const QString &path, bool timedOut, QNetworkReply::NetworkError error,
                       int status, const QString &errorText);

struct CurlProcessResult
{
    QByteArray body;
    int status = 0;
    QString error; // empty when curl reported nothing wrong
};

// Splits curl's output at the last status marker written by the "-w" format.
CurlProcessResult parseCurlProcessResult(const QByteArray &standardOutput, const QString &standardError,
                                         int exitCode);

// Everything curl is told on its command line. None of it is secret: the
// command line of a process is readable by every local user.
struct CurlRequest
{
    QString method;
    QString url;
    QString acceptLanguage;
    QString contentType;
    QString platform;
    QString appVersion;
    QString userAgent;
};

// The curl config text that carries the credentials, to be read from a private
// file ("-K"). The token goes as "oauth2-bearer", which curl sends only to the
// host of the original URL when it follows a redirect. Empty without a token.
QByteArray curlCredentialConfig(const QString &token, const QString &deviceId);

// The arguments every curl run of the client starts with: HTTP/1.1, quiet
// but with errors, redirects followed, no proxy, the method.
QStringList curlCommonArguments(const QString &method);

// The argument list for one request; credentialConfigPath names the file
// holding curlCredentialConfig, or is empty when there is none.
QStringList curlArguments(const CurlRequest &request, const QString &credentialConfigPath);

} // namespace Api
