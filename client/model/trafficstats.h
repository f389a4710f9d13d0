#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

// Figures of the live traffic readout: the two text forms of byte counts and
// rates, the session uptime, the rolling rate histories, today's hourly series
// and the probe's upload payload.
namespace TrafficStats {

inline constexpr int kHistoryLength = 30;
inline constexpr int kHoursPerDay = 24;
inline constexpr qint64 kProbeBytes = 65536;

// Always gigabytes with two decimals: "0.00 GB" for nothing or a negative count.
QString formatTransferredBytes(qint64 bytes);
// "%1 B/s" up to 1023, then "KB/s" up to 1048575, then "MB/s" (two decimals).
QString formatTransferredRate(qint64 bytesPerSecond);
// "HH:MM:SS"; hours above 99 keep all their digits; negative counts as 0.
QString uptimeText(qint64 seconds);
// The list padded with integer 0 at the end to 24 entries.
QVariantList paddedHourly(const QVariantList &hourly);
// Adds bytes to one hour of a padded copy; an hour outside 0–23 changes nothing.
QVariantList hourlyWithAdded(const QVariantList &hourly, int hour, qint64 bytes);
// The statistics page's hourly bars for today: exactly 24 maps, hour 0 first, each with
// "hour", "bytes" (an unreadable or negative entry counts as 0) and "share" (the hour's
// part of the busiest hour, 0 to 1; all 0 when nothing flowed). Entries past 24 are ignored.
QVariantList hourlyUsageBars(const QVariantList &hourly);
// Pads at the front to 30, drops the oldest and appends the sample.
QVariantList historyWithSample(const QVariantList &history, qint64 sample);
// Bytes moved per second, rounded half away from zero, never negative.
qint64 rateFromTransfer(qint64 bytes, qint64 elapsedMs);
// Byte i is (11 + 37·i) mod 256.
QByteArray probeUploadPayload(int size = int(kProbeBytes));

} // namespace TrafficStats
