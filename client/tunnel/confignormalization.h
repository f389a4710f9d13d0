#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariantMap>

// Turns the server's general-purpose engine configuration into one the
// desktop tunnel and its service can run, and reads the engine's control API
// from a configuration. Pure functions.
namespace TunnelConfig {

// The server's document with what the desktop must not run removed: sniffing
// options on the tun inbound, DNS outbounds (a route rule that sent traffic
// to one now has the "hijack-dns" action), rules blocking browser QUIC, and
// fields through which the privileged service would touch files of the
// machine (log output, the debug listener, absolute or climbing cache paths,
// a UI folder that is not one plain name, the UI download; their keys in any
// case, as the engine reads them). A legacy WireGuard outbound becomes the
// equivalent endpoint, which every supported engine version runs. Malformed input,
// and input that needs no change, comes back byte for byte. A document with a
// key repeated in one object is refused: the result is empty and problem
// (when given) names it in English; otherwise problem is cleared.
QByteArray normalizeRemoteDesktopConfig(const QByteArray &config, QString *problem = nullptr);

// A route rule that drops UDP to port 443: "network" "udp", a "port" holding
// 443, and "outbound" "block" or "action" "block"/"reject".
bool isBrowserQuicBlockRule(const QJsonObject &rule);

// The number 443, or an array holding it at any depth.
bool jsonValueContainsPort(const QJsonValue &value);

// The rules with a browser-QUIC block rule, inserted after the last sniff or
// DNS rule when none is there yet.
QJsonArray ensureBrowserQuicBlockRule(const QJsonArray &rules);

// {"url": the control API's "/configs" URL, "secret"}, or an empty map when
// the configuration names no usable controller address.
QVariantMap clashApiSettingsFromConfig(const QByteArray &config);

// A path the engine, run by the service, must not be given: absolute ("/",
// "\" or a drive letter and ":" in front) or with a ".." component.
bool isUnsafeEnginePath(const QString &path);

} // namespace TunnelConfig
