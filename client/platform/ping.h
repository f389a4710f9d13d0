#pragma once

#include <QString>
#include <QStringList>

namespace Platform {

struct PingCommand
{
    QString program;
    QStringList arguments;
};

// One echo request to host, waiting at most timeoutMs for the reply.
PingCommand pingCommand(const QString &host, int timeoutMs);

} // namespace Platform
