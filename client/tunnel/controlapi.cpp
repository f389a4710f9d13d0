#include "controlapi.h"

#include "confignormalization.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace ControlApi {

QUrl rootUrl(const QVariantMap &api)
{
    QUrl url(api.value(QStringLiteral("url")).toString());
    if (!url.isValid() || url.host().isEmpty())
        return {};
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.endsWith(QLatin1String("/configs")))
        path.chop(8);
    url.setPath(path);
    return url;
}

bool available(const QByteArray &engineConfig)
{
    return rootUrl(TunnelConfig::clashApiSettingsFromConfig(engineConfig)).isValid();
}

Answer call(const QByteArray &engineConfig, const QByteArray &method, const QString &path, const QByteArray &body,
    bool withAuthorization, int timeoutMs)
{
    Answer answer;
    const QVariantMap api = TunnelConfig::clashApiSettingsFromConfig(engineConfig);
    QUrl url = rootUrl(api);
    if (!url.isValid()) {
        answer.error = QStringLiteral("clash API endpoint missing");
        return answer;
    }
    url.setPath(url.path() + path);

    QNetworkAccessManager network;
    // The engine listens on loopback; its own proxy must never carry this.
    network.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    if (!body.isEmpty())
        request.setRawHeader("Content-Type", "application/json");
    const QString secret = api.value(QStringLiteral("secret")).toString();
    if (withAuthorization && !secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + secret.toUtf8());

    QNetworkReply *reply = method == "GET" ? network.get(request) : network.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (reply->isFinished()) {
        answer.finished = true;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.error = reply->error() == QNetworkReply::NoError ? QStringLiteral("none") : reply->errorString();
        answer.body = reply->readAll();
    } else {
        reply->disconnect(&loop);
        reply->abort();
        answer.error = QStringLiteral("timeout");
    }
    delete reply;
    return answer;
}

bool answers(const QByteArray &engineConfig, int timeoutMs)
{
    return call(engineConfig, "GET", QStringLiteral("/version"), QByteArray(), true, timeoutMs).ok();
}

QString currentMode(const QByteArray &engineConfig, int timeoutMs)
{
    const Answer answer = call(engineConfig, "GET", QStringLiteral("/configs"), QByteArray(), true, timeoutMs);
    if (!answer.ok())
        return QString();
    return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("mode")).toString();
}

} // namespace ControlApi
