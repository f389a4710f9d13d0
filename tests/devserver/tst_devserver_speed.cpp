#include "client/api/backendcontract.h"
#include "devservertestclient.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QtTest>

using namespace Backend::Path;

// The speed probe's two ends, the server-side speed test and the traffic
// section of the development backend.
class DevServerSpeedTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void probeDownloadSize_data();
    void probeDownloadSize();
    void probeUploadAndSpeedRecords();
    void bootstrapCarriesWeekAndApps();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    QString m_token;
};

void DevServerSpeedTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY(m_server->isRunning());
    DevServerTestClient client(*m_server);
    m_token = client.signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    QVERIFY(!m_token.isEmpty());
}

void DevServerSpeedTest::probeDownloadSize_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("bytes");
    QTest::newRow("probe size") << QStringLiteral("65536") << 200 << 65536;
    QTest::newRow("absurd size is capped") << QStringLiteral("999999999999") << 200 << 4 * 1024 * 1024;
    QTest::newRow("negative") << QStringLiteral("-5") << 400 << -1;
    QTest::newRow("zero") << QStringLiteral("0") << 400 << -1;
    QTest::newRow("not a number") << QStringLiteral("lots") << 400 << -1;
    QTest::newRow("missing") << QString() << 400 << -1;
}

void DevServerSpeedTest::probeDownloadSize()
{
    QFETCH(QString, size);
    QFETCH(int, status);
    QFETCH(int, bytes);
    DevServerTestClient client(*m_server);
    const QString path = QLatin1String(kSpeedProbeDownload) + (size.isNull() ? QString() : QStringLiteral("?size=") + size);
    const DevAnswer answer = client.get(path, m_token);
    QCOMPARE(answer.status, status);
    if (bytes >= 0)
        QCOMPARE(answer.body.size(), bytes);
    // Without a session the probe is refused like any other call.
    QCOMPARE(client.get(QLatin1String(kSpeedProbeDownload) + QStringLiteral("?size=1")).status, 401);
}

void DevServerSpeedTest::probeUploadAndSpeedRecords()
{
    DevServerTestClient client(*m_server);
    const DevAnswer upload = client.send("POST", QLatin1String(kSpeedProbeUpload), QByteArray(65536, 'x'), m_token);
    QCOMPARE(upload.status, 200);
    QCOMPARE(upload.json().value(QStringLiteral("received")).toInt(), 65536);

    QCOMPARE(client.get(QLatin1String(kSpeed), m_token).json().value(QStringLiteral("records")).toArray().size(), 0);
    const DevAnswer first = client.post(QLatin1String(kSpeedTest), {{QStringLiteral("node_id"), QStringLiteral("hk-smart")}}, m_token);
    QCOMPARE(first.status, 200);
    QVERIFY(first.json().value(QStringLiteral("download")).toDouble() > 0);
    QCOMPARE(client.post(QLatin1String(kSpeedTest), {{QStringLiteral("node_id"), QStringLiteral("no-such-node")}}, m_token)
                 .status,
             404);
    const DevAnswer second = client.post(QLatin1String(kSpeedTest), QJsonObject(), m_token);
    QCOMPARE(second.status, 200);

    const QJsonObject section = client.get(QLatin1String(kSpeed), m_token).json();
    const QJsonArray records = section.value(QStringLiteral("records")).toArray();
    QCOMPARE(records.size(), 2);
    // Newest first; the averages cover both.
    QCOMPARE(records.first().toObject().value(QStringLiteral("download")).toDouble(),
             second.json().value(QStringLiteral("download")).toDouble());
    const double average = (first.json().value(QStringLiteral("download")).toDouble()
                            + second.json().value(QStringLiteral("download")).toDouble()) / 2;
    QVERIFY(qAbs(section.value(QStringLiteral("average_download")).toDouble() - average) < 0.06);
}

void DevServerSpeedTest::bootstrapCarriesWeekAndApps()
{
    DevServerTestClient client(*m_server);
    const QJsonObject experience = client.get(QLatin1String(kBootstrap), m_token).json().value(QStringLiteral("experience")).toObject();
    const QJsonObject traffic = experience.value(QStringLiteral("traffic")).toObject();
    const QJsonArray weekly = traffic.value(QStringLiteral("weekly")).toArray();
    QCOMPARE(weekly.size(), 7);
    // Monday first; the demo member has used traffic today.
    QCOMPARE(QDate::fromString(weekly.first().toObject().value(QStringLiteral("day")).toString(), Qt::ISODate).dayOfWeek(), 1);
    const double today = weekly.at(QDate::currentDate().dayOfWeek() - 1).toObject().value(QStringLiteral("bytes")).toDouble();
    QVERIFY(today > 0);
    QVERIFY(traffic.value(QStringLiteral("week_total_bytes")).toDouble() >= today);
    QVERIFY(!traffic.value(QStringLiteral("apps")).toArray().isEmpty());
    QVERIFY(experience.value(QStringLiteral("speed")).toObject().contains(QStringLiteral("average_latency")));
}

QTEST_GUILESS_MAIN(DevServerSpeedTest)
#include "tst_devserver_speed.moc"
