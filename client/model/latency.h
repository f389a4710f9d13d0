#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// Reading latencies from ping output and finding where a node can be reached.
namespace Latency {

struct Endpoint
{
    QString host;
    quint16 port = 0; // 0: none
    bool isValid() const { return !host.isEmpty(); }
};

// Round-trip milliseconds from ping output (Windows in any language, or iputils),
// rounded, at least 1.
std::optional<int> parsePingLatencyMs(const QString &output);
// The same from the bytes as the program wrote them, in whatever code page its console uses;
// the pinged host's name, which ping repeats, is not read as a time.
std::optional<int> parsePingLatencyMs(const QByteArray &rawOutput, const QString &host = QString());

// Host and port from "host", "host:port", "[v6]:port", a bare IPv6 address or a URL.
Endpoint parseSocketEndpoint(const QString &text, quint16 defaultPort);

// The TCP endpoint of a node record; invalid when it has no host, or no port and no TLS.
Endpoint tcpEndpointForNode(const QVariantMap &node);

// The datagram endpoint of a node record (for QUIC- and WireGuard-like protocols).
Endpoint datagramEndpointForNode(const QVariantMap &node);

// Whether a node is probed with a datagram rather than a TCP connect.
bool usesDatagramProbe(const QVariantMap &node);

// The probe timeouts from "tcp_ping_timeout_ms": 900..5000 for pings, 300..5000 for the race.
int pingTimeoutMs(const QVariantMap &connectivity);
int raceTimeoutMs(const QVariantMap &connectivity);

} // namespace Latency
