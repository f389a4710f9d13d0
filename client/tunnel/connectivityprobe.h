#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Fetches check URLs through the system route (the tunnel, once it is up):
// first with Qt's HTTP stack, then with the system curl. Both block in nested
// event loops; other events run meanwhile.
namespace ConnectivityProbe {

using Log = std::function<void(const QString &line)>;

// Qt first; below the threshold, curl. True when enough targets answered 2xx/3xx.
bool probeConnectivity(const QStringList &targets, int required, int percent, int timeoutMs, const Log &log);

bool probeConnectivityWithSystemCurl(const QStringList &targets, int required, int timeoutMs, const Log &log);

// "NUL" on Windows, "/dev/null" elsewhere.
QString nullDevice();

} // namespace ConnectivityProbe
