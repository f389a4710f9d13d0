#include "controller/appcontroller.h"
#include "testaccounts.h"
#include "testenvironment.h"

#include <QTcpServer>
#include <QtTest>

// With a window to show, the controller holds the start-up work the first page
// does not need (the bootstrap request, the configuration preview) until the
// window's first frame, or until the fallback delay when no frame comes.
class StartupTimingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void heldUntilWindowShown_data();
    void heldUntilWindowShown();
    void fallbackWithoutFrame();

private:
    // A signed-in session whose backend is a loopback listener that counts connections.
    void storeSessionFor(const QTcpServer &backend);

    TestEnvironment m_env;
};

void StartupTimingTest::init()
{
    TestEnvironment::clearSettings();
}

void StartupTimingTest::storeSessionFor(const QTcpServer &backend)
{
    auto store = TestSupport::store();
    store.setValue(QStringLiteral("apiBaseUrl"), QStringLiteral("http://127.0.0.1:%1").arg(backend.serverPort()));
    store.setValue(QStringLiteral("session/token"), QStringLiteral("held-start-token"));
    store.setValue(QStringLiteral("session/email"), TestSupport::kMemberEmail);
    store.sync();
}

void StartupTimingTest::heldUntilWindowShown_data()
{
    QTest::addColumn<bool>("afterFirstFrame");
    QTest::newRow("no window: at once") << false;
    QTest::newRow("window: after its first frame") << true;
}

void StartupTimingTest::heldUntilWindowShown()
{
    QFETCH(bool, afterFirstFrame);
    QTcpServer backend;
    QVERIFY(backend.listen(QHostAddress::LocalHost));
    storeSessionFor(backend);

    QSignalSpy requests(&backend, &QTcpServer::newConnection);
    AppController controller(afterFirstFrame ? AppController::StartupTiming::AfterFirstFrame
                                             : AppController::StartupTiming::Immediate);
    QSignalSpy preview(&controller, &AppController::configPreviewChanged);
    QCOMPARE(controller.startupHeld(), afterFirstFrame);
    QVERIFY(controller.loggedIn());

    if (!afterFirstFrame) {
        QTRY_VERIFY_WITH_TIMEOUT(requests.count() > 0, 5000);
        return;
    }
    QTest::qWait(400);
    QCOMPARE(requests.count(), 0);

    QCOMPARE(preview.count(), 0);
    controller.windowShown();
    QVERIFY(!controller.startupHeld());
    QCOMPARE(preview.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(requests.count() > 0, 5000);
    // A later frame changes nothing.
    controller.windowShown();
    QCOMPARE(preview.count(), 1);
}

void StartupTimingTest::fallbackWithoutFrame()
{
    QTcpServer backend;
    QVERIFY(backend.listen(QHostAddress::LocalHost));
    storeSessionFor(backend);
    QSignalSpy requests(&backend, &QTcpServer::newConnection);
    AppController controller(AppController::StartupTiming::AfterFirstFrame);
    QSignalSpy preview(&controller, &AppController::configPreviewChanged);
    QTRY_VERIFY_WITH_TIMEOUT(!controller.startupHeld(), AppController::kWindowShownFallbackMs + 2000);
    QCOMPARE(preview.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(requests.count() > 0, 5000);
}

QTEST_MAIN(StartupTimingTest)
#include "tst_startuptiming.moc"
