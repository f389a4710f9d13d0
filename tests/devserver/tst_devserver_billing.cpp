#include "client/api/backendcontract.h"
#include "devservertestclient.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QWebSocket>
#include <QtTest>

using namespace Backend::Path;

namespace {

bool hasEvent(const QList<QJsonObject> &events, const QString &type)
{
    return std::any_of(events.cbegin(), events.cend(),
        [&type](const QJsonObject &event) { return event.value(QStringLiteral("type")).toString() == type; });
}

// The checkout page's path and query for an action ("" for the page itself).
QString checkoutPath(const QString &checkoutUrl, const QString &action)
{
    const QUrl url(checkoutUrl);
    return (action.isEmpty() ? url.path() : url.path() + QLatin1Char('/') + action) + QLatin1Char('?') + url.query();
}

} // namespace

// Orders, the checkout page and the daily trial of the development backend.
class DevServerBillingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void paidOnCheckoutPagePushesAndPersists();
    void orderRulesRefuseWhatCannotHappen();
    void trialOncePerDayAndNotForMembers();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void DevServerBillingTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
}

void DevServerBillingTest::paidOnCheckoutPagePushesAndPersists()
{
    QTemporaryDir data;
    DevServer::Options options;
    options.dataDir = data.path();
    DevServerRunner server(options);
    QVERIFY(server.isRunning());
    DevServerTestClient client(server);
    const QString email = client.newAccount();
    const QString token = client.signIn(email, DevServerTestClient::password());
    QVERIFY(!token.isEmpty());
    QList<QJsonObject> events;
    auto stream = client.openStream(token, &events);

    const DevAnswer checkout = client.post(QLatin1String(kPaymentsCheckout), {{"plan_id", "pro-yearly"}}, token);
    QCOMPARE(checkout.status, 200);
    const QString url = checkout.json().value(QStringLiteral("checkout_url")).toString();
    const QString orderId = checkout.json().value(QStringLiteral("order")).toObject().value(QStringLiteral("id")).toString();
    QVERIFY(url.startsWith(server.baseUrl() + QStringLiteral("/checkout?")));

    const DevAnswer page = client.get(checkoutPath(url, QString()));
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("支付") && page.body.contains("取消") && page.body.contains(orderId.toUtf8()));
    // Without its key the page is no way into the order.
    const QString wrongKey = checkoutPath(url, QStringLiteral("pay")).replace(QStringLiteral("key="), QStringLiteral("key=x"));
    QCOMPARE(client.send("POST", wrongKey).status, 404);

    QCOMPARE(client.send("POST", checkoutPath(url, QStringLiteral("pay"))).status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(events, QStringLiteral("order_updated")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(events, QStringLiteral("membership_updated")), 5000);
    const DevAnswer confirm = client.post(QLatin1String(kPaymentsConfirm), {{"order_id", orderId}}, token);
    QCOMPARE(confirm.json().value(QStringLiteral("paid")).toBool(), true);
    stream.reset();

    // Orders and the membership survive a restart on the same data.
    QVERIFY(server.start(options));
    const QString again = client.signIn(email, DevServerTestClient::password());
    const QJsonObject user = client.get(QLatin1String(kBootstrap), again).json().value(QStringLiteral("user")).toObject();
    QVERIFY(user.value(QStringLiteral("membership_active")).toBool());
    QCOMPARE(user.value(QStringLiteral("active_plan_id")).toString(), QStringLiteral("pro-yearly"));
    const QJsonArray items = client.get(QLatin1String(kOrders), again).json().value(QStringLiteral("items")).toArray();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().toObject().value(QStringLiteral("status")).toString(), QStringLiteral("paid"));
}

void DevServerBillingTest::orderRulesRefuseWhatCannotHappen()
{
    DevServerRunner server;
    DevServerTestClient client(server);
    const QString token = client.signIn(client.newAccount(), DevServerTestClient::password());
    const QString other = client.signIn(client.newAccount(), DevServerTestClient::password());

    QCOMPARE(client.post(QLatin1String(kPaymentsCheckout), {{"plan_id", "nope"}}, token).errorText(),
        QStringLiteral("plan not found"));
    const DevAnswer first = client.post(QLatin1String(kPaymentsCheckout), {{"plan_id", "lite-monthly"}}, token);
    const QString orderId = first.json().value(QStringLiteral("order")).toObject().value(QStringLiteral("id")).toString();
    QCOMPARE(client.post(QLatin1String(kPaymentsCheckout), {{"plan_id", "lite-monthly"}}, token).errorText(),
        QStringLiteral("pending order exists"));
    // By order: the same checkout again.
    const DevAnswer resumed = client.post(QLatin1String(kPaymentsCheckout), {{"order_id", orderId}}, token);
    QCOMPARE(resumed.json().value(QStringLiteral("checkout_url")), first.json().value(QStringLiteral("checkout_url")));
    QCOMPARE(client.post(QLatin1String(kPaymentsConfirm), {{"order_id", orderId}}, other).status, 404);
    QCOMPARE(client.post(QLatin1String(kOrdersCancel), {{"order_id", orderId}}, other).status, 404);

    QCOMPARE(client.post(QLatin1String(kOrdersCancel), {{"order_id", orderId}}, token).status, 200);
    QCOMPARE(client.post(QLatin1String(kPaymentsCheckout), {{"order_id", orderId}}, token).errorText(),
        QStringLiteral("order already canceled"));
    const QString page = first.json().value(QStringLiteral("checkout_url")).toString();
    QCOMPARE(client.send("POST", checkoutPath(page, QStringLiteral("pay"))).status, 409);
    QCOMPARE(client.post(QLatin1String(kPaymentsConfirm), {{"order_id", orderId}}, token)
                 .json().value(QStringLiteral("order")).toObject().value(QStringLiteral("status")).toString(),
        QStringLiteral("canceled"));
}

void DevServerBillingTest::trialOncePerDayAndNotForMembers()
{
    DevServerRunner server;
    DevServerTestClient client(server);
    const QString token = client.signIn(client.newAccount(), DevServerTestClient::password());
    const DevAnswer claimed = client.post(QLatin1String(kTrialClaim), {}, token);
    QCOMPARE(claimed.json().value(QStringLiteral("ok")).toBool(), true);
    const QJsonObject user = claimed.json().value(QStringLiteral("user")).toObject();
    QVERIFY(user.value(QStringLiteral("membership_active")).toBool());
    QCOMPARE(user.value(QStringLiteral("plan_type")).toString(), QStringLiteral("trial"));
    QCOMPARE(claimed.json().value(QStringLiteral("trial_claim")).toObject().value(QStringLiteral("claimed_today")).toBool(),
        true);

    const DevAnswer again = client.post(QLatin1String(kTrialClaim), {}, token);
    QCOMPARE(again.status, 200);
    QCOMPARE(again.json().value(QStringLiteral("ok")).toBool(), false);
    QCOMPARE(again.errorText(), QStringLiteral("trial already claimed today"));

    const QString member = client.signIn(client.newAccount(QStringLiteral("team-yearly")), DevServerTestClient::password());
    QCOMPARE(client.post(QLatin1String(kTrialClaim), {}, member).errorText(),
        QStringLiteral("trial unavailable for paid member"));
}

QTEST_GUILESS_MAIN(DevServerBillingTest)
#include "tst_devserver_billing.moc"
