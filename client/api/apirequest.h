#pragma once

#include <QString>

// Identity values and base-URL rules for backend requests.
namespace Api {

// Trimmed, "https://" added when no scheme is given, trailing "/" removed;
// empty when the result is not a URL with a scheme and a host.
QString normalizeApiBaseUrl(const QString &url);
// localhost, a loopback address or a private-network address: where http may go.
bool isLocalNetworkHost(const QString &host);

// The comparison key of a request path: before the first "?", trimmed, without
// leading or trailing "/".
QString normalizedApiRequestPath(const QString &path);

QString desktopPlatformLabel();
QString desktopConfigPlatform();
QString desktopAppVersion();
QString desktopApiUserAgent();
QString defaultDesktopDeviceName();

} // namespace Api
