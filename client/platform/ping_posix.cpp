#include "ping.h"

#include <QStandardPaths>

namespace Platform {

PingCommand pingCommand(const QString &host, int timeoutMs)
{
    if (!isPingableHost(host))
        return {};
    QString program = QStandardPaths::findExecutable(QStringLiteral("ping"));
    if (program.isEmpty())
        program = QStringLiteral("ping");
    // iputils waits in whole seconds; the caller's watchdog keeps the millisecond bound.
    const int waitSeconds = qMax(1, (qMax(500, timeoutMs) + 999) / 1000);
    return {program, {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
                      QString::number(waitSeconds), QStringLiteral("--"), host}};
}

} // namespace Platform
