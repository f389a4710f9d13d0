// Live traffic while connected: the runtime speed probe (64 KiB down, then
// 64 KiB up through the tunnel every few seconds), the session counters, their
// publication into the dashboard map, the session commit into today's totals,
// and the server-side speed test.
#include "appcontroller.h"

#include "api/backendcontract.h"
#include "model/catalogdefaults.h"
#include "model/trafficstats.h"
#include "tunnel/singboxprocessmanager.h"
#include "tunnel/trafficsnapshot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTime>
#include <QTimer>

#include <memory>

namespace {

constexpr int kSpeedProbeTimeoutMs = 2500;
const char kProbeTimedOut[] = "probeTimedOut";

int currentLocalHour()
{
    return QTime::currentTime().hour();
}

struct ProbeReply
{
    qint64 elapsedMs = 0;
    bool failed = false; // timed out, a network error or an HTTP status of 400 or more
    QByteArray body;
};

// Stops the reply's time-out, schedules its deletion and reads what the probe judges.
ProbeReply takeProbeReply(QNetworkReply *reply)
{
    for (QTimer *timer : reply->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        timer->stop();
    reply->deleteLater();
    ProbeReply taken;
    taken.elapsedMs = reply->property("probeElapsedMs").toLongLong();
    taken.failed = reply->property(kProbeTimedOut).toBool() || reply->error() != QNetworkReply::NoError
        || reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
    // An aborted reply is closed; reading it would only warn.
    if (reply->isOpen())
        taken.body = reply->readAll();
    return taken;
}

} // namespace

// --- the probe ------------------------------------------------------------------------

QNetworkRequest AppController::buildSpeedProbeRequest(const QString &path, const QString &contentType,
                                                      const QByteArray &accept) const
{
    QNetworkRequest request = buildApiRequest(path, contentType, false, accept);
    if (!m_authToken.isEmpty())
        request.setRawHeader("Authorization", QStringLiteral("Bearer %1").arg(m_authToken).toUtf8());
    return request;
}

void AppController::armSpeedProbeTimeout(QNetworkReply *reply)
{
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(kSpeedProbeTimeoutMs);
    connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kProbeTimedOut, true);
        if (reply->isRunning())
            reply->abort();
    });
    timer->start();
}

void AppController::startRuntimeSpeedProbe()
{
    if (m_speedProbeInFlight || m_vpnPhase != QLatin1String("connected") || !m_loggedIn || m_authToken.isEmpty())
        return;
    m_speedProbeInFlight = true;
    const quint64 generation = ++m_speedProbeGeneration;

    const QNetworkRequest request = buildSpeedProbeRequest(
        QString::fromLatin1(Backend::Path::kSpeedProbeDownload) + QStringLiteral("?size=%1").arg(TrafficStats::kProbeBytes),
        QStringLiteral("application/octet-stream"), QByteArrayLiteral("application/octet-stream"));
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QNetworkReply *reply = m_network->get(request);
    armSpeedProbeTimeout(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation, clock] {
        reply->setProperty("probeElapsedMs", clock->elapsed());
        finishSpeedProbeDownload(reply, generation);
    });
}

void AppController::finishSpeedProbeDownload(QNetworkReply *reply, quint64 generation)
{
    const ProbeReply taken = takeProbeReply(reply);
    if (generation != m_speedProbeGeneration)
        return;
    const bool connectedNow = m_vpnPhase == QLatin1String("connected");
    if (!connectedNow || taken.failed || taken.body.isEmpty()) {
        m_speedProbeInFlight = false;
        if (connectedNow) {
            m_uploadRate = 0;
            m_downloadRate = 0;
            publishRuntimeTrafficStats(true);
        }
        return;
    }

    const qint64 downloadBytes = taken.body.size();
    const qint64 downloadRateSample = TrafficStats::rateFromTransfer(downloadBytes, taken.elapsedMs);

    const QNetworkRequest request = buildSpeedProbeRequest(QString::fromLatin1(Backend::Path::kSpeedProbeUpload),
                                                           QStringLiteral("application/octet-stream"),
                                                           QByteArrayLiteral("application/json"));
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QNetworkReply *upload = m_network->post(request, TrafficStats::probeUploadPayload());
    armSpeedProbeTimeout(upload);
    connect(upload, &QNetworkReply::finished, this, [this, upload, generation, clock, downloadBytes, downloadRateSample] {
        upload->setProperty("probeElapsedMs", clock->elapsed());
        finishSpeedProbeUpload(upload, generation, downloadBytes, downloadRateSample);
    });
}

void AppController::finishSpeedProbeUpload(QNetworkReply *reply, quint64 generation, qint64 downloadBytes,
                                           qint64 downloadRateSample)
{
    const ProbeReply taken = takeProbeReply(reply);
    if (generation != m_speedProbeGeneration)
        return;
    m_speedProbeInFlight = false;
    if (m_vpnPhase != QLatin1String("connected"))
        return;

    const bool succeeded = !taken.failed;
    if (succeeded) {
        m_uploadRate = TrafficStats::rateFromTransfer(TrafficStats::kProbeBytes, taken.elapsedMs);
        m_sessionUploadBytes += TrafficStats::kProbeBytes;
    } else {
        m_uploadRate = 0;
    }
    m_downloadRate = downloadRateSample;
    m_sessionDownloadBytes += downloadBytes;
    publishRuntimeTrafficStats(true);
}

void AppController::applyRuntimeSpeedProbeSample(qint64 uploadRate, qint64 downloadRate, qint64 uploadBytes,
                                                 qint64 downloadBytes)
{
    if (m_vpnPhase != QLatin1String("connected"))
        return;
    m_uploadRate = qMax<qint64>(0, uploadRate);
    m_downloadRate = qMax<qint64>(0, downloadRate);
    m_sessionUploadBytes += qMax<qint64>(0, uploadBytes);
    m_sessionDownloadBytes += qMax<qint64>(0, downloadBytes);
    publishRuntimeTrafficStats(true);
}

// --- publication, reset and commit ---------------------------------------------------

void AppController::refreshRuntimeTrafficStats()
{
    startRuntimeSpeedProbe();
    publishRuntimeTrafficStats(false);
}

void AppController::publishRuntimeTrafficStats(bool appendHistory)
{
    const qint64 sessionBytes = m_sessionUploadBytes + m_sessionDownloadBytes;
    const QVariantList hourly = TrafficStats::hourlyWithAdded(m_todayUsageHourlyBytes, currentLocalHour(), sessionBytes);
    if (appendHistory) {
        m_uploadHistory = TrafficStats::historyWithSample(m_uploadHistory, m_uploadRate);
        m_downloadHistory = TrafficStats::historyWithSample(m_downloadHistory, m_downloadRate);
    }

    int sessions = m_todaySessions;
    int online = m_todayOnlineSeconds;
    QString uptime = TrafficStats::uptimeText(0);
    if (m_connectedAt.isValid()) {
        const qint64 seconds = qMax<qint64>(0, m_connectedAt.secsTo(QDateTime::currentDateTimeUtc()));
        online += int(seconds);
        sessions += 1;
        uptime = TrafficStats::uptimeText(seconds);
    }
    const qint64 today = m_todayUsageBytes + sessionBytes;

    m_dashboard.insert(QStringLiteral("todayUsage"), TrafficStats::formatTransferredBytes(today));
    m_dashboard.insert(QStringLiteral("todayUsageBytes"), today);
    m_dashboard.insert(QStringLiteral("todayUsageHourlyBytes"), hourly);
    m_dashboard.insert(QStringLiteral("todaySessions"), sessions);
    m_dashboard.insert(QStringLiteral("todayOnlineSeconds"), online);
    m_dashboard.insert(QStringLiteral("upload"), TrafficStats::formatTransferredRate(m_uploadRate));
    m_dashboard.insert(QStringLiteral("download"), TrafficStats::formatTransferredRate(m_downloadRate));
    m_dashboard.insert(QStringLiteral("uploadHistory"), m_uploadHistory);
    m_dashboard.insert(QStringLiteral("downloadHistory"), m_downloadHistory);
    m_dashboard.insert(QStringLiteral("uptime"), uptime);
    Q_EMIT dashboardChanged();
}

void AppController::resetRuntimeTrafficStats(bool commitSession)
{
    resetRuntimeTrafficState(commitSession);
    Q_EMIT dashboardChanged();
}

void AppController::resetRuntimeTrafficState(bool commitSession)
{
    if (m_trafficTimer->isActive())
        m_trafficTimer->stop();
    if (commitSession) {
        if (m_sessionUploadBytes >= 1 || m_sessionDownloadBytes >= 1) {
            const qint64 sessionBytes = m_sessionUploadBytes + m_sessionDownloadBytes;
            m_todayUsageBytes += sessionBytes;
            m_todayUsageHourlyBytes = TrafficStats::hourlyWithAdded(m_todayUsageHourlyBytes, currentLocalHour(),
                                                                     sessionBytes);
        }
        if (m_connectedAt.isValid()) {
            m_todaySessions += 1;
            m_todayOnlineSeconds += int(qMax<qint64>(0, m_connectedAt.secsTo(QDateTime::currentDateTimeUtc())));
        }
    }

    ++m_speedProbeGeneration;
    m_uploadRate = 0;
    m_downloadRate = 0;
    m_sessionUploadBytes = 0;
    m_sessionDownloadBytes = 0;
    m_speedProbeInFlight = false;
    m_connectedAt = QDateTime();
    m_uploadHistory = CatalogDefaults::emptyTrafficHistory();
    m_downloadHistory = CatalogDefaults::emptyTrafficHistory();

    for (const QString &path : TrafficSnapshot::desktopTrafficSnapshotPaths())
        QFile::remove(path);

    m_dashboard.insert(QStringLiteral("todayUsage"), TrafficStats::formatTransferredBytes(m_todayUsageBytes));
    m_dashboard.insert(QStringLiteral("todayUsageBytes"), m_todayUsageBytes);
    m_dashboard.insert(QStringLiteral("todayUsageHourlyBytes"), m_todayUsageHourlyBytes);
    m_dashboard.insert(QStringLiteral("todaySessions"), m_todaySessions);
    m_dashboard.insert(QStringLiteral("todayOnlineSeconds"), m_todayOnlineSeconds);
    m_dashboard.insert(QStringLiteral("upload"), TrafficStats::formatTransferredRate(0));
    m_dashboard.insert(QStringLiteral("download"), TrafficStats::formatTransferredRate(0));
    m_dashboard.insert(QStringLiteral("uploadHistory"), m_uploadHistory);
    m_dashboard.insert(QStringLiteral("downloadHistory"), m_downloadHistory);
    m_dashboard.insert(QStringLiteral("uptime"), TrafficStats::uptimeText(0));
}

void AppController::clearTodayTrafficBase()
{
    m_todayUsageBytes = 0;
    m_todaySessions = 0;
    m_todayOnlineSeconds = 0;
    m_todayUsageHourlyBytes = m_dashboard.value(QStringLiteral("todayUsageHourlyBytes")).toList();
    resetRuntimeTrafficStats(false);
}

void AppController::onTrafficTimer()
{
    if (m_vpnPhase != QLatin1String("connected")) {
        m_trafficTimer->stop();
        return;
    }
    // An engine that has ended on its own must not leave the tunnel shown as
    // protected: the query reports the change, which ends the connected phase
    // (and the session, committed) before the probe would start.
    m_engine->running();
    if (m_vpnPhase == QLatin1String("connected"))
        refreshRuntimeTrafficStats();
}

// --- the speed test ----------------------------------------------------------------

void AppController::runSpeedTest()
{
    if (m_busy)
        return;
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再测速。"));
        return;
    }
    if (m_vpnPhase != QLatin1String("connected")) {
        updateApiError(QStringLiteral("请先开启 VPN 后再测速"));
        return;
    }
    setBusy(true);
    setStatusText(QStringLiteral("测速中..."));
    const QVariantMap body{{QStringLiteral("node_id"), m_selectedNodeId}};
    requestJsonAsync(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kSpeedTest), body, true,
        [this](const QVariantMap &response, bool success) {
            if (!success || response.isEmpty()) {
                setStatusText(QStringLiteral("测速失败"));
                Q_EMIT speedTestFinished(false);
                setBusy(false);
                return;
            }
            refreshSpeedExperienceAsync([this](bool ok) {
                setStatusText(ok ? QStringLiteral("测速完成") : QStringLiteral("测速结果已更新"));
                Q_EMIT speedTestFinished(ok);
                setBusy(false);
            });
        },
        true);
}

void AppController::refreshSpeedExperienceAsync(std::function<void(bool ok)> completion)
{
    if (!m_loggedIn || m_authToken.isEmpty()) {
        if (completion)
            completion(false);
        return;
    }
    requestJsonAsync(
        QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kSpeed), QVariantMap(), true,
        [this, completion](const QVariantMap &response, bool success) {
            const bool ok = success && !response.isEmpty();
            if (ok) {
                m_experience.insert(QStringLiteral("speed"), response);
                Q_EMIT experienceChanged();
            }
            if (completion)
                completion(ok);
        },
        true);
}

QVariantList AppController::hourlyUsageBars(const QVariantList &hourly) const
{
    return TrafficStats::hourlyUsageBars(hourly);
}
