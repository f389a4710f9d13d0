#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

namespace Platform {
namespace {

QString autostartEntryPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The variable must hold an absolute path to count.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(base).filePath(QStringLiteral("autostart/quillet-desktop.desktop"));
}

// One argument of an Exec line: quoted when it holds a reserved character,
// with ", `, $ and \ escaped inside the quotes; % doubled as field codes want.
QString quotedExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString out;
    for (const QChar c : argument) {
        if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                                 || c == QLatin1Char('\\')))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    if (needsQuotes)
        out = QLatin1Char('"') + out + QLatin1Char('"');
    // A desktop file's string value escapes its backslashes once more.
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return out;
}

} // namespace

bool enableLaunchAtLogin(const std::string &programUtf8)
{
    const QString program = QString::fromStdString(programUtf8);
    if (program.isEmpty() || !QDir::isAbsolutePath(program) || program.contains(QLatin1Char('\n'))
        || program.contains(QLatin1Char('\r')))
        return false;
    const QString path = autostartEntryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString exec = quotedExecArgument(program) + QLatin1Char(' ') + QLatin1String(launchAtLoginArgument());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=岚舟\n" // i18n-exempt: program name
                                         "Name[en]=Quillet\n"
                                         "Exec=%1\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(exec);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    return file.commit();
}

bool disableLaunchAtLogin()
{
    const QString path = autostartEntryPath();
    return !QFile::exists(path) || QFile::remove(path);
}

std::string launchAtLoginCommand()
{
    QFile file(autostartEntryPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("Exec="))
            return line.mid(5).trimmed().toStdString();
    }
    return std::string();
}

} // namespace Platform
