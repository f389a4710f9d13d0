#pragma once

#include <QString>

// The client's diagnostic log "desktop-controller.log" and the directory it lives in.
namespace DiagnosticLog {

// Creates the directory (with parents) and proves it writable with a probe file.
bool ensureWritableDesktopDir(const QString &path);

// The base folders tried for the "logs" folder, in order: the executable's
// folder, the per-user application-local data folder (when there is one), the
// shared data folder.
QStringList logDirectoryCandidates();

// The first candidate whose "logs" subfolder passes ensureWritableDesktopDir, or empty.
QString firstWritableLogsFolder(const QStringList &bases);

// The folder named by the environment variable "QUILLET_LOG_DIR" (trimmed),
// or empty when it is unset. When set it replaces the search below, so that a
// test run never writes into the folder beside the programs.
QString logDirectoryOverride();

// The first writable "logs" folder of: the executable's folder, the per-user
// application-local data folder, the shared data folder. Empty when none is writable.
QString desktopLogDir();

// "desktop-controller.log" inside desktopLogDir(), or empty.
QString desktopDiagnosticLogPath();

// Files above this size are cut to their last kTrimKeepBytes before the next line.
constexpr qint64 kTrimThresholdBytes = 786432;
constexpr qint64 kTrimKeepBytes = 393216;

// Appends "[time] message" (with a final newline) to the file, trimming it first when too large.
void appendLine(const QString &filePath, const QString &message);

} // namespace DiagnosticLog
