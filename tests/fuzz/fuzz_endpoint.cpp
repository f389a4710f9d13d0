// Splitting a node's address into host and port, and the host check in front
// of ping. A host never holds a blank or is empty when valid; the port is the
// one given when it is valid, else the default; a pingable host has no blank,
// no "=", and does not start with "-".
#include "fuzzsupport.h"
#include "model/latency.h"
#include "platform/ping.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const Latency::Endpoint endpoint = Latency::parseSocketEndpoint(text, 443);
    if (endpoint.isValid()) {
        for (const QChar c : endpoint.host)
            Fuzz::require(!c.isSpace(), "a blank in the host", endpoint.host.toUtf8());
        Fuzz::require(endpoint.port >= 1, "a valid endpoint without a port");
    }
    if (Platform::isPingableHost(text)) {
        Fuzz::require(!text.startsWith(QLatin1Char('-')) && !text.contains(QLatin1Char('='))
                          && !text.contains(QLatin1Char('<')),
                      "a host ping could misread", text.toUtf8());
        for (const QChar c : text)
            Fuzz::require(!c.isSpace(), "a blank in a pingable host", text.toUtf8());
    }
    return 0;
}
