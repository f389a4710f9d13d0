#pragma once

#include <QString>
#include <QStringList>

// The program that queries, starts and stops the tunnel service, and the
// arguments it takes. Windows: "sc.exe". Linux: quillet-servicectl beside the
// client (or on PATH), which answers the way sc.exe does. Both print the
// service state ("STATE : 4 RUNNING"), and error numbers such as 1056
// (already running) and 1060 (not installed) in their output.
//
// QUILLET_SERVICECTL, when set, names another program to run instead (tests
// use stand-ins that play each answer).
namespace Platform {

QString serviceControlProgram();

// verb ("query", "start" or "stop") followed by the service name "QuilletVpnService".
QStringList serviceControlArguments(const QString &verb);

// The system's own program when no override is set.
QString defaultServiceControlProgram();

} // namespace Platform
