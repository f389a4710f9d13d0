#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")); // i18n-exempt: store name
}

QVariantMap rawNode(const QString &id, const QString &host, quint16 port, int latency = 0,
                    const QString &type = QStringLiteral("vless"))
{
    return QVariantMap{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), id},
        {QStringLiteral("country_code"), QStringLiteral("HK")},
        {QStringLiteral("latency_ms"), latency},
        {QStringLiteral("outbound"),
         QVariantMap{{QStringLiteral("type"), type}, {QStringLiteral("server"), host}, {QStringLiteral("server_port"), port}}},
    };
}

// A loopback port with nothing listening on it.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

// Node selection, local latency probes and the fastest-node race, with real
// sockets and the system's ping on the loopback interface.
class NodesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void blankSelectionIsRefused();
    void selectingWhileSignedOutStaysLocal();
    void reselectingOnlyNavigates();
    void derivedTexts();
    void pingRoundMeasuresLoopback();
    void fastestNodeFirstListenerWins();
    void fastestNodeFallsBackWhenNobodyAnswers();
    void fastestNodeWithEverythingExcluded();
    void fastestNodeDatagramBest();
    void probeOverThousandNodesPublishesRarely();
    void reloadKeepsMeasuredLatencies_data();
    void reloadKeepsMeasuredLatencies();
    void signOutEndsTheRound();

private:
    std::unique_ptr<AppController> signedInController();

    TestEnvironment m_env;
    QTcpServer m_silentBackend; // accepts and never answers: the stored session stays
};

void NodesTest::initTestCase()
{
    QVERIFY(m_silentBackend.listen(QHostAddress::LocalHost, 0));
}

void NodesTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1").arg(m_silentBackend.serverPort()).toUtf8());
}

std::unique_ptr<AppController> NodesTest::signedInController()
{
    {
        auto s = store();
        s.setValue(QStringLiteral("session/token"), QStringLiteral("tok"));
        s.setValue(QStringLiteral("session/email"), QStringLiteral("user@example.com"));
    }
    auto controller = std::make_unique<AppController>();
    ApiTimings timings;
    timings.qtTimeoutMs = 120000; // the silent backend keeps every request pending
    controller->setApiTimingsForTesting(timings);
    return controller;
}

void NodesTest::blankSelectionIsRefused()
{
    AppController controller;
    controller.selectNodeWithMode(QStringLiteral("  "), QStringLiteral("fixed"));
    QCOMPARE(controller.apiError(), QStringLiteral("节点信息缺失，请刷新后重试。"));
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("hk-smart"));
}

void NodesTest::selectingWhileSignedOutStaysLocal()
{
    AppController controller;
    QSignalSpy selected(&controller, &AppController::selectedNodeChanged);
    controller.navigate(QStringLiteral("servers"));
    controller.selectNodeWithMode(QStringLiteral(" jp-tokyo "), QStringLiteral("FIXED"));
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("jp-tokyo"));
    QCOMPARE(controller.nodeSelectionMode(), QStringLiteral("fixed"));
    QCOMPARE(store().value(QStringLiteral("session/nodeSelectionMode")).toString(), QStringLiteral("fixed"));
    QCOMPARE(controller.currentPage(), QStringLiteral("connect"));
    QVERIFY(selected.count() >= 1);
    QVERIFY(!controller.networkLoading());
    QVERIFY(!controller.busy());
}

void NodesTest::reselectingOnlyNavigates()
{
    AppController controller;
    controller.navigate(QStringLiteral("servers"));
    QSignalSpy selected(&controller, &AppController::selectedNodeChanged);
    controller.selectNodeWithMode(QStringLiteral("hk-smart"), QStringLiteral("smart"));
    QCOMPARE(selected.count(), 0);
    QCOMPARE(controller.currentPage(), QStringLiteral("connect"));
}

void NodesTest::derivedTexts()
{
    AppController controller;
    // The built-in catalogue: "hk-smart" with 8 ms.
    QCOMPARE(controller.currentNodeName(), QStringLiteral("香港 · 智能选路"));
    QCOMPARE(controller.currentNodeLatency(), QStringLiteral("8 ms"));
    // Its grade agrees with that latency (it read "8 ms · 未知").
    QCOMPARE(controller.currentNodeQuality(), QStringLiteral("极佳"));
    controller.applyBootstrapResponse(QVariantMap{{QStringLiteral("nodes"), QVariantList{rawNode(QStringLiteral("x"), QStringLiteral("h"), 1)}}});
    QCOMPARE(controller.selectedNodeId(), QStringLiteral("x"));
    QCOMPARE(controller.currentNodeLatency(), QStringLiteral("待测"));
    QCOMPARE(controller.currentNodeQuality(), QStringLiteral("未知"));
    QCOMPARE(controller.currentNodeQualityScore(), 0);
}

void NodesTest::pingRoundMeasuresLoopback()
{
    auto controller = signedInController();
    QSignalSpy nodes(controller.get(), &AppController::nodesChanged);
    controller->applyBootstrapResponse(QVariantMap{
        {QStringLiteral("nodes"),
         QVariantList{rawNode(QStringLiteral("loop"), QStringLiteral("127.0.0.1"), 443),
                      rawNode(QStringLiteral("known"), QStringLiteral("127.0.0.1"), 443, 77),
                      rawNode(QStringLiteral("nowhere"), QString(), 0)}},
        {QStringLiteral("node_countries"),
         QVariantList{QVariantMap{{QStringLiteral("id"), QStringLiteral("hk")},
                                  {QStringLiteral("node_ids"), QVariantList{QStringLiteral("loop"), QStringLiteral("known")}}}}},
    });
    QVERIFY(controller->latencyProbeInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!controller->latencyProbeInProgress(), 15000);
    QVariantMap byId;
    for (const QVariant &entry : controller->nodes())
        byId.insert(entry.toMap().value(QStringLiteral("id")).toString(), entry);
    const QVariantMap loop = byId.value(QStringLiteral("loop")).toMap();
    QVERIFY2(loop.value(QStringLiteral("latency")).toInt() >= 1, "loopback ping gave no latency");
    QCOMPARE(loop.value(QStringLiteral("quality")).toString(), QStringLiteral("极佳"));
    QCOMPARE(byId.value(QStringLiteral("known")).toMap().value(QStringLiteral("latency")).toInt(), 77);
    QCOMPARE(byId.value(QStringLiteral("nowhere")).toMap().value(QStringLiteral("latency")).toInt(), 0);
    // The country follows its best member.
    const QVariantMap country = controller->nodeCountries().first().toMap();
    QCOMPARE(country.value(QStringLiteral("latency")).toInt(), loop.value(QStringLiteral("latency")).toInt());
    QCOMPARE(country.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
}

void NodesTest::fastestNodeFirstListenerWins()
{
    AppController controller;
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    const QVariantList candidates{
        rawNode(QStringLiteral("refused"), QStringLiteral("127.0.0.1"), closedPort(), 5),
        rawNode(QStringLiteral("listening"), QStringLiteral("127.0.0.1"), listener.serverPort(), 300),
    };
    controller.applyBootstrapResponse(QVariantMap{{QStringLiteral("nodes"), candidates}});
    bool fellBack = true;
    const QVariantMap winner = controller.fastestReachableNode(controller.nodes(), {}, &fellBack);
    QCOMPARE(winner.value(QStringLiteral("id")).toString(), QStringLiteral("listening"));
    QVERIFY(!fellBack);
}

void NodesTest::fastestNodeFallsBackWhenNobodyAnswers()
{
    AppController controller;
    controller.applyBootstrapResponse(QVariantMap{{QStringLiteral("nodes"),
                                                   QVariantList{rawNode(QStringLiteral("a"), QStringLiteral("127.0.0.1"), closedPort(), 0),
                                                                rawNode(QStringLiteral("b"), QStringLiteral("127.0.0.1"), closedPort(), 90),
                                                                rawNode(QStringLiteral("c"), QStringLiteral("127.0.0.1"), closedPort(), 40)}}});
    bool fellBack = false;
    QElapsedTimer clock;
    clock.start();
    const QVariantMap chosen = controller.fastestReachableNode(controller.nodes(), {}, &fellBack);
    QCOMPARE(chosen.value(QStringLiteral("id")).toString(), QStringLiteral("c"));
    QVERIFY(fellBack);
    // Refused connections end the wait long before the time-out.
    QVERIFY(clock.elapsed() < 1500);
}

void NodesTest::fastestNodeWithEverythingExcluded()
{
    AppController controller;
    bool fellBack = false;
    const QVariantMap chosen =
        controller.fastestReachableNode(controller.nodes(), {QStringLiteral("hk-smart"), QStringLiteral("jp-tokyo"), QStringLiteral("sg-prime")}, &fellBack);
    QVERIFY(chosen.isEmpty());
    QVERIFY(!fellBack);
}

void NodesTest::fastestNodeDatagramBest()
{
    AppController controller;
    controller.applyBootstrapResponse(QVariantMap{
        {QStringLiteral("nodes"),
         QVariantList{rawNode(QStringLiteral("slow-udp"), QStringLiteral("127.0.0.1"), 40000, 200, QStringLiteral("hysteria2")),
                      rawNode(QStringLiteral("fast-udp"), QStringLiteral("127.0.0.1"), 40001, 20, QStringLiteral("tuic")),
                      rawNode(QStringLiteral("dead-tcp"), QStringLiteral("127.0.0.1"), closedPort(), 1)}}});
    bool fellBack = true;
    const QVariantMap chosen = controller.fastestReachableNode(controller.nodes(), {}, &fellBack);
    QCOMPARE(chosen.value(QStringLiteral("id")).toString(), QStringLiteral("fast-udp"));
    QVERIFY(!fellBack);
}

namespace {

// count nodes on loopback addresses of their own, spread over forty countries.
QVariantMap scaledBootstrap(int count)
{
    QVariantList nodes;
    QHash<QString, QVariantList> members;
    QStringList codes;
    for (int i = 0; i < count; ++i) {
        const QString code = QStringLiteral("C%1").arg(i % 40);
        const QString id = QStringLiteral("n%1").arg(i, 5, 10, QLatin1Char('0'));
        QVariantMap raw = rawNode(id, QStringLiteral("127.2.%1.%2").arg(i / 250).arg(i % 250 + 1), 443);
        raw.insert(QStringLiteral("country_code"), code);
        nodes << raw;
        if (!members.contains(code))
            codes << code;
        members[code] << id;
    }
    QVariantList countries;
    for (const QString &code : std::as_const(codes))
        countries << QVariantMap{{QStringLiteral("id"), code.toLower()},
                                 {QStringLiteral("country_code"), code},
                                 {QStringLiteral("node_ids"), members.value(code)}};
    return {{QStringLiteral("nodes"), nodes}, {QStringLiteral("node_countries"), countries}};
}

} // namespace

// A round over a large catalogue publishes the catalogue a bounded number of times,
// not once per sample, and what it last publishes is complete: every node measured,
// every country at its best member.
void NodesTest::probeOverThousandNodesPublishesRarely()
{
    auto controller = signedInController();
    QSignalSpy nodes(controller.get(), &AppController::nodesChanged);
    QSignalSpy countries(controller.get(), &AppController::nodeCountriesChanged);
    QElapsedTimer clock;
    controller->applyBootstrapResponse(scaledBootstrap(1000));
    clock.start();
    QVERIFY(controller->latencyProbeInProgress());
    const int afterBootstrap = int(nodes.count());
    const int countriesAfterBootstrap = int(countries.count());

    // Samples coming thick and fast inside one interval: one publication at most.
    for (int i = 900; i < 1000; ++i)
        controller->applyLocalNodeLatencySample(QStringLiteral("n%1").arg(i, 5, 10, QLatin1Char('0')), 500 + i);
    QVERIFY(nodes.count() - afterBootstrap <= 1);

    QTRY_VERIFY_WITH_TIMEOUT(!controller->latencyProbeInProgress(), 400000);
    const qint64 elapsed = clock.elapsed();
    const int published = int(nodes.count()) - afterBootstrap;
    const int bound = int(elapsed / AppController::kLatencyPublishIntervalMs) + 3;
    QVERIFY2(published <= bound, qPrintable(QStringLiteral("%1 publications in %2 ms").arg(published).arg(elapsed)));
    QVERIFY2(published < 1000 / 4, qPrintable(QString::number(published)));
    QVERIFY(countries.count() - countriesAfterBootstrap <= published);

    QHash<QString, int> latencyById;
    for (const QVariant &entry : controller->nodes()) {
        const QVariantMap node = entry.toMap();
        latencyById.insert(node.value(QStringLiteral("id")).toString(), node.value(QStringLiteral("latency")).toInt());
    }
    int unmeasured = 0;
    for (int latency : std::as_const(latencyById))
        unmeasured += latency < 1 ? 1 : 0;
    QCOMPARE(unmeasured, 0);
    for (const QVariant &entry : controller->nodeCountries()) {
        const QVariantMap country = entry.toMap();
        int best = 0;
        for (const QVariant &id : country.value(QStringLiteral("nodeIds")).toList()) {
            const int latency = latencyById.value(id.toString());
            best = best == 0 ? latency : qMin(best, latency);
        }
        QCOMPARE(country.value(QStringLiteral("latency")).toInt(), best);
    }
}

void NodesTest::reloadKeepsMeasuredLatencies_data()
{
    QTest::addColumn<QString>("changedHost"); // empty: the reload brings the same node
    QTest::addColumn<bool>("kept");
    QTest::newRow("unchanged node") << QString() << true;
    QTest::newRow("node moved to another host") << QStringLiteral("127.0.0.2") << false;
}

// A bootstrap reload (an event, the telemetry after sign-in) keeps what was measured
// for nodes that did not change, at once, and probes only what is new.
void NodesTest::reloadKeepsMeasuredLatencies()
{
    QFETCH(QString, changedHost);
    QFETCH(bool, kept);
    auto controller = signedInController();
    const QVariantList first{rawNode(QStringLiteral("a"), QStringLiteral("127.0.0.1"), 443)};
    controller->applyBootstrapResponse(QVariantMap{{QStringLiteral("nodes"), first}});
    QTRY_VERIFY_WITH_TIMEOUT(!controller->latencyProbeInProgress(), 15000);
    const int measured = controller->nodes().first().toMap().value(QStringLiteral("latency")).toInt();
    QVERIFY(measured >= 1);

    const QVariantList second{
        rawNode(QStringLiteral("a"), changedHost.isEmpty() ? QStringLiteral("127.0.0.1") : changedHost, 443),
        rawNode(QStringLiteral("new"), QStringLiteral("127.0.0.1"), 443)};
    controller->applyBootstrapResponse(QVariantMap{{QStringLiteral("nodes"), second}});
    const QVariantMap a = controller->nodes().first().toMap();
    QCOMPARE(a.value(QStringLiteral("latency")).toInt(), kept ? measured : 0);
    QCOMPARE(a.value(QStringLiteral("quality")).toString(), kept ? QStringLiteral("极佳") : QStringLiteral("未知"));
    QVERIFY(controller->latencyProbeInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!controller->latencyProbeInProgress(), 15000);
    for (const QVariant &entry : controller->nodes())
        QVERIFY(entry.toMap().value(QStringLiteral("latency")).toInt() >= 1);
    if (kept)
        QCOMPARE(controller->nodes().first().toMap().value(QStringLiteral("latency")).toInt(), measured);
}

// Losing the session ends a running round: the built-in catalogue gets no late samples and
// the next sign-in's catalogue can start its own round at once.
void NodesTest::signOutEndsTheRound()
{
    auto controller = signedInController();
    controller->applyBootstrapResponse(scaledBootstrap(200));
    QVERIFY(controller->latencyProbeInProgress());
    const QVariantList defaults = AppController().nodes();
    controller->triggerForcedLogout(QStringLiteral("ended"));
    QVERIFY(!controller->loggedIn());
    QVERIFY(!controller->latencyProbeInProgress());
    QTest::qWait(1500);
    QCOMPARE(controller->nodes(), defaults);
}

QTEST_GUILESS_MAIN(NodesTest)
#include "tst_nodes.moc"
