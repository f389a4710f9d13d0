#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

// The application shell's process-wide log state and helpers.
namespace Startup {

// Set once in main before the message handler is installed.
extern QString g_logDirectory;
extern QString g_startupLogPath;

// The first writable "logs" folder of: the executable's folder, the per-user
// application-local data folder, the shared data folder. When none can be
// written, "logs" under the executable's folder (neither created nor tested).
QString desktopLogDirectory();

// Appends "<local ISO time with ms> <line>" to g_startupLogPath; drops the line
// silently when the file cannot be opened.
void appendStartupLog(const QString &line);

// "[LEVEL] message (file:line)".
QString formatStartupLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message);

void startupMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Swallows every quit request that reaches the application object: only the
// tray's exit entry ends the process.
class QuitEventFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace Startup
