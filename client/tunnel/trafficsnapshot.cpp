#include "trafficsnapshot.h"

#include "confignormalization.h"
#include "controlapi.h"
#include "platform/ifcounters.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <optional>

bool RuntimeTrafficSnapshot::isFresh(qint64 nowSeconds) const
{
    return timestamp > 0 && nowSeconds - timestamp <= 5;
}

bool RuntimeTrafficSnapshot::trafficSeen(qint64 nowSeconds) const
{
    return isFresh(nowSeconds)
        && (trafficAvailable || uplink > 0 || downlink > 0 || uplinkTotal > 0 || downlinkTotal > 0);
}

namespace TrafficSnapshot {

namespace {

qint64 roundedCount(double value)
{
    if (!std::isfinite(value) || value <= 0)
        return 0;
    if (value >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    return qint64(std::llround(value));
}

QJsonObject parsedObject(const QByteArray &text)
{
    if (text.isEmpty() || text == "null")
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object();
}

QByteArray withoutDataPrefix(const QByteArray &text)
{
    QByteArray out = text.trimmed();
    if (out.startsWith("data:"))
        out = out.mid(5).trimmed();
    return out;
}

// The previous interface sample: process-wide, touched from the GUI thread only.
std::optional<InterfaceSample> g_previousInterfaceSample;

} // namespace

QStringList desktopTrafficSnapshotPaths()
{
    const QDir home = QDir::home();
    const QDir temp(QDir::tempPath());
    return {
        home.filePath(QStringLiteral("Library/Containers/com.ostrel.quillet.vpn.macos.direct.tunnel/Data/tmp/qn-vpn/"
                                     "quillet-vpn-traffic.json")),
        home.filePath(QStringLiteral(
            "Library/Containers/com.ostrel.quillet.vpn.macos.direct.tunnel/Data/tmp/quillet-vpn-traffic.json")),
        home.filePath(
            QStringLiteral("Library/Group Containers/group.com.ostrel.quillet.vpn/traffic/quillet-vpn-traffic.json")),
        temp.filePath(QStringLiteral("qn-vpn/quillet-vpn-traffic.json")),
        temp.filePath(QStringLiteral("quillet-vpn-traffic.json")),
    };
}

RuntimeTrafficSnapshot readRuntimeTrafficSnapshot()
{
    for (const QString &path : desktopTrafficSnapshotPaths()) {
        QFile file(path);
        if (!file.exists() || !file.open(QIODevice::ReadOnly))
            continue;
        // A snapshot is a few hundred bytes; anything huge is not one.
        const QJsonDocument document = QJsonDocument::fromJson(file.read(1 << 20));
        if (!document.isObject())
            continue;
        const QJsonObject object = document.object();
        auto count = [&object](const char *key) {
            return object.value(QLatin1String(key)).toVariant().toLongLong();
        };
        RuntimeTrafficSnapshot snapshot;
        snapshot.found = true;
        snapshot.trafficAvailable = object.value(QStringLiteral("trafficAvailable")).toBool();
        snapshot.statusClientConnected = object.value(QStringLiteral("statusClientConnected")).toBool();
        snapshot.uplink = count("uplink");
        snapshot.downlink = count("downlink");
        snapshot.uplinkTotal = count("uplinkTotal");
        snapshot.downlinkTotal = count("downlinkTotal");
        snapshot.timestamp = count("timestamp");
        return snapshot;
    }
    return {};
}

QJsonObject firstTrafficJsonObject(const QByteArray &buffer)
{
    const QJsonObject whole = parsedObject(withoutDataPrefix(buffer));
    if (!whole.isEmpty())
        return whole;
    const QList<QByteArray> lines = buffer.split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject object = parsedObject(withoutDataPrefix(line));
        if (!object.isEmpty())
            return object;
    }
    return {};
}

qint64 jsonByteCountValue(const QJsonObject &object, const QStringList &keys)
{
    for (const QString &key : keys) {
        const QJsonValue value = object.value(key);
        if (value.isDouble())
            return roundedCount(value.toDouble());
        if (value.isString()) {
            bool ok = false;
            const qint64 parsed = value.toString().trimmed().toLongLong(&ok, 10);
            if (ok)
                return qMax<qint64>(0, parsed);
        }
    }
    return 0;
}

RuntimeTrafficSnapshot readClashTrafficSnapshot(const QByteArray &engineConfig, int timeoutMs)
{
    const QVariantMap api = TunnelConfig::clashApiSettingsFromConfig(engineConfig);
    QUrl url = ControlApi::rootUrl(api);
    if (!url.isValid())
        return {};
    url.setPath(url.path() + QStringLiteral("/traffic"));

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json, text/event-stream");
    const QString secret = api.value(QStringLiteral("secret")).toString();
    if (!secret.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + secret.toUtf8());

    QByteArray buffer;
    QNetworkReply *reply = network.get(request);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        buffer += reply->readAll();
        if (isTrafficReading(firstTrafficJsonObject(buffer)))
            loop.quit();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
        buffer += reply->readAll();
        loop.quit();
    });
    timer.start(timeoutMs);
    // Other events run meanwhile; callers re-check their workflow afterwards.
    if (!reply->isFinished())
        loop.exec();
    reply->disconnect(&loop);
    if (reply->isRunning())
        reply->abort();
    delete reply;

    const QJsonObject object = firstTrafficJsonObject(buffer);
    if (!isTrafficReading(object))
        return {};
    RuntimeTrafficSnapshot snapshot;
    snapshot.found = true;
    snapshot.trafficAvailable = true;
    snapshot.statusClientConnected = true;
    snapshot.uplink = jsonByteCountValue(object, {QStringLiteral("up"), QStringLiteral("uplink"), QStringLiteral("upload")});
    snapshot.downlink
        = jsonByteCountValue(object, {QStringLiteral("down"), QStringLiteral("downlink"), QStringLiteral("download")});
    snapshot.timestamp = QDateTime::currentSecsSinceEpoch();
    return snapshot;
}

bool isTrafficReading(const QJsonObject &object)
{
    return object.value(QStringLiteral("up")).isDouble() && object.value(QStringLiteral("down")).isDouble();
}

void interfaceRates(const InterfaceSample *previous, const InterfaceSample &now, qint64 *downlink, qint64 *uplink)
{
    *downlink = 0;
    *uplink = 0;
    if (!previous)
        return;
    const qint64 elapsed = now.timestampMs - previous->timestampMs;
    if (elapsed <= 0 || elapsed > 5000)
        return;
    const double seconds = double(elapsed) / 1000.0;
    if (now.inOctets >= previous->inOctets)
        *downlink = roundedCount(double(now.inOctets - previous->inOctets) / seconds);
    if (now.outOctets >= previous->outOctets)
        *uplink = roundedCount(double(now.outOctets - previous->outOctets) / seconds);
}

RuntimeTrafficSnapshot readWindowsInterfaceTrafficSnapshot()
{
    const Platform::InterfaceOctets octets = Platform::readInterfaceOctets();
    if (!octets.found)
        return {};
    InterfaceSample sample;
    sample.timestampMs = QDateTime::currentMSecsSinceEpoch();
    sample.inOctets = octets.inOctets;
    sample.outOctets = octets.outOctets;

    RuntimeTrafficSnapshot snapshot;
    interfaceRates(g_previousInterfaceSample ? &*g_previousInterfaceSample : nullptr, sample, &snapshot.downlink,
        &snapshot.uplink);
    g_previousInterfaceSample = sample;
    snapshot.found = true;
    snapshot.trafficAvailable = true;
    snapshot.statusClientConnected = true;
    snapshot.timestamp = sample.timestampMs / 1000;
    return snapshot;
}

} // namespace TrafficSnapshot
