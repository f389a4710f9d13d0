#pragma once

#include <QString>
#include <QStringList>

namespace Platform {

struct PingCommand
{
    QString program;
    QStringList arguments;
};

// A host name or address that ping can only read as its target: not empty,
// no leading "-" (an option), and only letters, digits and ".-_:%[]" (no
// blanks, control characters or "=" that could fake ping's own output).
bool isPingableHost(const QString &host);

// One echo request to host, waiting at most timeoutMs for the reply. An empty
// program for a host that is not pingable: then nothing is run.
PingCommand pingCommand(const QString &host, int timeoutMs);

} // namespace Platform
