#include "platform.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

void releaseUnusedMemory()
{
#if defined(__GLIBC__)
    // glibc keeps freed blocks for reuse; the trim returns whole free pages of every arena.
    malloc_trim(0);
#endif
#if defined(__linux__)
    // FreeType maps each font file read-only and private; the glyphs of a page
    // full of CJK text touch megabytes of it. Such pages hold no changes of
    // ours, so dropping them loses nothing: the next read faults them back in
    // from the file cache.
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return;
    static const QList<QByteArray> fontSuffixes{".ttf", ".ttc", ".otf", ".otc", ".pfb"};
    const QList<QByteArray> lines = maps.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "r--p")
            continue;
        const QByteArray path = fields.at(5).toLower();
        if (!std::any_of(fontSuffixes.cbegin(), fontSuffixes.cend(),
                         [&path](const QByteArray &suffix) { return path.endsWith(suffix); }))
            continue;
        const QList<QByteArray> range = fields.at(0).split('-');
        bool startOk = false;
        bool endOk = false;
        const quintptr start = range.value(0).toULongLong(&startOk, 16);
        const quintptr end = range.value(1).toULongLong(&endOk, 16);
        if (startOk && endOk && end > start)
            ::madvise(reinterpret_cast<void *>(start), end - start, MADV_DONTNEED);
    }
#endif
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
