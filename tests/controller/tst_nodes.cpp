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

QTEST_GUILESS_MAIN(NodesTest)
#include "tst_nodes.moc"
