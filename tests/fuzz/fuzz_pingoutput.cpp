// Reading ping's output. Input: host NUL output. A latency is always a real
// round trip (1 ms to a minute); and a host whose name could read as a time
// ("=" or "<" in it) never produces one when ping only repeats it.
#include "fuzzsupport.h"
#include "model/pingoutput.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = Fuzz::parts(data, size, 2);
    const std::string host = parts.at(0).toStdString();
    const std::string output = parts.at(1).toStdString();

    for (const std::string &text : {output, output + host, host + "\n" + output}) {
        const std::optional<int> latency = PingOutput::latencyMs(text, host);
        if (latency)
            Fuzz::require(*latency >= 1 && *latency <= PingOutput::kMaxLatencyMs, "a latency out of range");
    }
    if (host.find_first_of("=<") != std::string::npos) {
        const std::string echoed = "ping: " + host + ": Name or service not known\n"
            + "Ping request could not find host " + host + ". Please check the name and try again.\r\n";
        Fuzz::require(!PingOutput::latencyMs(echoed, host), "an echoed host name reads as a latency",
                      QByteArray::fromStdString(host));
    }
    return 0;
}
