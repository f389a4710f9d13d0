#include "platform.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace Platform {

QString platformLabel() { return QStringLiteral("Linux"); }

QString platformWord() { return QStringLiteral("linux"); }

QString fallbackSharedDataDirectory() { return QStringLiteral("/var/lib/quillet"); }

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
