#include "ping.h"

#include <QStandardPaths>

namespace Platform {

PingCommand pingCommand(const QString &host, int timeoutMs)
{
    // ping.exe knows no "--": a host that could read as an option never gets here.
    if (!isPingableHost(host))
        return {};
    QString program = QStandardPaths::findExecutable(QStringLiteral("ping.exe"));
    if (program.isEmpty())
        program = QStringLiteral("ping.exe");
    return {program,
            {QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-w"), QString::number(qMax(500, timeoutMs)), host}};
}

} // namespace Platform
