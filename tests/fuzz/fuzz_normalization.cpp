// The client's normalization of a server document. Whenever the service's
// check accepts the input, it must accept the normalized output too (the
// normalizer takes away, and what it rewrites, a hijack-dns rule or a
// WireGuard endpoint, is allowed), and a document the check accepts is never
// refused by the normalizer.
#include "configguard.h"
#include "fuzzsupport.h"
#include "tunnel/confignormalization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QString problem;
    const QByteArray output = TunnelConfig::normalizeRemoteDesktopConfig(input, &problem);
    TunnelConfig::clashApiSettingsFromConfig(output);
    if (!QuilletService::checkEngineConfig(input.toStdString()).accepted)
        return 0;
    Fuzz::require(problem.isEmpty(), "the normalizer refuses what the service accepts:", problem.toUtf8());
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(output.toStdString());
    Fuzz::require(verdict.accepted, "the service refuses the normalized document:",
                  QByteArray::fromStdString(verdict.reason));
    return 0;
}
