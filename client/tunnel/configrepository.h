#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>

// Builds the local engine configuration, normalizes the server's, and writes
// the one the engine is to run. Stateless: every method is const.
class ConfigRepository : public QObject
{
    Q_OBJECT
public:
    explicit ConfigRepository(QObject *parent = nullptr);

    // The local document for the node as indented JSON.
    QString buildConfigPreview(const QVariantMap &node, const QVariantMap &settings, const QString &clashSecret) const;
    // The server's document after normalization, as text.
    QString buildRemoteConfigPreview(const QByteArray &serverConfig) const;

    // Both write the active configuration and return its path, or an empty
    // text when it could not be written completely.
    QString writeActiveConfig(const QVariantMap &node, const QVariantMap &settings, const QString &clashSecret) const;
    // A server document that cannot be normalized is not written: then problem
    // (when given) says why, in English.
    QString writeRemoteConfig(const QByteArray &serverConfig, QString *problem = nullptr) const;
};

namespace TunnelConfig {

// "configs/active.json" in the shared data directory, with native separators.
QString activeConfigPath();

// Replaces the active configuration with the bytes, all or nothing; the
// file's path, or an empty text on any failure (the old file then stays).
QString writeConfigBytes(const QByteArray &bytes);

} // namespace TunnelConfig
