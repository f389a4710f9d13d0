#include "servicecontrol.h"

#include "tunnel/enginecontract.h"

namespace Platform {

QString serviceControlProgram()
{
    const QString overridden = qEnvironmentVariable("QUILLET_SERVICECTL").trimmed();
    return overridden.isEmpty() ? defaultServiceControlProgram() : overridden;
}

QStringList serviceControlArguments(const QString &verb)
{
    return {verb, QString::fromLatin1(Engine::kServiceName)};
}

} // namespace Platform
