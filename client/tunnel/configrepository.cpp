#include "configrepository.h"

#include "platform/platform.h"
#include "tunnel/configbuilder.h"
#include "tunnel/confignormalization.h"
#include "tunnel/enginecontract.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

ConfigRepository::ConfigRepository(QObject *parent)
    : QObject(parent)
{
}

QString ConfigRepository::buildConfigPreview(const QVariantMap &node, const QVariantMap &settings,
                                             const QString &clashSecret) const
{
    const QJsonDocument document(TunnelConfig::buildDesktopConfig(node, settings, clashSecret));
    return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

QString ConfigRepository::buildRemoteConfigPreview(const QByteArray &serverConfig) const
{
    return QString::fromUtf8(TunnelConfig::normalizeRemoteDesktopConfig(serverConfig));
}

QString ConfigRepository::writeActiveConfig(const QVariantMap &node, const QVariantMap &settings,
                                            const QString &clashSecret) const
{
    return TunnelConfig::writeConfigBytes(buildConfigPreview(node, settings, clashSecret).toUtf8());
}

QString ConfigRepository::writeRemoteConfig(const QByteArray &serverConfig, QString *problem) const
{
    QString why;
    const QByteArray normalized = TunnelConfig::normalizeRemoteDesktopConfig(serverConfig, &why);
    if (problem)
        *problem = why;
    return why.isEmpty() ? TunnelConfig::writeConfigBytes(normalized) : QString();
}

namespace TunnelConfig {

namespace {

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile::commit() still renames after a buffered flush came up short,
    // so the flush is checked here.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString activeConfigPath()
{
    return QDir::toNativeSeparators(
        QDir(Platform::sharedDataDirectory()).filePath(QLatin1String(Engine::kActiveConfigRelativePath)));
}

QString writeConfigBytes(const QByteArray &bytes)
{
    const QString path = activeConfigPath();
    return writeFileAtomically(QDir::fromNativeSeparators(path), bytes) ? path : QString();
}

} // namespace TunnelConfig
