// The motion preference on Linux desktops: KDE's kdeglobals, else GNOME's
// setting through gsettings (run without waiting). Nothing is cloaked here:
// Qt's exposure of the window is the truth.
#include "platform/motion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace Platform {
namespace {

// gsettings answers in milliseconds; a hung D-Bus must not leave a process behind.
constexpr int kGsettingsTimeoutMs = 2000;

QString kdeglobalsPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(base).filePath(QStringLiteral("kdeglobals"));
}

MotionReading readKdeglobals()
{
    MotionReading reading;
    QFile file(kdeglobalsPath());
    if (!file.open(QIODevice::ReadOnly))
        return reading;
    reading.preference = parseKdeAnimationDurationFactor(file.read(256 * 1024).toStdString());
    if (reading.preference != MotionPreference::NoPreference)
        reading.source = "kdeglobals [KDE] AnimationDurationFactor";
    return reading;
}

bool kdeSession()
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    for (const QString &desktop : desktops) {
        if (desktop.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

void readMotionPreference(std::function<void(const MotionReading &)> done)
{
    if (!done)
        return;
    const MotionReading kde = readKdeglobals();
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (kdeSession() || gsettings.isEmpty()) {
        done(kde);
        return;
    }
    auto *process = new QProcess(QCoreApplication::instance());
    auto finished = std::make_shared<bool>(false);
    auto finish = [process, finished, kde, done](const std::string &answer) {
        if (*finished)
            return;
        *finished = true;
        MotionReading reading;
        reading.preference = parseGnomeEnableAnimations(answer);
        reading.source = "gsettings org.gnome.desktop.interface enable-animations";
        // GNOME says nothing: a KDE setting is the next best word.
        if (reading.preference == MotionPreference::NoPreference)
            reading = kde;
        process->deleteLater();
        done(reading);
    };
    QObject::connect(process, &QProcess::finished, process, [process, finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && code == 0 ? process->readAllStandardOutput().toStdString()
                                                            : std::string());
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(std::string());
    });
    QTimer::singleShot(kGsettingsTimeoutMs, process, [process] { process->kill(); });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                               QStringLiteral("enable-animations")});
}

bool windowCloaked(std::uintptr_t)
{
    return false;
}

std::uintptr_t watchWindowCloaking(std::function<void(std::uintptr_t, bool)>)
{
    return 0;
}

void stopWatchingWindowCloaking(std::uintptr_t) {}

} // namespace Platform
