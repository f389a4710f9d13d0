#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariantMap>

// Blocking calls to the running engine's control API, as named by an engine
// configuration. Each runs in a nested event loop bounded by its time-out;
// other events run meanwhile, so callers re-check their state afterwards.
namespace ControlApi {

struct Answer
{
    bool finished = false;
    int status = 0;
    QString error; // "none", the network error text, or "timeout"
    QByteArray body;
    bool ok() const { return finished && status >= 200 && status <= 299 && error == QLatin1String("none"); }
};

// The control API's root URL from the settings of clashApiSettingsFromConfig,
// or an invalid URL when there is no usable address.
QUrl rootUrl(const QVariantMap &api);

// Whether the configuration names a usable control API address.
bool available(const QByteArray &engineConfig);

// method on the path below the control API root ("/configs", "/version").
Answer call(const QByteArray &engineConfig, const QByteArray &method, const QString &path, const QByteArray &body,
    bool withAuthorization, int timeoutMs);

// GET "/version" answered 2xx.
bool answers(const QByteArray &engineConfig, int timeoutMs);

// The engine's current "mode" from GET "/configs", or an empty text.
QString currentMode(const QByteArray &engineConfig, int timeoutMs);

} // namespace ControlApi
