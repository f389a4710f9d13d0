#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"

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

QStringList idsOf(const QVariantList &records)
{
    QStringList ids;
    for (const QVariant &entry : records)
        ids << entry.toMap().value(QStringLiteral("id")).toString();
    return ids;
}

} // namespace

// The node catalogue against the development backend: the server's nodes and
// countries, the user's choice told to the server, and the fastest-node race
// over the served endpoints.
class CatalogFlowsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void catalogueArrivesWithCountries();
    void selectionReachesServerAndSurvivesRestart();
    void refusedSelectionIsRestored();
    void raceOverServedEndpoints();
    void serverConfigurationPreviewFollowsSelection();

private:
    std::unique_ptr<AppController> signedIn();

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
};

void CatalogFlowsTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
}

void CatalogFlowsTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    m_server->clearFaults();
    m_server->resetRequestCounts();
}

std::unique_ptr<AppController> CatalogFlowsTest::signedIn()
{
    auto controller = std::make_unique<AppController>();
    controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    if (!QTest::qWaitFor([&] { return controller->loggedIn() && !controller->busy(); }, 15000))
        return nullptr;
    // Let the telemetry refresh that follows the bootstrap land first.
    if (!QTest::qWaitFor([&] { return m_server->requestCount(QStringLiteral("/api/v1/nodes")) >= 1 && !controller->networkLoading(); },
                         10000))
        return nullptr;
    return controller;
}

void CatalogFlowsTest::catalogueArrivesWithCountries()
{
    auto controller = signedIn();
    QVERIFY(controller);
    QVERIFY(idsOf(controller->nodes()).contains(QStringLiteral("jp-osaka")));
    // The telemetry refresh follows the bootstrap.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/api/v1/nodes")), 1, 10000);
    QVERIFY(!controller->nodeCountries().isEmpty());
    const QVariantMap first = controller->nodeCountries().first().toMap();
    QVERIFY(!first.value(QStringLiteral("nodeIds")).toList().isEmpty());
    for (const QVariant &entry : controller->nodes()) {
        const QVariantMap node = entry.toMap();
        QVERIFY(!node.value(QStringLiteral("quality")).toString().isEmpty());
        QVERIFY(!node.value(QStringLiteral("host")).toString().isEmpty());
    }
}

void CatalogFlowsTest::selectionReachesServerAndSurvivesRestart()
{
    {
        auto controller = signedIn();
        QVERIFY(controller);
        QSignalSpy selected(controller.get(), &AppController::selectedNodeChanged);
        controller->selectNodeWithMode(QStringLiteral("jp-tokyo"), QStringLiteral("fixed"));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/api/v1/nodes/select")), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!controller->networkLoading(), 10000);
        QCOMPARE(controller->selectedNodeId(), QStringLiteral("jp-tokyo"));
        QCOMPARE(controller->currentPage(), QStringLiteral("connect"));
        QVERIFY(controller->apiError().isEmpty());
        QCOMPARE(store().value(QStringLiteral("session/selectedNodeId")).toString(), QStringLiteral("jp-tokyo"));
    }
    auto restarted = std::make_unique<AppController>();
    QTRY_VERIFY_WITH_TIMEOUT(restarted->bootstrapReady(), 10000);
    QCOMPARE(restarted->selectedNodeId(), QStringLiteral("jp-tokyo"));
    QCOMPARE(restarted->nodeSelectionMode(), QStringLiteral("fixed"));
}

void CatalogFlowsTest::refusedSelectionIsRestored()
{
    auto controller = signedIn();
    QVERIFY(controller);
    const QString before = controller->selectedNodeId();
    const QString beforeMode = controller->nodeSelectionMode();
    QVERIFY(m_server->setNodeStatus(QStringLiteral("us-sanjose"), QStringLiteral("offline"), true));
    QStringList errors;
    connect(controller.get(), &AppController::apiErrorChanged, this, [&] { errors << controller->apiError(); });
    controller->navigate(QStringLiteral("servers"));
    controller->selectNodeWithMode(QStringLiteral("us-sanjose"), QStringLiteral("fixed"));
    QCOMPARE(controller->selectedNodeId(), QStringLiteral("us-sanjose"));
    QTRY_COMPARE_WITH_TIMEOUT(controller->selectedNodeId(), before, 10000);
    QCOMPARE(controller->nodeSelectionMode(), beforeMode);
    // Shown on failure (a later successful request may clear it again).
    QVERIFY2(errors.contains(QStringLiteral("切换节点失败，请稍后再试。")), qPrintable(errors.join('|')));
    QCOMPARE(store().value(QStringLiteral("session/nodeSelectionMode")).toString(), beforeMode);
    // Said where the user is, who stays on the list.
    QCOMPARE(controller->currentPage(), QStringLiteral("servers"));
    QCOMPARE(controller->toastMessage(), QStringLiteral("切换节点失败，请稍后再试。"));
    m_server->setNodeStatus(QStringLiteral("us-sanjose"), QStringLiteral("online"), false);
}

void CatalogFlowsTest::raceOverServedEndpoints()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QVERIFY(m_server->setNodeEndpoint(QStringLiteral("hk-shatin"), QStringLiteral("127.0.0.1"), listener.serverPort()));
    auto controller = signedIn();
    QVERIFY(controller);
    controller->selectNodeWithMode(QStringLiteral("hk-smart"), QStringLiteral("smart"));
    const QVariantList candidates = controller->connectionCandidates();
    QVERIFY2(idsOf(candidates).contains(QStringLiteral("hk-shatin")), qPrintable(idsOf(candidates).join(',')));
    for (const QString &id : idsOf(candidates))
        QVERIFY(id.startsWith(QLatin1String("hk-")));
    bool fellBack = true;
    const QVariantMap winner = controller->fastestReachableNode(candidates, {}, &fellBack);
    QCOMPARE(winner.value(QStringLiteral("id")).toString(), QStringLiteral("hk-shatin"));
    QVERIFY(!fellBack);
    // Without the listening node, nobody answers: the fallback, flagged.
    const QVariantMap fallback = controller->fastestReachableNode(candidates, {QStringLiteral("hk-shatin")}, &fellBack);
    QVERIFY(!fallback.isEmpty());
    QVERIFY(fellBack);
}

void CatalogFlowsTest::serverConfigurationPreviewFollowsSelection()
{
    auto controller = signedIn();
    QVERIFY(controller);
    // After sign-in the preview comes from the server, normalized for the desktop.
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/api/v1/config/singbox")) >= 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(controller->configPreview().contains(controller->selectedNodeId()), 10000);
    QVERIFY(!controller->configPreview().contains(QStringLiteral("\"type\": \"dns\"")));

    // Two quick refreshes: the slow answer of the first must not replace the second's.
    // (The smart document carries the "cn-direct-dns" server, the global one does not.)
    QTRY_VERIFY_WITH_TIMEOUT(!controller->networkLoading(), 10000);
    const int before = m_server->requestCount(QStringLiteral("/api/v1/config/singbox"));
    m_server->setFault(QStringLiteral("/api/v1/config/singbox"), DevServer::Fault::delayed(500));
    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("global"));
    controller->setSetting(QStringLiteral("routingMode"), QStringLiteral("smart"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/api/v1/config/singbox")), before + 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(controller->configPreview().contains(QStringLiteral("cn-direct-dns")), 10000);
    QTest::qWait(800); // the delayed global answer arrives now and is ignored
    QVERIFY(controller->configPreview().contains(QStringLiteral("cn-direct-dns")));
}

QTEST_GUILESS_MAIN(CatalogFlowsTest)
#include "tst_catalogflows.moc"
