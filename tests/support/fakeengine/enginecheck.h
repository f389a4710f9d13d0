#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// The stand-in engine's "check": decodes a configuration the way sing-box
// does for the fields our client uses (unknown fields and wrong types are
// errors, inbound/outbound/endpoint/DNS server types must exist, tags must be
// unique), as the chosen minor release does it: what 1.13 adds is an unknown
// field to 1.12; a deprecation is fatal one minor before its removal unless
// its ENABLE_DEPRECATED_* variable reads as true; what 1.13 removed fails. It
// also builds what "check" builds: local rule-set files and ECH
// configurations are read (relative paths from the working directory).
struct EngineCheckResult
{
    bool ok = false;
    QString error; // the FATAL message without its "FATAL[0000] " prefix
    // Lines the engine logs before it goes on or gives up: level (3 warn,
    // 4 error) and message.
    QList<QPair<int, QString>> notes;
    // The failure came from building the box: "run" reports it under "create service: ".
    bool createStage = false;
    QJsonObject document;
};

// The engine release the stand-in plays: 12 or 13 (the minor of 1.x).
int engineMinorVersion();
// "1.12.24" or "1.13.2".
QString engineVersionText();
// False when QUILLET_FAKE_ENGINE_VERSION names a release the stand-in cannot play.
bool engineVersionKnown();

EngineCheckResult checkEngineConfig(const QByteArray &bytes, const QString &fileName);
