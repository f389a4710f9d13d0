#include "apirequest.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QUrl>

namespace Api {

QString normalizeApiBaseUrl(const QString &url)
{
    QString value = url.trimmed();
    if (value.isEmpty())
        return QString();
    if (!value.startsWith(QLatin1String("http://")) && !value.startsWith(QLatin1String("https://")))
        value.prepend(QLatin1String("https://"));
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    const QUrl parsed(value, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty() || parsed.host().isEmpty())
        return QString();
    // A valid URL is kept as prepared, so the client can be pointed at any host.
    return value;
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
