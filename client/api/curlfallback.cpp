#include "curlfallback.h"

#include "api/apirequest.h"

#include "backendcontract.h"

namespace Api {

namespace {

const char kStatusMarker[] = "\n__CURL_STATUS__:";

// A value for a double-quoted curl config parameter. Control characters are
// dropped: a line break would end the option and start a new one (or a new
// header) in the file.
QByteArray quotedConfigValue(const QString &value)
{
    QByteArray quoted("\"");
    for (const char ch : value.toUtf8()) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7f)
            continue;
        if (ch == '\\' || ch == '"')
            quoted.append('\\');
        quoted.append(ch);
    }
    quoted.append('"');
    return quoted;
}

} // namespace

bool shouldRetryApiWithCurl(bool timedOut, QNetworkReply::NetworkError error, int status, const QString &errorText)
{
    if (status > Backend::kSuccessStatusLimit)
        return false;
    if (timedOut)
        return true;

    const QString lower = errorText.trimmed().toLower();
    static const char *const transportHints[] = {
        "ssl",
        "tls",
        "header compression",
        "http/2",
        "protocol",
        "remote host closed",
        "connection closed",
        "maintain the header compression context",
    };
    for (const char *hint : transportHints) {
        if (lower.contains(QLatin1String(hint)))
            return true;
    }

    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

bool createsOnServer(const QString &method, const QString &path)
{
    if (method.compare(QLatin1String("POST"), Qt::CaseInsensitive) != 0)
        return false;
    static const QStringList creating {
        normalizedApiRequestPath(QLatin1String(Backend::Path::kPaymentsCheckout)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kPaymentsConfirm)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kOrdersCancel)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kSpeedTest)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kSupportChat)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kSupportMedia)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kTrialClaim)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kRegister)),
        normalizedApiRequestPath(QLatin1String(Backend::Path::kDiagnosticLogs)),
    };
    return creating.contains(normalizedApiRequestPath(path));
}

bool answerCutShort(const QVariant &contentLength, qint64 received)
{
    bool ok = false;
    const qint64 announced = contentLength.toLongLong(&ok);
    return contentLength.isValid() && ok && announced > received;
}

bool mayResendWithCurl(const QString &method, const QString &path, bool timedOut, QNetworkReply::NetworkError error,
                       int status, const QString &errorText)
{
    if (!shouldRetryApiWithCurl(timedOut, error, status, errorText))
        return false;
    if (!createsOnServer(method, path))
        return true;
    if (timedOut || status != 0)
        return false;
    switch (error) {
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return true;
    default:
        return false;
    }
}

CurlProcessResult parseCurlProcessResult(const QByteArray &standardOutput, const QString &standardError,
                                         int exitCode)
{
    CurlProcessResult result;
    const QString errorOutput = standardError.trimmed();
    const QByteArray marker(kStatusMarker);

    const qsizetype markerAt = standardOutput.lastIndexOf(marker);
    if (markerAt < 0) {
        result.error = errorOutput.isEmpty() ? QStringLiteral("curl 返回结果异常") : errorOutput;
    } else {
        result.body = standardOutput.left(markerAt);
        bool ok = false;
        const int status = standardOutput.mid(markerAt + marker.size()).trimmed().toInt(&ok, 10);
        result.status = ok ? status : 0;
    }

    if (exitCode != 0)
        result.error = errorOutput.isEmpty() ? QStringLiteral("curl 退出码 %1").arg(exitCode) : errorOutput;
    return result;
}

QByteArray curlCredentialConfig(const QString &token, const QString &deviceId)
{
    if (token.isEmpty())
        return QByteArray();
    QByteArray config;
    config.append("oauth2-bearer = ").append(quotedConfigValue(token)).append('\n');
    config.append("header = ").append(quotedConfigValue(QStringLiteral("X-Tarn-Encrypted: 1"))).append('\n');
    const QString device = deviceId.trimmed();
    if (!device.isEmpty()) {
        config.append("header = ")
            .append(quotedConfigValue(QStringLiteral("X-Tarn-Device-ID: %1").arg(device)))
            .append('\n');
    }
    return config;
}

QStringList curlCommonArguments(const QString &method)
{
    return QStringList{QStringLiteral("--http1.1"), QStringLiteral("-sS"), QStringLiteral("-L"),
                       QStringLiteral("--noproxy"), QStringLiteral("*"),   QStringLiteral("-X"), method};
}

QStringList curlArguments(const CurlRequest &request, const QString &credentialConfigPath)
{
    QStringList arguments = curlCommonArguments(request.method);
    arguments << QStringList{
        QStringLiteral("-H"),
        QStringLiteral("Accept: application/json"),
        QStringLiteral("-H"),
        QStringLiteral("Accept-Language: %1").arg(request.acceptLanguage),
        QStringLiteral("-H"),
        QStringLiteral("Content-Type: %1").arg(request.contentType),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-Client-Platform: %1").arg(request.platform),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-App-Version: %1").arg(request.appVersion),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-Build: %1").arg(request.appVersion),
        QStringLiteral("-A"),
        request.userAgent,
        QStringLiteral("--connect-timeout"),
        QStringLiteral("10"),
        QStringLiteral("--max-time"),
        QStringLiteral("20"),
        QStringLiteral("-w"),
        QStringLiteral("\\n__CURL_STATUS__:%{http_code}"),
        request.url,
    };
    if (!credentialConfigPath.isEmpty())
        arguments << QStringLiteral("-K") << credentialConfigPath;
    if (request.method == QLatin1String("POST"))
        arguments << QStringLiteral("--data-binary") << QStringLiteral("@-");
    return arguments;
}

} // namespace Api
