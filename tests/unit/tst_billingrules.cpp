#include "model/billing.h"

#include <QtTest>

// The pure rules behind checkout: reading checkout answers, which addresses
// may reach the URL handler, the pending-order choice and the poll budget.
class BillingRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checkoutReaders_data();
    void checkoutReaders();
    void openableUrls_data();
    void openableUrls();
    void checkoutPageUrl_data();
    void checkoutPageUrl();
    void planCycles_data();
    void planCycles();
    void trialClaimOutcome_data();
    void trialClaimOutcome();
    void orderAmount();
    void confirmStatus_data();
    void confirmStatus();
    void pendingOrderChoice();
    void pollBudgetSwitchesIntervalAfterFastPolls();
};

void BillingRulesTest::checkoutReaders_data()
{
    QTest::addColumn<QVariantMap>("response");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("orderId");

    const QString page = QStringLiteral("https://pay.example.com/c/1");
    QTest::newRow("url under data, payment, checkoutUrl")
        << QVariantMap{{"data", QVariantMap{{"payment", QVariantMap{{"checkoutUrl", page}}},
                                            {"order", QVariantMap{{"id", "A1"}}}}}}
        << page << "A1";
    QTest::newRow("only order with order_id")
        << QVariantMap{{"order", QVariantMap{{"order_id", " B2 "}}}} << QString() << "B2";
    QTest::newRow("top-level order_id when order has none")
        << QVariantMap{{"order", QVariantMap{{"status", "pending"}}}, {"order_id", "C3"}} << QString() << "C3";
    QTest::newRow("payload wins over the answer itself")
        << QVariantMap{{"payload", QVariantMap{{"checkout_url", page}}}, {"checkout_url", "http://other.example/"}}
        << page << QString();
    QTest::newRow("key order: checkout_url before msg")
        << QVariantMap{{"msg", "http://msg.example/"}, {"checkout_url", page}} << page << QString();
    QTest::newRow("msg as a web URL")
        << QVariantMap{{"msg", "https://pay.example.com/m?x=1"}} << "https://pay.example.com/m?x=1" << QString();
    QTest::newRow("msg as an error sentence is no URL")
        << QVariantMap{{"msg", "payment provider unavailable"}} << QString() << QString();
    QTest::newRow("msg as a windows path is no URL")
        << QVariantMap{{"msg", "C:\\Windows\\notepad.exe"}} << QString() << QString();
    QTest::newRow("msg with a file scheme is no URL")
        << QVariantMap{{"msg", "file:///etc/passwd"}} << QString() << QString();
    QTest::newRow("blank named key falls through to the order map")
        << QVariantMap{{"checkout_url", "  "}, {"order", QVariantMap{{"errorUrl", page}, {"id", "D4"}}}} << page << "D4";
}

void BillingRulesTest::checkoutReaders()
{
    QFETCH(QVariantMap, response);
    QFETCH(QString, url);
    QFETCH(QString, orderId);
    QCOMPARE(Billing::checkoutUrlFromResponse(response), url);
    QCOMPARE(Billing::checkoutOrderIdFromResponse(response), orderId);
}

void BillingRulesTest::openableUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("openable");

    QTest::newRow("http") << "http://127.0.0.1:8080/checkout?order=1" << true;
    QTest::newRow("https") << "https://pay.example.com/c" << true;
    QTest::newRow("upper-case scheme") << "HTTPS://pay.example.com/c" << true;
    QTest::newRow("file") << "file:///C:/Windows/System32/calc.exe" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("custom scheme") << "quillet-pay://order/1" << false;
    QTest::newRow("unc path") << "\\\\server\\share\\pay.exe" << false;
    QTest::newRow("bare command") << "calc.exe" << false;
    QTest::newRow("http without host") << "http:///path" << false;
    QTest::newRow("empty") << "" << false;
}

void BillingRulesTest::openableUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, openable);
    QCOMPARE(Billing::isOpenableCheckoutUrl(QUrl(url, QUrl::StrictMode)), openable);
    QCOMPARE(Billing::isStrictWebUrl(url), openable);
}

void BillingRulesTest::checkoutPageUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host"); // empty: refused
    QTest::addColumn<QString>("kept"); // a part of the query that must survive

    QTest::newRow("raw pipe") << "https://pay.example.com/c?sig=a|b&key=k1" << "pay.example.com" << "key=k1";
    QTest::newRow("raw braces") << R"(https://pay.example.com/c?d={"o":1}&key=k2)" << "pay.example.com" << "key=k2";
    QTest::newRow("caret and blank") << "https://pay.example.com/c?x=^ y&key=k3" << "pay.example.com" << "key=k3";
    QTest::newRow("lone percent") << "http://127.0.0.1:8080/checkout?rate=5%&key=k4" << "127.0.0.1" << "key=k4";
    QTest::newRow("surrounding blanks") << "  HTTPS://pay.example.com/c?key=k5 " << "pay.example.com" << "key=k5";
    QTest::newRow("file") << "file:///C:/Windows/System32/calc.exe" << "" << "";
    QTest::newRow("javascript") << "javascript:alert(1)" << "" << "";
    QTest::newRow("custom scheme") << "quillet-pay://order/1" << "" << "";
    QTest::newRow("unc path") << "\\\\server\\share\\pay.exe" << "" << "";
    QTest::newRow("bare command") << "calc.exe" << "" << "";
    QTest::newRow("windows path") << "C:\\pay.exe" << "" << "";
    QTest::newRow("http without host") << "http:///path" << "" << "";
    QTest::newRow("empty") << "" << "" << "";
}

void BillingRulesTest::checkoutPageUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(QString, kept);
    const QUrl page = Billing::checkoutPageUrl(url);
    QCOMPARE(page.isValid(), !host.isEmpty());
    if (host.isEmpty())
        return;
    QCOMPARE(page.host(), host);
    QVERIFY(page.scheme() == QLatin1String("http") || page.scheme() == QLatin1String("https"));
    QVERIFY2(page.toString(QUrl::FullyDecoded).contains(kept), qPrintable(page.toString()));
}

void BillingRulesTest::planCycles_data()
{
    QTest::addColumn<QVariantMap>("plan");
    QTest::addColumn<QString>("cycle");

    QTest::newRow("billing word monthly") << QVariantMap{{"billing", "monthly"}} << "monthly";
    QTest::newRow("billing word annual") << QVariantMap{{"billing", "annual"}} << "yearly";
    QTest::newRow("semiannual billing is not yearly") << QVariantMap{{"billing", "semiannual"}} << "semiannual";
    QTest::newRow("half-year name is not yearly") << QVariantMap{{"id", "p6"}, {"name", "半年付"}} << "semiannual";
    QTest::newRow("cycle field wins over the id") << QVariantMap{{"id", "team-yearly"}, {"cycle", "quarterly"}}
                                                  << "quarterly";
    QTest::newRow("months field") << QVariantMap{{"id", "pro-yearly"}, {"duration_months", 3}} << "quarterly";
    QTest::newRow("six months") << QVariantMap{{"name", "年中特惠"}, {"months", 6}} << "semiannual";
    QTest::newRow("days field") << QVariantMap{{"name", "x"}, {"duration_days", 365}} << "yearly";
    QTest::newRow("duration as a word") << QVariantMap{{"duration", "month"}} << "monthly";
    QTest::newRow("duration in months") << QVariantMap{{"duration", 12}} << "yearly";
    QTest::newRow("quarter word in id") << QVariantMap{{"id", "season-pass"}} << "quarterly";
    QTest::newRow("nothing known") << QVariantMap{{"id", "gold"}, {"name", "Gold"}} << "";
}

void BillingRulesTest::planCycles()
{
    QFETCH(QVariantMap, plan);
    QFETCH(QString, cycle);
    QCOMPARE(Billing::planCycle(plan), cycle);
}

void BillingRulesTest::trialClaimOutcome_data()
{
    QTest::addColumn<QVariantMap>("response");
    QTest::addColumn<int>("outcome");

    using O = Billing::TrialClaimOutcome;
    const QVariantMap claimedTrial{{"claimed_today", true}};
    const QVariantMap notClaimed{{"claimed_today", false}, {"can_claim", true}};
    QTest::newRow("ok true") << QVariantMap{{"ok", true}} << int(O::Claimed);
    QTest::newRow("ok false") << QVariantMap{{"ok", false}, {"error", "already claimed"}} << int(O::Refused);
    QTest::newRow("no ok, trial claimed") << QVariantMap{{"trial_claim", claimedTrial}} << int(O::Claimed);
    QTest::newRow("no ok, camel case") << QVariantMap{{"status", QVariantMap{{"claimedToday", true}}}}
                                       << int(O::Claimed);
    QTest::newRow("no ok, trial not claimed") << QVariantMap{{"trial", notClaimed}} << int(O::Refused);
    QTest::newRow("no ok, trial membership active")
        << QVariantMap{{"user", QVariantMap{{"membership_active", true}, {"plan_type", "Trial"}}}} << int(O::Claimed);
    QTest::newRow("no ok, membership inactive")
        << QVariantMap{{"user", QVariantMap{{"membership_active", false}}}} << int(O::Refused);
    QTest::newRow("no ok, nothing") << QVariantMap{{"message", "done"}} << int(O::Unknown);
}

void BillingRulesTest::trialClaimOutcome()
{
    QFETCH(QVariantMap, response);
    QFETCH(int, outcome);
    QCOMPARE(int(Billing::trialClaimOutcome(response)), outcome);
}

void BillingRulesTest::orderAmount()
{
    const QVariantList orders{QVariantMap{{"id", "o-1"}, {"amount", " ¥18 "}},
                              QVariantMap{{"id", " o-2 "}, {"total", "48"}}, QVariantMap{{"id", "o-3"}}};
    QCOMPARE(Billing::orderAmount(orders, QStringLiteral("o-1")), QStringLiteral("¥18"));
    QCOMPARE(Billing::orderAmount(orders, QStringLiteral("o-2")), QStringLiteral("48"));
    QCOMPARE(Billing::orderAmount(orders, QStringLiteral("o-3")), QString());
    QCOMPARE(Billing::orderAmount(orders, QStringLiteral("o-9")), QString());
    QCOMPARE(Billing::orderById(orders, QString()), QVariantMap());
}

void BillingRulesTest::confirmStatus_data()
{
    QTest::addColumn<QVariantMap>("response");
    QTest::addColumn<QString>("status");

    QTest::newRow("paid flag alone") << QVariantMap{{"paid", true}} << "paid";
    QTest::newRow("padded pending") << QVariantMap{{"order", QVariantMap{{"status", " Pending "}}}} << "pending";
    QTest::newRow("status wins over the flag")
        << QVariantMap{{"order", QVariantMap{{"status", "Canceled"}}}, {"paid", true}} << "canceled";
    QTest::newRow("nothing") << QVariantMap{{"paid", false}} << QString();
}

void BillingRulesTest::confirmStatus()
{
    QFETCH(QVariantMap, response);
    QFETCH(QString, status);
    QCOMPARE(Billing::confirmedOrderStatus(response), status);
}

void BillingRulesTest::pendingOrderChoice()
{
    const QVariantList orders{
        QVariantMap{{"id", "P0"}, {"status", "paid"}, {"plan_id", "q"}},
        QVariantMap{{"id", "P1"}, {"status", " PENDING "}, {"plan_id", " q "}, {"title", "Quarter"}},
        QVariantMap{{"id", "P2"}, {"status", "pending"}, {"plan_id", "q"}, {"plan_name", "Second"}},
        QVariantMap{{"id", ""}, {"status", "pending"}, {"plan_id", "m"}},
    };
    const Billing::PendingOrderMatch match = Billing::pendingOrderForPlan(orders, QStringLiteral("q"));
    QCOMPARE(match.orderId, QStringLiteral("P1"));
    QCOMPARE(match.planId, QStringLiteral("q"));
    QCOMPARE(match.planName, QStringLiteral("Quarter"));
    QVERIFY(Billing::pendingOrderForPlan(orders, QStringLiteral("y")).orderId.isEmpty());
    QCOMPARE(Billing::firstPendingOrderId(orders), QStringLiteral("P1"));
    QVERIFY(Billing::firstPendingOrderId({orders.at(0), orders.at(3)}).isEmpty());

    QVariantMap billing{{"orders", orders}};
    QVERIFY(Billing::markOrderCanceled(billing, QStringLiteral("P2")));
    QCOMPARE(billing.value("orders").toList().at(2).toMap().value("status").toString(), QStringLiteral("canceled"));
    QVERIFY(!Billing::markOrderCanceled(billing, QStringLiteral("nope")));
}

void BillingRulesTest::pollBudgetSwitchesIntervalAfterFastPolls()
{
    Billing::PollBudget budget = Billing::freshPollBudget();
    QCOMPARE(budget.left, 60);
    QCOMPARE(Billing::pollIntervalMs(budget), 1000);
    int consumed = 0;
    QList<int> intervals;
    while (Billing::consumePollAttempt(budget)) {
        ++consumed;
        intervals << Billing::pollIntervalMs(budget);
    }
    QCOMPARE(consumed + 1, 60);
    QCOMPARE(budget.left, 0);
    QCOMPARE(intervals.at(10), 1000); // 11 consumed: one fast poll left
    QCOMPARE(intervals.at(11), 5000); // 12 consumed
    QCOMPARE(intervals.count(1000), 11);
}

QTEST_APPLESS_MAIN(BillingRulesTest)
#include "tst_billingrules.moc"
