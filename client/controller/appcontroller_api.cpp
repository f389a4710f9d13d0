#include "appcontroller.h"

#include <QNetworkRequest>
#include <QTimer>

// Placeholder transport: every call fails on the next turn of the event loop.
// Replaced by the real transport.
void AppController::requestJsonAsync(const QString &, const QString &, const QVariantMap &, bool,
                                     JsonCompletion completion, bool)
{
    QTimer::singleShot(0, this, [completion] {
        if (completion)
            completion(QVariantMap(), false);
    });
}
void AppController::postJsonAsync(const QString &, const QVariantMap &, bool, PostCompletion) {}
QVariantMap AppController::requestJson(const QString &, const QString &, const QVariantMap &, bool) { return {}; }
QVariantMap AppController::requestJsonDocument(const QString &, const QString &, const QByteArray &, const QString &,
                                               bool)
{
    return {};
}
void AppController::requestRawAsync(const QString &, const QString &, const QByteArray &, const QString &, bool,
                                    RawCompletion completion, bool)
{
    QTimer::singleShot(0, this, [completion] {
        if (completion)
            completion(QByteArray(), false);
    });
}
QByteArray AppController::requestRaw(const QString &, const QString &, const QByteArray &, const QString &, bool, bool)
{
    return {};
}
QNetworkRequest AppController::buildApiRequest(const QString &, const QString &, bool) const { return {}; }
QByteArray AppController::decryptApiPayloadIfNeeded(const QByteArray &body, bool, QString *) const { return body; }
void AppController::beginNetworkLoading(const QString &) {}
void AppController::endNetworkLoading() {}
void AppController::clearNetworkLoading() {}
bool AppController::beginRefreshGate(const QString &) { return true; }
void AppController::endRefreshGate(const QString &) {}
bool AppController::shouldForceLogout(int, const QString &, bool) const { return false; }
void AppController::setApiBaseUrl(const QString &) {}
void AppController::onApiReplyFinished(QNetworkReply *, const QString &, const QString &, const QByteArray &,
                                       const QString &, bool, RawCompletion, bool)
{
}
QByteArray AppController::requestRawWithCurl(const QString &, const QString &, const QByteArray &, const QString &,
                                             bool, int *, QString *)
{
    return {};
}
void AppController::logApiTransport(const QString &, const QString &, const QString &, int, const QString &) {}
void AppController::requestJsonAttempt(const QString &, const QString &, const QByteArray &, bool, bool,
                                       JsonCompletion, bool, int)
{
}
