#include "platform.h"
#include "fatalmessage_win.h"

#include <string>

namespace Platform {

QString platformLabel() { return QStringLiteral("Windows"); }

QString platformWord() { return QStringLiteral("windows"); }

QString fallbackSharedDataDirectory() { return QStringLiteral("C:/ProgramData/Quillet"); }

void makeUserFilePrivate(const QString &) { }

void releaseUnusedMemory() { }

void showFatalMessage(const QString &title, const QString &text)
{
    const std::wstring wideTitle = title.toStdWString();
    const std::wstring wideText = text.toStdWString();
    showWindowsFatalMessageBox(wideTitle.c_str(), wideText.c_str());
}

} // namespace Platform
