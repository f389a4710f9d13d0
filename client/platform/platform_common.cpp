#include "platform.h"
#include "ping.h"

#include <QDir>

namespace Platform {

QString sharedDataDirectory()
{
    const QString programData = QString::fromLocal8Bit(qgetenv("ProgramData")).trimmed();
    if (programData.isEmpty())
        return fallbackSharedDataDirectory();
    return QDir(programData).filePath(QStringLiteral("Quillet"));
}

bool isPingableHost(const QString &host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(QLatin1Char('-')))
        return false;
    for (const QChar c : host) {
        if (c.isLetterOrNumber() && !c.isSpace())
            continue;
        if (!QStringLiteral(".-_:%[]").contains(c))
            return false;
    }
    return true;
}

} // namespace Platform
