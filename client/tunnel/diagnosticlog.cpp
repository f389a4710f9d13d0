#include "diagnosticlog.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace DiagnosticLog {

bool ensureWritableDesktopDir(const QString &path)
{
    const QString dir = path.trimmed();
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return false;
    QFile probe(QDir(dir).filePath(QStringLiteral(".write-test")));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    probe.write("ok");
    probe.close();
    probe.remove();
    return true;
}

QStringList logDirectoryCandidates()
{
    QStringList bases{QCoreApplication::applicationDirPath()};
    const QString appLocal = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!appLocal.isEmpty())
        bases << appLocal;
    bases << Platform::sharedDataDirectory();
    return bases;
}

QString firstWritableLogsFolder(const QStringList &bases)
{
    for (const QString &base : bases) {
        const QString logs = QDir(base).absoluteFilePath(QStringLiteral("logs")).trimmed();
        if (ensureWritableDesktopDir(logs))
            return logs;
    }
    return QString();
}

QString logDirectoryOverride()
{
    const QString dir = QString::fromLocal8Bit(qgetenv("QUILLET_LOG_DIR")).trimmed();
    return dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

QString desktopLogDir()
{
    const QString override = logDirectoryOverride();
    if (!override.isEmpty())
        return ensureWritableDesktopDir(override) ? override : QString();
    const QStringList bases = logDirectoryCandidates();
    const QString found = firstWritableLogsFolder(bases);
    if (!found.isEmpty())
        return found;
    const QString last = QDir(bases.last()).absoluteFilePath(QStringLiteral("logs"));
    return ensureWritableDesktopDir(last) ? last : QString();
}

QString desktopDiagnosticLogPath()
{
    const QString dir = desktopLogDir();
    return dir.isEmpty() ? QString() : QDir(dir).filePath(QStringLiteral("desktop-controller.log"));
}

void appendLine(const QString &filePath, const QString &message)
{
    if (filePath.isEmpty())
        return;
    const QFileInfo info(filePath);
    if (info.exists() && info.size() > kTrimThresholdBytes) {
        QFile file(filePath);
        if (file.open(QIODevice::ReadOnly)) {
            file.seek(file.size() - kTrimKeepBytes);
            const QByteArray tail = file.readAll();
            file.close();
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(tail);
        }
    }
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray line = QStringLiteral("[%1] %2")
                          .arg(QDateTime::currentDateTime().toString(Qt::ISODate), message)
                          .toUtf8();
    if (!line.endsWith('\n'))
        line.append('\n');
    file.write(line);
}

} // namespace DiagnosticLog
