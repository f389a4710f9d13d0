#include "curlupload.h"

#include "curlfallback.h"

#include <QDir>
#include <QTemporaryFile>

namespace Api {

QString curlFormFileValue(const QString &filePath)
{
    QString quoted;
    quoted.reserve(filePath.size() + 2);
    for (const QChar ch : filePath) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            quoted.append(QLatin1Char('\\'));
        quoted.append(ch);
    }
    return QStringLiteral("file=@\"%1\"").arg(quoted);
}

QStringList curlUploadArguments(const CurlUploadRequest &request, const QString &credentialConfigPath)
{
    QStringList arguments = curlCommonArguments(QStringLiteral("POST"));
    arguments << QStringList{
        QStringLiteral("-H"),
        QStringLiteral("Accept: application/json"),
        QStringLiteral("-H"),
        QStringLiteral("Accept-Language: %1").arg(request.acceptLanguage),
        QStringLiteral("-A"),
        request.userAgent,
        QStringLiteral("--connect-timeout"),
        QStringLiteral("10"),
        QStringLiteral("--max-time"),
        QStringLiteral("60"),
        QStringLiteral("-F"),
        curlFormFileValue(request.filePath),
        QStringLiteral("-w"),
        QStringLiteral("\\n__CURL_STATUS__:%{http_code}"),
        request.url,
    };
    if (!credentialConfigPath.isEmpty())
        arguments << QStringLiteral("-K") << credentialConfigPath;
    return arguments;
}

QString writePrivateCurlConfig(QTemporaryFile &file, const QByteArray &config, QString *error)
{
    const bool written = file.open() && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                         && file.write(config) == config.size() && file.flush();
    if (!written) {
        *error = file.errorString();
        file.remove();
        return QString();
    }
    file.close();
    return QDir::toNativeSeparators(file.fileName());
}

} // namespace Api
