#include "servicecontrol.h"

#include <QString>

namespace Platform {

QString defaultServiceControlProgram()
{
    return QStringLiteral("sc.exe");
}

} // namespace Platform
