#include "servicecontrol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Platform {

QString defaultServiceControlProgram()
{
    // Installed together with the client; a packaged client may find it on PATH instead.
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quillet-servicectl"));
    const QFileInfo info(beside);
    if (info.isFile() && info.isExecutable())
        return beside;
    return QStringLiteral("quillet-servicectl");
}

} // namespace Platform
