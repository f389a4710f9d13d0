#include "model/trafficstats.h"

#include <QtTest>

// The text forms of the live traffic figures and the rolling series behind
// the charts.
class TrafficStatsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatting_data();
    void formatting();
    void historyKeepsThirtySamples();
    void hourlySeries_data();
    void hourlySeries();
    void rateAndPayload();
    void hourlyBars_data();
    void hourlyBars();
};

void TrafficStatsTest::formatting_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no bytes") << "bytes" << qint64(0) << "0.00 GB";
    QTest::newRow("negative bytes") << "bytes" << qint64(-4096) << "0.00 GB";
    QTest::newRow("one and a half GB") << "bytes" << qint64(1610612736) << "1.50 GB";
    QTest::newRow("negative rate") << "rate" << qint64(-1) << "0 B/s";
    QTest::newRow("1023 B/s") << "rate" << qint64(1023) << "1023 B/s";
    QTest::newRow("1024 B/s") << "rate" << qint64(1024) << "1.00 KB/s";
    QTest::newRow("1048575 B/s") << "rate" << qint64(1048575) << "1024.00 KB/s";
    QTest::newRow("1048576 B/s") << "rate" << qint64(1048576) << "1.00 MB/s";
    QTest::newRow("no uptime") << "uptime" << qint64(0) << "00:00:00";
    QTest::newRow("3725 s") << "uptime" << qint64(3725) << "01:02:05";
    QTest::newRow("100 h") << "uptime" << qint64(360000) << "100:00:00";
    QTest::newRow("negative uptime") << "uptime" << qint64(-5) << "00:00:00";
}

void TrafficStatsTest::formatting()
{
    QFETCH(QString, kind);
    QFETCH(qint64, value);
    QFETCH(QString, expected);
    if (kind == QLatin1String("bytes"))
        QCOMPARE(TrafficStats::formatTransferredBytes(value), expected);
    else if (kind == QLatin1String("rate"))
        QCOMPARE(TrafficStats::formatTransferredRate(value), expected);
    else
        QCOMPARE(TrafficStats::uptimeText(value), expected);
}

void TrafficStatsTest::historyKeepsThirtySamples()
{
    // An empty history is padded first: one sample leaves 29 zeros and the sample.
    QVariantList history = TrafficStats::historyWithSample(QVariantList(), 700);
    QCOMPARE(history.size(), 30);
    QCOMPARE(history.count(QVariant(0)), 29);
    QCOMPARE(history.last().toLongLong(), 700);
    for (int i = 1; i <= 40; ++i)
        history = TrafficStats::historyWithSample(history, i);
    QCOMPARE(history.size(), 30);
    QCOMPARE(history.first().toLongLong(), 11); // oldest first
    QCOMPARE(history.last().toLongLong(), 40);
    // An over-long history from elsewhere is cut back to 30.
    QCOMPARE(TrafficStats::historyWithSample(QVariantList(45, 1), 2).size(), 30);
}

void TrafficStatsTest::hourlySeries_data()
{
    QTest::addColumn<QVariantList>("base");
    QTest::addColumn<int>("hour");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("atHour");
    QTest::addColumn<qint64>("total");
    QTest::newRow("short list padded") << QVariantList{5, 6} << 13 << qint64(100) << qint64(100) << qint64(111);
    QTest::newRow("adds to the hour") << QVariantList{5, 6} << 1 << qint64(100) << qint64(106) << qint64(111);
    QTest::newRow("hour out of range") << QVariantList{5} << 24 << qint64(100) << qint64(-1) << qint64(5);
}

void TrafficStatsTest::hourlySeries()
{
    QFETCH(QVariantList, base);
    QFETCH(int, hour);
    QFETCH(qint64, bytes);
    QFETCH(qint64, atHour);
    QFETCH(qint64, total);
    const QVariantList series = TrafficStats::hourlyWithAdded(base, hour, bytes);
    QCOMPARE(series.size(), 24);
    if (atHour >= 0)
        QCOMPARE(series.at(hour).toLongLong(), atHour);
    qint64 sum = 0;
    for (const QVariant &entry : series)
        sum += entry.toLongLong();
    QCOMPARE(sum, total);
}

void TrafficStatsTest::rateAndPayload()
{
    QCOMPARE(TrafficStats::rateFromTransfer(65536, 0), qint64(65536000)); // a 0 ms transfer counts as 1 ms
    QCOMPARE(TrafficStats::rateFromTransfer(3, 2), qint64(1500));
    QCOMPARE(TrafficStats::rateFromTransfer(1, 400), qint64(3)); // 2.5 rounds away from zero
    QCOMPARE(TrafficStats::rateFromTransfer(-10, 5), qint64(0));
    const QByteArray payload = TrafficStats::probeUploadPayload();
    QCOMPARE(payload.size(), 65536);
    QCOMPARE(quint8(payload.at(0)), quint8(11));
    QCOMPARE(quint8(payload.at(1)), quint8(48));
    QCOMPARE(quint8(payload.at(7)), quint8((11 + 37 * 7) % 256));
    QCOMPARE(quint8(payload.at(65535)), quint8((11 + 37 * 65535) % 256));
}

void TrafficStatsTest::hourlyBars_data()
{
    QTest::addColumn<QVariantList>("hourly");
    QTest::addColumn<int>("peakHour"); // -1: nothing flowed
    QTest::addColumn<qint64>("total");
    QTest::newRow("nothing today") << QVariantList{} << -1 << qint64(0);
    QTest::newRow("short list padded") << QVariantList{0, 0, 300, 150} << 2 << qint64(450);
    QTest::newRow("numbers as text") << QVariantList{QStringLiteral("1024"), 2048} << 1 << qint64(3072);
    QTest::newRow("bad entries count as 0")
        << QVariantList{-5, QStringLiteral("lots"), QVariant(), 40} << 3 << qint64(40);
    QVariantList late(24, 0);
    late[23] = qint64(5) * 1024 * 1024 * 1024; // five gigabytes in the last hour
    late.append(999999); // a 25th entry belongs to no hour of today
    QTest::newRow("last hour, extra entry ignored") << late << 23 << qint64(5) * 1024 * 1024 * 1024;
}

// The statistics page draws today's usage as 24 bars from the dashboard's hourly series.
void TrafficStatsTest::hourlyBars()
{
    QFETCH(QVariantList, hourly);
    QFETCH(int, peakHour);
    QFETCH(qint64, total);
    const QVariantList bars = TrafficStats::hourlyUsageBars(hourly);
    QCOMPARE(bars.size(), 24);
    qint64 sum = 0;
    for (int hour = 0; hour < 24; ++hour) {
        const QVariantMap bar = bars.at(hour).toMap();
        QCOMPARE(bar.value(QStringLiteral("hour")).toInt(), hour);
        const qint64 bytes = bar.value(QStringLiteral("bytes")).toLongLong();
        const double share = bar.value(QStringLiteral("share")).toDouble();
        QVERIFY(bytes >= 0);
        QVERIFY(share >= 0.0 && share <= 1.0);
        if (hour == peakHour)
            QCOMPARE(share, 1.0);
        if (peakHour < 0)
            QCOMPARE(share, 0.0);
        sum += bytes;
    }
    QCOMPARE(sum, total);
}

QTEST_APPLESS_MAIN(TrafficStatsTest)
#include "tst_trafficstats.moc"
