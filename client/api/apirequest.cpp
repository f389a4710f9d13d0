#include "apirequest.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

namespace Api {

QString normalizeApiBaseUrl(const QString &url)
{
    QString value = url.trimmed();
    if (value.isEmpty())
        return QString();
    // The scheme compares without regard to case ("HTTPS://host" is https),
    // and only the two web schemes are spoken.
    static const QRegularExpression schemePattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch scheme = schemePattern.match(value);
    if (scheme.hasMatch()) {
        const QString word = scheme.captured(1).toLower();
        if (word != QLatin1String("http") && word != QLatin1String("https"))
            return QString();
        value.replace(0, scheme.capturedLength(1), word);
    } else {
        value.prepend(QLatin1String("https://"));
    }
    // Request paths are appended to the base: a query or fragment would swallow them.
    const qsizetype cut = value.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (cut >= 0)
        value.truncate(cut);
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    const QUrl parsed(value, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty() || parsed.host().isEmpty())
        return QString();
    // "https//host" became "https://https//host": a scheme word is no host.
    static const QStringList schemeWords {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp"),
        QStringLiteral("ws"), QStringLiteral("wss"), QStringLiteral("file")};
    if (schemeWords.contains(parsed.host().toLower()))
        return QString();
    // Passwords and the session token travel in clear over http: only to this
    // machine or the local network.
    if (parsed.scheme() == QLatin1String("http") && !isLocalNetworkHost(parsed.host()))
        return QString();
    return value;
}

bool isLocalNetworkHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    static const QList<QPair<QHostAddress, int>> privateNetworks {
        QHostAddress::parseSubnet(QStringLiteral("10.0.0.0/8")),
        QHostAddress::parseSubnet(QStringLiteral("172.16.0.0/12")),
        QHostAddress::parseSubnet(QStringLiteral("192.168.0.0/16")),
        QHostAddress::parseSubnet(QStringLiteral("169.254.0.0/16")),
        QHostAddress::parseSubnet(QStringLiteral("fc00::/7")),
        QHostAddress::parseSubnet(QStringLiteral("fe80::/10")),
    };
    for (const auto &network : privateNetworks) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}

QString normalizedApiRequestPath(const QString &path)
{
    QString key = path.section(QLatin1Char('?'), 0, 0).trimmed();
    while (key.startsWith(QLatin1Char('/')))
        key.remove(0, 1);
    while (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    return key;
}

QString desktopPlatformLabel()
{
    return Platform::platformLabel();
}

QString desktopConfigPlatform()
{
    return Platform::platformWord();
}

QString desktopAppVersion()
{
    const QString version = QCoreApplication::applicationVersion().trimmed();
    return version.isEmpty() ? QStringLiteral("0.9.0") : version;
}

QString desktopApiUserAgent()
{
    return QStringLiteral("Quillet Desktop/%1").arg(desktopAppVersion());
}

QString defaultDesktopDeviceName()
{
    const QString host = QSysInfo::machineHostName().trimmed();
    return host.isEmpty() ? QStringLiteral("Quillet Desktop") : host;
}

} // namespace Api
