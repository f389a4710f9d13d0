#include "controller/appcontroller.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const char kTrialEmail[] = "trial@quillet.dev";
const char kTrialPassword[] = "Quillet-trial-2026";
const char kQuarterly[] = "pro-yearly";

// What the browser does on the checkout page: press "支付" or "取消".
int pressCheckoutButton(const QUrl &checkoutUrl, const QString &action)
{
    QUrl target = checkoutUrl;
    target.setPath(QStringLiteral("/checkout/") + action);
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = network.post(request, QByteArray());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    return status;
}

QString statusOf(const AppController &controller, const QString &orderId)
{
    const QVariantList orders =
        controller.experience().value(QStringLiteral("billing")).toMap().value(QStringLiteral("orders")).toList();
    for (const QVariant &entry : orders) {
        if (entry.toMap().value(QStringLiteral("id")).toString() == orderId)
            return entry.toMap().value(QStringLiteral("status")).toString();
    }
    return QString();
}

} // namespace

// Plans, checkout, the order watch and the daily trial against the
// development backend, with the checkout page "opened" by the test.
class BillingFlowsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void guardsBeforeAnyRequest_data();
    void guardsBeforeAnyRequest();
    void buyPlanOnCheckoutPage();
    void cancelFromBillingList();
    void cancelOnCheckoutPage();
    void unopenedCheckoutKeepsWatching();
    void checkoutNoticeOffersTheLink_data();
    void checkoutNoticeOffersTheLink();
    void unansweredOrderRunsOutOfPolls();
    void prepareOffersFirstPendingOrder();
    void dailyTrialOncePerDay();
    void sessionEndForgetsTheWatchedOrder_data();
    void sessionEndForgetsTheWatchedOrder();
    void paidOrderAnnouncedBesideOlderPending();
    void trialClaimGoesOutOnce();
    void endedTrialAskedAgainAtItsEnd();

private:
    std::unique_ptr<AppController> signedIn(const QString &email, const QString &password);
    // choosePlan with the URL handler intercepted; returns the opened URL.
    QUrl checkout(AppController &controller, const QString &planId);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    QList<QUrl> m_opened;
};

void BillingFlowsTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
}

void BillingFlowsTest::init()
{
    // A fresh backend each time: every test starts from the demo accounts.
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    TestEnvironment::clearSettings();
    QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")) // i18n-exempt: store name
        .setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    m_opened.clear();
}

std::unique_ptr<AppController> BillingFlowsTest::signedIn(const QString &email, const QString &password)
{
    auto controller = std::make_unique<AppController>();
    controller->setUrlOpener([this](const QUrl &url) {
        m_opened << url;
        return true;
    });
    controller->setPendingOrderPollIntervalsForTesting(20, 60);
    controller->signIn(email, password);
    if (!QTest::qWaitFor([&] { return controller->loggedIn() && controller->bootstrapReady() && !controller->busy(); },
                         15000))
        return nullptr;
    if (!QTest::qWaitFor([&] { return !controller->networkLoading(); }, 10000))
        return nullptr;
    return controller;
}

void BillingFlowsTest::sessionEndForgetsTheWatchedOrder_data()
{
    QTest::addColumn<bool>("forced");
    QTest::newRow("sign-out") << false;
    QTest::newRow("forced logout") << true;
}

// The next account on this PC must never poll the previous one's order with
// its own token.
void BillingFlowsTest::sessionEndForgetsTheWatchedOrder()
{
    QFETCH(bool, forced);
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    // Slow polls, so one is still out when the session ends.
    controller->setPendingOrderPollIntervalsForTesting(400, 800);
    m_server->setFault(QStringLiteral("/api/v1/payments/confirm"), DevServer::Fault::delayed(300, 100));
    const QUrl page = checkout(*controller, QStringLiteral("lite-monthly"));
    QVERIFY(page.isValid());
    QVERIFY(controller->pendingOrderWatchRunning());
    if (forced)
        controller->triggerForcedLogout(QString());
    else
        controller->signOut();
    QVERIFY(!controller->loggedIn());
    QVERIFY(controller->pendingOrderId().isEmpty());
    QVERIFY(!controller->pendingOrderWatchRunning());

    controller->signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && controller->bootstrapReady() && !controller->busy(), 15000);
    QTest::qWait(400);
    m_server->resetRequestCounts();
    QTest::qWait(1500);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/payments/confirm")), 0);
    QVERIFY(controller->pendingOrderId().isEmpty());
    QVERIFY(controller->loggedIn());
}

// The watched order is paid while an older one of the same account is still
// pending: the payment is announced, and only then is the older one watched.
void BillingFlowsTest::paidOrderAnnouncedBesideOlderPending()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    const QUrl older = checkout(*controller, QStringLiteral("lite-monthly"));
    const QString olderId = QUrlQuery(older).queryItemValue(QStringLiteral("order"));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*controller, olderId), QStringLiteral("pending"), 10000);
    const QUrl page = checkout(*controller, QStringLiteral("team-yearly"));
    const QString orderId = QUrlQuery(page).queryItemValue(QStringLiteral("order"));
    QTRY_COMPARE_WITH_TIMEOUT(controller->pendingOrderId(), orderId, 10000);
    QTRY_VERIFY(!controller->networkLoading());

    // The reload after the payment lands before the watch's own poll.
    m_server->setFault(QStringLiteral("/api/v1/payments/confirm"), DevServer::Fault::delayed(1500, 100));
    QCOMPARE(pressCheckoutButton(page, QStringLiteral("pay")), 200);
    controller->loadBootstrap();
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("支付成功，套餐状态已更新。"), 15000);
    QVERIFY(controller->hasActiveMembership());
    // The older order is watched afterwards, with its own fresh budget.
    QTRY_COMPARE_WITH_TIMEOUT(controller->pendingOrderId(), olderId, 10000);
}

// A double click on "领会员" claims once; the button is held while the claim is out.
void BillingFlowsTest::trialClaimGoesOutOnce()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    m_server->resetRequestCounts();
    m_server->setFault(QStringLiteral("/api/v1/trial/claim"), DevServer::Fault::delayed(300));
    QSignalSpy held(controller.get(), &AppController::trialClaimInFlightChanged);
    controller->claimDailyTrial();
    QVERIFY(controller->trialClaimInFlight());
    controller->claimDailyTrial();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->trialClaimInFlight(), 10000);
    QCOMPARE(held.count(), 2);
    QTest::qWait(300);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/trial/claim")), 1);
}

QUrl BillingFlowsTest::checkout(AppController &controller, const QString &planId)
{
    const int before = int(m_opened.size());
    controller.choosePlan(planId);
    if (!QTest::qWaitFor([&] { return m_opened.size() > before && !controller.busy(); }, 10000))
        return QUrl();
    return m_opened.last();
}

void BillingFlowsTest::guardsBeforeAnyRequest_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("apiError");

    // Signed out: a blank plan is reported before the sign-in, a blank order after it.
    QTest::newRow("choose blank plan") << "choose" << " " << "套餐信息缺失，请刷新后重试。";
    QTest::newRow("choose signed out") << "choose" << "lite-monthly" << "请先登录后再创建订单。";
    QTest::newRow("prepare blank plan") << "prepare" << "" << "套餐信息缺失，请刷新后重试。";
    QTest::newRow("resume blank signed out") << "resume" << "" << "请先登录后再继续支付。";
    QTest::newRow("cancel signed out") << "cancel" << "ORD-1" << "请先登录后再取消订单。";
}

void BillingFlowsTest::guardsBeforeAnyRequest()
{
    QFETCH(QString, call);
    QFETCH(QString, argument);
    QFETCH(QString, apiError);
    AppController controller;
    m_server->resetRequestCounts();
    if (call == QLatin1String("choose"))
        controller.choosePlan(argument);
    else if (call == QLatin1String("prepare"))
        controller.preparePlanCheckout(argument, QString());
    else if (call == QLatin1String("resume"))
        controller.resumeOrder(argument);
    else
        controller.cancelOrder(argument);
    QCOMPARE(controller.apiError(), apiError);
    QVERIFY(!controller.busy());

    QSignalSpy toast(&controller, &AppController::toastMessageChanged);
    controller.claimDailyTrial();
    controller.claimDailyTrial();
    QCOMPARE(controller.toastMessage(), QStringLiteral("请先登录后再领取体验会员。"));
    QCOMPARE(toast.count(), 1);
    QTest::qWait(50);
    for (const char *route : {"/api/v1/payments/checkout", "/api/v1/orders", "/api/v1/orders/cancel",
                              "/api/v1/trial/claim"})
        QCOMPARE(m_server->requestCount(QLatin1String(route)), 0);
}

void BillingFlowsTest::buyPlanOnCheckoutPage()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    QVERIFY(!controller->hasActiveMembership());

    QSignalSpy offered(controller.get(), &AppController::planCheckoutRequested);
    controller->preparePlanCheckout(QLatin1String(kQuarterly), QStringLiteral("季付"));
    QTRY_COMPARE_WITH_TIMEOUT(offered.count(), 1, 10000);
    QCOMPARE(offered.first().at(2).toString(), QString());
    QCOMPARE(offered.first().at(3).toBool(), false);

    const QUrl page = checkout(*controller, QLatin1String(kQuarterly));
    QVERIFY(page.isValid());
    QCOMPARE(page.scheme(), QStringLiteral("http"));
    QCOMPARE(controller->statusText(), QStringLiteral("已打开支付页面，请完成支付后返回刷新。"));
    const QString orderId = QUrlQuery(page).queryItemValue(QStringLiteral("order"));
    QCOMPARE(controller->pendingOrderId(), orderId);
    // The bootstrap that follows the checkout finds the order pending and keeps the watch.
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*controller, orderId), QStringLiteral("pending"), 10000);
    QVERIFY(controller->pendingOrderWatchRunning());

    QCOMPARE(pressCheckoutButton(page, QStringLiteral("pay")), 200);
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("支付成功，套餐状态已更新。"), 10000);
    QVERIFY(controller->hasActiveMembership());
    QCOMPARE(controller->selectedPlanId(), QLatin1String(kQuarterly));
    QCOMPARE(controller->currentPlanName(), QStringLiteral("季付"));
    QVERIFY(!controller->pendingOrderWatchRunning());
    QVERIFY(controller->pendingOrderId().isEmpty());
    QCOMPARE(statusOf(*controller, orderId), QStringLiteral("paid"));
    // A paid order cannot be cancelled or paid again on its page.
    QCOMPARE(pressCheckoutButton(page, QStringLiteral("cancel")), 409);
}

void BillingFlowsTest::cancelFromBillingList()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    const QUrl page = checkout(*controller, QStringLiteral("lite-monthly"));
    const QString orderId = QUrlQuery(page).queryItemValue(QStringLiteral("order"));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*controller, orderId), QStringLiteral("pending"), 10000);

    controller->cancelOrder(orderId);
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("订单已取消。"), 10000);
    QVERIFY(!controller->pendingOrderWatchRunning());
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(*controller, orderId), QStringLiteral("canceled"), 10000);
    QVERIFY(controller->apiError().isEmpty());
    // Resuming a cancelled order is refused by the server and shown as its text
    // (until the reloads that follow clear it).
    QStringList errors;
    connect(controller.get(), &AppController::apiErrorChanged, this, [&] { errors << controller->apiError(); });
    controller->resumeOrder(orderId);
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QStringLiteral("该订单已取消，请重新创建新订单。")), 10000);
    QVERIFY(!controller->pendingOrderWatchRunning());
}

void BillingFlowsTest::cancelOnCheckoutPage()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    QStringList errors;
    connect(controller.get(), &AppController::apiErrorChanged, this, [&] { errors << controller->apiError(); });
    const QUrl page = checkout(*controller, QStringLiteral("team-yearly"));
    QVERIFY(controller->pendingOrderWatchRunning());

    QCOMPARE(pressCheckoutButton(page, QStringLiteral("cancel")), 200);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->pendingOrderWatchRunning(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("订单已取消。"), 10000);
    QVERIFY2(errors.contains(QStringLiteral("该订单已取消，请重新创建新订单。")), qPrintable(errors.join('|')));
    QVERIFY(!controller->hasActiveMembership());
}

void BillingFlowsTest::unopenedCheckoutKeepsWatching()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    bool asked = false;
    controller->setUrlOpener([&asked](const QUrl &) {
        asked = true;
        return false;
    });
    controller->choosePlan(QStringLiteral("lite-monthly"));
    QTRY_VERIFY_WITH_TIMEOUT(asked && !controller->busy(), 10000);
    QCOMPARE(controller->statusText(), QStringLiteral("无法打开支付页面，请在账单页继续支付。"));
    QVERIFY(controller->pendingOrderWatchRunning());
    QVERIFY(!controller->pendingOrderId().isEmpty());
}

void BillingFlowsTest::checkoutNoticeOffersTheLink_data()
{
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("status");

    const QString failed = QStringLiteral("无法打开支付页面，请在账单页继续支付。"); // i18n-exempt: expected text
    QTest::newRow("new order, no browser") << false << false << failed;
    QTest::newRow("resumed order, no browser") << true << false << failed;
    QTest::newRow("new order, page opened")
        << false << true << QStringLiteral("已打开支付页面，请完成支付后返回刷新。"); // i18n-exempt: expected text
}

// When no browser takes the checkout page, the notice carries the page's address (to open or
// copy by hand) and the order stays watched; "继续支付" ends the same way.
void BillingFlowsTest::checkoutNoticeOffersTheLink()
{
    QFETCH(bool, resume);
    QFETCH(bool, opens);
    QFETCH(QString, status);
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    QString orderId;
    if (resume) {
        const QUrl first = checkout(*controller, QStringLiteral("lite-monthly"));
        orderId = QUrlQuery(first).queryItemValue(QStringLiteral("order"));
        QVERIFY(!orderId.isEmpty());
    }
    QList<QUrl> asked;
    controller->setUrlOpener([&asked, opens](const QUrl &url) {
        asked << url;
        return opens;
    });
    QSignalSpy notices(controller.get(), &AppController::checkoutNoticeChanged);
    QVERIFY(notices.isValid());
    if (resume)
        controller->resumeOrder(orderId);
    else
        controller->choosePlan(QStringLiteral("team-yearly"));
    QTRY_VERIFY_WITH_TIMEOUT(asked.size() == 1 && !controller->busy(), 10000);
    QCOMPARE(controller->statusText(), status);
    const QVariantMap notice = controller->checkoutNotice();
    QCOMPARE(notice.value(QStringLiteral("opened")).toBool(), opens);
    QCOMPARE(notice.value(QStringLiteral("message")).toString(), status);
    // The link offered is the page the browser would have shown, and it still works.
    const QUrl offered(notice.value(QStringLiteral("url")).toString());
    QCOMPARE(offered, asked.first());
    QVERIFY(offered.scheme() == QLatin1String("http"));
    if (resume)
        QCOMPARE(notice.value(QStringLiteral("orderId")).toString(), orderId);
    QCOMPARE(notice.value(QStringLiteral("orderId")).toString(), controller->pendingOrderId());
    QVERIFY(controller->pendingOrderWatchRunning());

    // Paying on that page ends the watch and the notice with it.
    QCOMPARE(pressCheckoutButton(offered, QStringLiteral("pay")), 200);
    QTRY_COMPARE_WITH_TIMEOUT(controller->statusText(), QStringLiteral("支付成功，套餐状态已更新。"), 10000);
    QVERIFY(controller->checkoutNotice().isEmpty());
    QVERIFY(!controller->pendingOrderWatchRunning());
}

void BillingFlowsTest::unansweredOrderRunsOutOfPolls()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    const QString confirm = QStringLiteral("/api/v1/payments/confirm");
    // Failed polls are silent: they only use up attempts.
    m_server->setFault(confirm, DevServer::Fault::withStatus(500, QStringLiteral("payment backend down"), 3));
    QStringList errors;
    connect(controller.get(), &AppController::apiErrorChanged, this, [&] { errors << controller->apiError(); });

    checkout(*controller, QStringLiteral("lite-monthly"));
    const QString orderId = controller->pendingOrderId();
    QVERIFY(!orderId.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(controller->pendingOrderFastPollsLeft() == 0, 10000);
    QVERIFY(controller->pendingOrderPollsLeft() > 0);
    QCOMPARE(controller->pendingOrderPollInterval(), 60);
    // Starting the watch again for the same order keeps its counters.
    const int left = controller->pendingOrderPollsLeft();
    controller->startPendingOrderPolling(orderId);
    QCOMPARE(controller->pendingOrderPollsLeft(), left);

    QTRY_VERIFY_WITH_TIMEOUT(!controller->pendingOrderWatchRunning(), 20000);
    QTest::qWait(150);
    QVERIFY(controller->pendingOrderId().isEmpty());
    QCOMPARE(m_server->requestCount(confirm), 60);
    QVERIFY2(errors.filter(QStringLiteral("服务")).isEmpty() && !errors.contains(QStringLiteral("payment backend down")),
             qPrintable(errors.join('|')));
    QVERIFY(controller->apiError().isEmpty());
}

void BillingFlowsTest::prepareOffersFirstPendingOrder()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    // Two unpaid orders of the plan, the newer listed first.
    m_server->run([](DevServer &server) {
        const auto account = server.store().accountByEmail(QLatin1String(kTrialEmail));
        const QDateTime now = server.store().now();
        int age = 2;
        for (const char *id : {"ORD-OLDER", "ORD-NEWER"}) {
            DevServerStore::Order order;
            order.id = QLatin1String(id);
            order.accountId = account->id;
            order.planId = QLatin1String(kQuarterly);
            order.planName = QString();
            order.amountCents = 4800;
            order.status = QStringLiteral("pending");
            order.createdAt = now.addSecs(-60 * age--);
            order.checkoutKey = QStringLiteral("k");
            server.store().addOrder(order);
        }
    });
    QSignalSpy offered(controller.get(), &AppController::planCheckoutRequested);
    controller->preparePlanCheckout(QStringLiteral(" %1 ").arg(QLatin1String(kQuarterly)), QStringLiteral("Q"));
    QTRY_COMPARE_WITH_TIMEOUT(offered.count(), 1, 10000);
    const QList<QVariant> args = offered.first();
    QCOMPARE(args.at(0).toString(), QLatin1String(kQuarterly));
    QCOMPARE(args.at(1).toString(), QStringLiteral("季付")); // the order has no name: the plan list's
    QCOMPARE(args.at(2).toString(), QStringLiteral("ORD-NEWER"));
    QCOMPARE(args.at(3).toBool(), true);

    controller->resumeOrder(QStringLiteral("ORD-NEWER"));
    QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
    QCOMPARE(QUrlQuery(m_opened.first()).queryItemValue(QStringLiteral("order")), QStringLiteral("ORD-NEWER"));
    QCOMPARE(controller->pendingOrderId(), QStringLiteral("ORD-NEWER"));
}

void BillingFlowsTest::dailyTrialOncePerDay()
{
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    QVERIFY(controller->trialClaimStatus().value(QStringLiteral("can_claim")).toBool());
    QStringList toasts;
    connect(controller.get(), &AppController::toastMessageChanged, this, [&] { toasts << controller->toastMessage(); });

    controller->claimDailyTrial();
    QTRY_VERIFY_WITH_TIMEOUT(toasts.contains(QStringLiteral("体验会员已领取。")), 10000);
    QVERIFY(controller->hasActiveMembership());
    QCOMPARE(controller->currentPlanName(), QStringLiteral("体验会员"));
    QVERIFY(controller->trialClaimStatus().value(QStringLiteral("claimed_today")).toBool());
    QVERIFY(!controller->trialClaimStatus().value(QStringLiteral("can_claim")).toBool());
    QCOMPARE(QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")) // i18n-exempt: store name
                 .value(QStringLiteral("session/planType")).toString(),
             QStringLiteral("trial"));

    controller->claimDailyTrial();
    QTRY_VERIFY_WITH_TIMEOUT(toasts.contains(QStringLiteral("您今天已领取，请明天再来。")), 10000);
    QVERIFY(controller->hasActiveMembership());
    QVERIFY(controller->apiError().isEmpty());
}

// The server ends a trial at its minute; the client must not wait for the
// next start-up to learn it.
void BillingFlowsTest::endedTrialAskedAgainAtItsEnd()
{
    bool stored = false;
    m_server->run([&stored](DevServer &server) {
        const auto account = server.store().accountByEmail(QLatin1String(kTrialEmail));
        stored = account && server.store().setMembership(account->id, QStringLiteral("trial"),
                                                          QStringLiteral("体验会员"), server.store().now().addSecs(4));
    });
    QVERIFY(stored);
    auto controller = signedIn(QLatin1String(kTrialEmail), QLatin1String(kTrialPassword));
    QVERIFY(controller);
    QVERIFY(controller->hasActiveMembership());
    QVERIFY(controller->membershipEndTimer() && controller->membershipEndTimer()->isActive());
    const int asked = m_server->requestCount(QStringLiteral("/api/v1/bootstrap"));

    QTRY_VERIFY_WITH_TIMEOUT(!controller->hasActiveMembership(), 15000);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/bootstrap")), asked + 1);
    QCOMPARE(controller->currentPlanStatusText(), QStringLiteral("已过期"));
    // Nothing ahead any more: the timer rests.
    QVERIFY(!controller->membershipEndTimer()->isActive());
    QTest::qWait(500);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/bootstrap")), asked + 1);

    controller->signOut();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 10000);
    QVERIFY(!controller->membershipEndTimer()->isActive());
}

QTEST_GUILESS_MAIN(BillingFlowsTest)
#include "tst_billingflows.moc"
