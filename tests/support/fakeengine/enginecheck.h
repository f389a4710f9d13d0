#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The stand-in engine's "check": decodes a configuration the way sing-box 1.12
// does for the fields our client uses (unknown fields and wrong types are
// errors, inbound/outbound/DNS server types must exist, tags must be unique,
// the removed "dns" outbound is fatal) and reports the first problem in the
// engine's words.
struct EngineCheckResult
{
    bool ok = false;
    QString error; // the FATAL message without its "FATAL[0000] " prefix
    QJsonObject document;
};

EngineCheckResult checkEngineConfig(const QByteArray &bytes, const QString &fileName);
