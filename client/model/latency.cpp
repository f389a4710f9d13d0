#include "latency.h"

#include "maphelpers.h"
#include "pingoutput.h"

#include <QUrl>

namespace Latency {

namespace {

quint16 validPort(const QVariant &value)
{
    bool ok = false;
    const int port = value.toString().trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : 0;
}

int timeoutSetting(const QVariantMap &connectivity)
{
    return connectivity.value(QStringLiteral("tcp_ping_timeout_ms"), 1800).toInt();
}

} // namespace

std::optional<int> parsePingLatencyMs(const QString &output)
{
    return PingOutput::latencyMs(output.toStdString());
}

std::optional<int> parsePingLatencyMs(const QByteArray &rawOutput, const QString &host)
{
    return PingOutput::latencyMs(rawOutput.toStdString(), host.toStdString());
}

static Endpoint splitSocketEndpoint(const QString &text, quint16 defaultPort)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.contains(QLatin1String("://"))) {
        const QUrl url(trimmed);
        if (!url.isValid())
            return {};
        const int port = url.port(defaultPort);
        return {url.host(), port > 0 && port <= 65535 ? quint16(port) : defaultPort};
    }
    if (trimmed.startsWith(QLatin1Char('['))) {
        const int close = trimmed.indexOf(QLatin1Char(']'));
        if (close < 0)
            return {trimmed.mid(1), defaultPort};
        Endpoint endpoint{trimmed.mid(1, close - 1).trimmed(), defaultPort};
        const QString rest = trimmed.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':'))) {
            const quint16 port = validPort(rest.mid(1));
            if (port)
                endpoint.port = port;
        }
        return endpoint;
    }
    if (trimmed.count(QLatin1Char(':')) == 1) {
        const int colon = trimmed.indexOf(QLatin1Char(':'));
        const quint16 port = validPort(trimmed.mid(colon + 1));
        return {trimmed.left(colon).trimmed(), port ? port : defaultPort};
    }
    return {trimmed, defaultPort};
}

Endpoint parseSocketEndpoint(const QString &text, quint16 defaultPort)
{
    Endpoint endpoint = splitSocketEndpoint(text, defaultPort);
    // A blank inside a name makes no host; "example.com :443" is cut around it above.
    for (const QChar c : std::as_const(endpoint.host)) {
        if (c.isSpace())
            return {};
    }
    if (endpoint.host.isEmpty())
        return {};
    return endpoint;
}

Endpoint tcpEndpointForNode(const QVariantMap &node)
{
    const QVariantMap outbound = node.value(QStringLiteral("outbound")).toMap();
    const bool tls = outbound.value(QStringLiteral("tls")).toMap().value(QStringLiteral("enabled")).toBool();
    quint16 port = 0;
    for (const QVariant &candidate : {outbound.value(QStringLiteral("server_port")), outbound.value(QStringLiteral("port")),
                                      node.value(QStringLiteral("server_port")), node.value(QStringLiteral("port"))}) {
        port = validPort(candidate);
        if (port)
            break;
    }
    QString host = MapHelpers::firstNonBlankValue(outbound, {QStringLiteral("server"), QStringLiteral("address")});
    if (host.isEmpty())
        host = MapHelpers::firstNonBlankValue(node, {QStringLiteral("server"), QStringLiteral("address"), QStringLiteral("host")});
    Endpoint endpoint = parseSocketEndpoint(host, port);
    if (!endpoint.isValid())
        return {};
    if (endpoint.port == 0) {
        if (!tls)
            return {};
        endpoint.port = 443;
    }
    return endpoint;
}

Endpoint datagramEndpointForNode(const QVariantMap &node)
{
    const QVariantMap outbound = node.value(QStringLiteral("outbound")).toMap();
    QString host = MapHelpers::firstNonBlankValue(outbound, {QStringLiteral("server"), QStringLiteral("address")});
    if (host.isEmpty())
        host = MapHelpers::firstNonBlankValue(node, {QStringLiteral("server"), QStringLiteral("address"), QStringLiteral("host")});
    quint16 port = validPort(outbound.value(QStringLiteral("server_port")));
    if (!port)
        port = validPort(outbound.value(QStringLiteral("port")));
    return parseSocketEndpoint(host, port);
}

bool usesDatagramProbe(const QVariantMap &node)
{
    const QString type = node.value(QStringLiteral("outbound")).toMap().value(QStringLiteral("type")).toString().trimmed().toLower();
    return type == QLatin1String("wireguard") || type == QLatin1String("hysteria2") || type == QLatin1String("hysteria")
        || type == QLatin1String("tuic");
}

int pingTimeoutMs(const QVariantMap &connectivity)
{
    return qBound(900, timeoutSetting(connectivity), 5000);
}

int raceTimeoutMs(const QVariantMap &connectivity)
{
    return qBound(300, timeoutSetting(connectivity), 5000);
}

} // namespace Latency
