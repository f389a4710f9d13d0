#include "platform.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

QString platformLabel() { return QStringLiteral("Linux"); }

QString platformWord() { return QStringLiteral("linux"); }

QString fallbackSharedDataDirectory() { return QStringLiteral("/var/lib/quillet"); }

void makeUserFilePrivate(const QString &path)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    ::chmod(folder.constData(), 0700);
    // Created private when missing; an existing file (a link is not followed) is tightened.
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

void showFatalMessage(const QString &title, const QString &text)
{
    // Without a usable display a message box would never be seen (or could not be created).
    const bool haveDisplay = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        && !QGuiApplication::platformName().isEmpty()
        && QGuiApplication::platformName() != QLatin1String("offscreen")
        && QGuiApplication::platformName() != QLatin1String("minimal");
    if (haveDisplay) {
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
        box.exec();
        return;
    }
    std::fprintf(stderr, "%s\n%s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace Platform
