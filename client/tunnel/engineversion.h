#pragma once

#include <QString>

class SingBoxProcessManager;

// The engine release in use, for the diagnostic log: the engine's own
// "version" answer, asked once per client start without blocking it.
namespace EngineVersion {

// The releases the service and the client are built and tested against.
bool isSupportedRelease(const QString &versionLine);

// The diagnostic line for an answer of "sing-box version" (its first line),
// or for a failure to get one (empty versionLine, problem set).
QString logLine(const QString &versionLine, const QString &problem, const QString &binary);

// Runs "<engine binary> version" in the background and appends one
// "sing-box version ..." line to the engine controller's diagnostic log.
void logOnce(SingBoxProcessManager *engine);

} // namespace EngineVersion
