#include "startup.h"

#include "tunnel/diagnosticlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>

namespace Startup {

QString g_logDirectory;
QString g_startupLogPath;

QString desktopLogDirectory()
{
    const QString override = DiagnosticLog::logDirectoryOverride();
    if (!override.isEmpty())
        return override;
    const QString found = DiagnosticLog::firstWritableLogsFolder(DiagnosticLog::logDirectoryCandidates());
    if (!found.isEmpty())
        return found;
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("logs"));
}

void appendStartupLog(const QString &line)
{
    if (g_startupLogPath.isEmpty())
        return;
    QFile file(g_startupLogPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    const QString stamped = QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + line
        + QLatin1Char('\n');
    file.write(stamped.toUtf8());
}

namespace {

// Whatever Qt or a library prints, a URL's query and fragment stay out of the
// log: a checkout page's key pays or cancels its order, a query may hold a
// token or a code.
QString withoutUrlQueries(const QString &message)
{
    static const QRegularExpression url(
        QStringLiteral("(\\b[A-Za-z][A-Za-z0-9+.-]*://[^\\s?#\"'<>]*)[?#][^\\s\"'<>]*"));
    if (!message.contains(QLatin1String("://")))
        return message;
    QString cleaned = message;
    cleaned.replace(url, QStringLiteral("\\1"));
    return cleaned;
}

} // namespace

QString formatStartupLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QString level;
    switch (type) {
    case QtDebugMsg:
        level = QStringLiteral("DEBUG");
        break;
    case QtInfoMsg:
        level = QStringLiteral("INFO");
        break;
    case QtWarningMsg:
        level = QStringLiteral("WARN");
        break;
    case QtCriticalMsg:
        level = QStringLiteral("ERROR");
        break;
    case QtFatalMsg:
        level = QStringLiteral("FATAL");
        break;
    }
    QString line = QStringLiteral("[%1] %2").arg(level, withoutUrlQueries(message));
    if (context.file && *context.file)
        line += QStringLiteral(" (%1:%2)").arg(QString::fromUtf8(context.file)).arg(context.line);
    return line;
}

void startupMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    appendStartupLog(formatStartupLogLine(type, context, message));
    if (type == QtFatalMsg)
        std::abort();
}

bool QuitEventFilter::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    return event && event->type() == QEvent::Quit;
}

} // namespace Startup
