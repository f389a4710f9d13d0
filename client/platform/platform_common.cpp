#include "platform.h"

#include <QDir>

namespace Platform {

QString sharedDataDirectory()
{
    const QString programData = QString::fromLocal8Bit(qgetenv("ProgramData")).trimmed();
    if (programData.isEmpty())
        return fallbackSharedDataDirectory();
    return QDir(programData).filePath(QStringLiteral("Quillet"));
}

} // namespace Platform
