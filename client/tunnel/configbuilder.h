#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

// The sing-box document the client builds itself for a node, from the node's
// outbound and the local settings, and the pieces it is made of.
namespace TunnelConfig {

// The tag every document gives the node's outbound; DNS detours and the final
// route point at it.
inline constexpr char kSelectedOutboundTag[] = "selected";

// "global" when the "routingMode" setting says so (trimmed, any case),
// otherwise "smart".
QString routingModeFromSettings(const QVariantMap &settings);

// {"type": "udp", "tag", "server": address, "server_port": 53}
QJsonObject makeUdpDnsServer(const QString &tag, const QString &address);

// A DNS-over-HTTPS server from a plain address (port 443, "/dns-query") or a
// URL with a scheme and a host (its port and path when it has them). A detour
// other than "direct" is written as "detour".
QJsonObject makeHttpsDnsServer(const QString &tag, const QString &addressOrUrl, const QString &detour);

// The smart mode's DNS rules: China names go to "cn-direct-dns".
QJsonArray desktopSmartDnsRules();

// The smart mode's two remote rule sets, "geosite-cn" and "geoip-cn".
QJsonArray desktopSmartRouteRuleSets();

// The whole local document for the node (only its "outbound" map is used).
QJsonObject buildDesktopConfig(const QVariantMap &node, const QVariantMap &settings, const QString &clashSecret);

// The backend path of the server's engine configuration for the platform and
// the routing mode of the settings.
QString singBoxConfigRequestPath(const QString &platform, const QVariantMap &settings);

} // namespace TunnelConfig
