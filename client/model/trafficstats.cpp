#include "trafficstats.h"

#include <QVariantMap>
#include <QtGlobal>

#include <cmath>

namespace TrafficStats {

QString formatTransferredBytes(qint64 bytes)
{
    const double gigabytes = double(qMax<qint64>(0, bytes)) / (1024.0 * 1024.0 * 1024.0);
    return QString::number(gigabytes, 'f', 2) + QStringLiteral(" GB");
}

QString formatTransferredRate(qint64 bytesPerSecond)
{
    const qint64 rate = qMax<qint64>(0, bytesPerSecond);
    if (rate <= 1023)
        return QStringLiteral("%1 B/s").arg(rate);
    if (rate <= 1048575)
        return QString::number(double(rate) / 1024.0, 'f', 2) + QStringLiteral(" KB/s");
    return QString::number(double(rate) / 1024.0 / 1024.0, 'f', 2) + QStringLiteral(" MB/s");
}

QString uptimeText(qint64 seconds)
{
    const qint64 s = qMax<qint64>(0, seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QVariantList paddedHourly(const QVariantList &hourly)
{
    QVariantList padded = hourly;
    while (padded.size() < kHoursPerDay)
        padded.append(0);
    return padded;
}

QVariantList hourlyWithAdded(const QVariantList &hourly, int hour, qint64 bytes)
{
    QVariantList padded = paddedHourly(hourly);
    if (hour >= 0 && hour < padded.size())
        padded[hour] = padded.at(hour).toLongLong() + bytes;
    return padded;
}

QVariantList hourlyUsageBars(const QVariantList &hourly)
{
    qint64 bytes[kHoursPerDay] = {};
    qint64 peak = 0;
    for (int hour = 0; hour < kHoursPerDay && hour < hourly.size(); ++hour) {
        bool ok = false;
        const double value = hourly.at(hour).toDouble(&ok);
        bytes[hour] = ok && value > 0 && value < 9.0e18 ? qint64(value) : 0;
        peak = qMax(peak, bytes[hour]);
    }
    QVariantList bars;
    bars.reserve(kHoursPerDay);
    for (int hour = 0; hour < kHoursPerDay; ++hour)
        bars.append(QVariantMap{{QStringLiteral("hour"), hour},
                                {QStringLiteral("bytes"), bytes[hour]},
                                {QStringLiteral("share"), peak > 0 ? double(bytes[hour]) / double(peak) : 0.0}});
    return bars;
}

QVariantList historyWithSample(const QVariantList &history, qint64 sample)
{
    QVariantList next = history;
    while (next.size() < kHistoryLength)
        next.prepend(0);
    while (next.size() >= kHistoryLength)
        next.removeFirst();
    next.append(sample);
    return next;
}

qint64 rateFromTransfer(qint64 bytes, qint64 elapsedMs)
{
    const double rate = double(bytes) * 1000.0 / double(qMax<qint64>(1, elapsedMs));
    return qMax<qint64>(0, qint64(std::round(rate)));
}

QByteArray probeUploadPayload(int size)
{
    QByteArray payload(qMax(0, size), Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((11 + 37 * i) % 256);
    return payload;
}

} // namespace TrafficStats
