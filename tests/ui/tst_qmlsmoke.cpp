#include "controller/appcontroller.h"
#include "testenvironment.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

namespace {

QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

// Every warning the QML engine reports while the window lives is a failure.
void collectingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_messages << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

class QmlSmokeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void loadsWithoutWarnings();
    void layersMadeOnFirstUse_data();
    void layersMadeOnFirstUse();
    void toastMadeWithFirstMessage();
    void everyPageLoadsWithoutWarnings_data();
    void everyPageLoadsWithoutWarnings();
    void titleFollowsLanguage();
    void closeRequestOnlyOffersToHide();
    void connectPageReadings_data();
    void connectPageReadings();
    void trafficSeriesIsThirtyRates_data();
    void trafficSeriesIsThirtyRates();
    void membershipPrompt_data();
    void membershipPrompt();
    void halfYearPlanKeepsYearlyOnPage();
    void serverTextNeverRendersAsMarkup_data();
    void serverTextNeverRendersAsMarkup();

private:
    QObject *rootWindow() const { return m_engine->rootObjects().value(0); }
    QVariant callWindow(const char *function, const QVariant &argument) const;

    TestEnvironment m_env;
    AppController *m_controller = nullptr;
    QQmlApplicationEngine *m_engine = nullptr;
};

void QmlSmokeTest::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(collectingHandler);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    m_controller = new AppController;
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    m_engine = new QQmlApplicationEngine;
    m_engine->rootContext()->setContextProperty(QStringLiteral("appController"), m_controller);
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
}

void QmlSmokeTest::cleanupTestCase()
{
    delete m_engine;
    delete m_controller;
    qInstallMessageHandler(g_previousHandler);
}

void QmlSmokeTest::loadsWithoutWarnings()
{
    QTest::qWait(200);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    QVERIFY(window);
    QCOMPARE(window->width(), 1240);
    QCOMPARE(window->height(), 780);
    QVERIFY(window->flags() & Qt::FramelessWindowHint);
}

void QmlSmokeTest::layersMadeOnFirstUse_data()
{
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("showValue");
    QTest::addColumn<QVariant>("hideValue");

    QTest::newRow("close dialog") << "closeDialog" << QByteArray("closeDialogVisible") << QVariant(true) << QVariant(false);
    QTest::newRow("speed test needs the tunnel") << "speedTestVpnDialog" << QByteArray("speedTestVpnDialogVisible")
                                                 << QVariant(true) << QVariant(false);
    QTest::newRow("unknown policy shows nothing") << "policyDialog" << QByteArray("policyDialogKind")
                                                  << QVariant(QStringLiteral("no-such-policy")) << QVariant(QString());
    QTest::newRow("policy") << "policyDialog" << QByteArray("policyDialogKind") << QVariant(QStringLiteral("terms"))
                            << QVariant(QString());
    QTest::newRow("delete account") << "deleteAccountDialog" << QByteArray("deleteAccountDialogVisible") << QVariant(true)
                                    << QVariant(false);
    QTest::newRow("device revoke") << "deviceRevokeDialog" << QByteArray("deviceRevokeTarget")
                                   << QVariant(QVariantMap{{QStringLiteral("id"), QStringLiteral("d1")},
                                                           {QStringLiteral("name"), QStringLiteral("Laptop")}})
                                   << QVariant::fromValue(nullptr);
    QTest::newRow("checkout") << "checkoutDialog" << QByteArray("checkoutDialogVisible") << QVariant(true) << QVariant(false);
    QTest::newRow("trial prompt") << "trialPrompt" << QByteArray("trialPromptVisible") << QVariant(true) << QVariant(false);
}

// The sign-in page's first frame builds no dialog and no sidebar; a dialog is made when first shown,
// then kept (hidden) so it opens again with its fade.
void QmlSmokeTest::layersMadeOnFirstUse()
{
    QFETCH(QString, layer);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, showValue);
    QFETCH(QVariant, hideValue);
    QObject *window = rootWindow();
    const bool opens = !showValue.toString().startsWith(QLatin1String("no-such"));
    QCOMPARE(m_controller->currentPage(), QStringLiteral("auth"));
    auto *sidebar = window->findChild<QObject *>(QStringLiteral("sidebar"));
    QVERIFY(sidebar);
    QVERIFY(!sidebar->property("item").value<QObject *>());
    const auto find = [&] { return window->findChild<QObject *>(layer); };
    QVERIFY(!find());
    g_messages.clear();

    for (int round = 0; round < 2; ++round) {
        QVERIFY(window->setProperty(property.constData(), showValue));
        if (!opens) {
            QVERIFY(!find());
            break;
        }
        QObject *shown = find();
        QVERIFY(shown);
        QVERIFY(shown->property("visible").toBool());
        QTRY_COMPARE(shown->property("opacity").toDouble(), 1.0);
        QVERIFY(window->setProperty(property.constData(), hideValue));
        QCOMPARE(find(), shown);
        QVERIFY(!shown->property("visible").toBool());
    }
    QVERIFY(window->setProperty(property.constData(), hideValue));
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::toastMadeWithFirstMessage()
{
    QObject *window = rootWindow();
    QVERIFY(!window->findChild<QObject *>(QStringLiteral("toast")));
    g_messages.clear();
    m_controller->showApiErrorMessage(QStringLiteral("Network unreachable"));
    auto *toast = window->findChild<QObject *>(QStringLiteral("toast"));
    QVERIFY(toast);
    QTRY_COMPARE(toast->property("opacity").toDouble(), 1.0);
    QVERIFY(toast->property("visible").toBool());
    // Cleared, it fades out and stays made.
    m_controller->clearToastMessage();
    QTRY_VERIFY(!toast->property("visible").toBool());
    QCOMPARE(window->findChild<QObject *>(QStringLiteral("toast")), toast);
    m_controller->showApiErrorMessage(QStringLiteral("Again"));
    QTRY_VERIFY(toast->property("visible").toBool());
    m_controller->clearToastMessage();
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::everyPageLoadsWithoutWarnings_data()
{
    QTest::addColumn<QString>("page");
    for (const char *page : {"connect", "dashboard", "servers", "speedtest", "plans", "stats", "profile", "settings",
                             "billing", "devices", "invite", "messages", "supportChat", "auth", "unknown-page"})
        QTest::newRow(page) << QString::fromLatin1(page);
}

void QmlSmokeTest::everyPageLoadsWithoutWarnings()
{
    QFETCH(QString, page);
    g_messages.clear();
    m_controller->setCurrentPage(page);
    QTest::qWait(150);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::titleFollowsLanguage()
{
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    QCOMPARE(window->title(), QStringLiteral("岚舟")); // i18n-exempt: the expected title
    m_controller->setLanguage(QStringLiteral("en"));
    QTRY_COMPARE(window->title(), QStringLiteral("Quillet"));
    m_controller->setLanguage(QStringLiteral("zh-Hans"));
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

void QmlSmokeTest::closeRequestOnlyOffersToHide()
{
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->close();
    QTest::qWait(100);
    QVERIFY2(window->isVisible(), "a close request must not hide the window before it is confirmed");
}

QVariant QmlSmokeTest::callWindow(const char *function, const QVariant &argument) const
{
    QVariant result;
    if (!QMetaObject::invokeMethod(rootWindow(), function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, argument)))
        qWarning("cannot call %s", function);
    return result;
}

void QmlSmokeTest::connectPageReadings_data()
{
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("pill");
    QTest::addColumn<QString>("usage");
    QTest::addColumn<QStringList>("usageParts");

    QTest::newRow("connected") << "connected" << "保护中" << "12.5 MB" << QStringList{"12.5", "MB"};
    QTest::newRow("connecting") << "connecting" << "连接中" << "0.00 GB" << QStringList{"0.00", "GB"};
    QTest::newRow("verifying") << "verifying" << "连接中" << " 3 KB " << QStringList{"3", "KB"};
    QTest::newRow("disconnecting") << "disconnecting" << "断开中" << "1.2 GB today" << QStringList{"1.2", "GB today"};
    QTest::newRow("failed") << "failed" << "连接失败" << "512B" << QStringList{"512B", ""};
    QTest::newRow("disconnected") << "disconnected" << "未保护" << "" << QStringList{"0", ""};
    QTest::newRow("unknown phase") << "paused" << "未保护" << "7 MB" << QStringList{"7", "MB"};
}

// The pill names the state of every phase, and today's usage splits at its first blank.
void QmlSmokeTest::connectPageReadings()
{
    QFETCH(QString, phase);
    QFETCH(QString, pill);
    QFETCH(QString, usage);
    QFETCH(QStringList, usageParts);
    const QVariant state = callWindow("connectionState", phase);
    // The pill tells a disconnect from a connect by the controller's phase.
    if (phase == QLatin1String("disconnecting"))
        m_controller->setVpnPhase(phase, QString());
    const QString shown = callWindow("connectionPillText", state).toString();
    m_controller->setVpnPhase(QStringLiteral("disconnected"), QString());
    QCOMPARE(shown, pill);
    QCOMPARE(callWindow("splitUsage", usage).toStringList(), usageParts);
}

void QmlSmokeTest::trafficSeriesIsThirtyRates_data()
{
    QTest::addColumn<QVariant>("history");
    QTest::addColumn<int>("zeros");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");

    QVariantList forty;
    for (int i = 1; i <= 40; ++i)
        forty << i;
    QTest::newRow("missing") << QVariant() << 30 << 0.0 << 0.0;
    QTest::newRow("not a list") << QVariant(QStringLiteral("fast")) << 30 << 0.0 << 0.0;
    QTest::newRow("short list padded in front") << QVariant(QVariantList{100, 200}) << 28 << 0.0 << 200.0;
    QTest::newRow("long list keeps the newest") << QVariant(forty) << 0 << 11.0 << 40.0;
    QTest::newRow("junk counts as zero")
        << QVariant(QVariantList{QStringLiteral("x"), -5, QVariant(), QStringLiteral("64")}) << 29 << 0.0 << 64.0;
}

// The chart always gets 30 non-negative numbers, so it draws a flat line instead of nothing.
void QmlSmokeTest::trafficSeriesIsThirtyRates()
{
    QFETCH(QVariant, history);
    QFETCH(int, zeros);
    QFETCH(double, first);
    QFETCH(double, last);
    const QVariantList series = callWindow("trafficSeries", history).toList();
    QCOMPARE(series.size(), 30);
    QCOMPARE(int(std::count_if(series.cbegin(), series.cend(), [](const QVariant &v) { return v.toDouble() == 0; })),
             zeros);
    QCOMPARE(series.first().toDouble(), first);
    QCOMPARE(series.last().toDouble(), last);
}

void QmlSmokeTest::membershipPrompt_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shownMessage");
    QTest::addColumn<bool>("expired");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("page");

    const QString noPlan = QStringLiteral("当前账号暂无有效会员资质，请先购买套餐后再连接。");
    QTest::newRow("no plan, buy") << noPlan << noPlan << false << "membershipPlansButton" << "plans";
    QTest::newRow("empty message, invite") << "" << noPlan << false << "membershipInviteButton" << "invite";
    QTest::newRow("expired") << "您的套餐已过期" << "您的套餐已过期" << true << "membershipPlansButton" << "plans"; // i18n-exempt
    QTest::newRow("term ended") << "会员期限已到" << "会员期限已到" << true << "membershipInviteButton" << "invite"; // i18n-exempt
    QTest::newRow("english expired") << "Membership EXPIRED" << "Membership EXPIRED" << true << "membershipPlansButton"
                                     << "plans";
}

// The prompt shows the gate's message, tells an expired plan by its words, and each
// button opens its page and dismisses the controller's dialog.
void QmlSmokeTest::membershipPrompt()
{
    QFETCH(QString, message);
    QFETCH(QString, shownMessage);
    QFETCH(bool, expired);
    QFETCH(QString, button);
    QFETCH(QString, page);
    g_messages.clear();
    m_controller->setCurrentPage(QStringLiteral("connect"));
    auto *prompt = rootWindow()->findChild<QObject *>(QStringLiteral("membershipPrompt"));
    QVERIFY(!prompt || !prompt->property("visible").toBool());

    // Made on first showing, then kept.
    m_controller->showMembershipDialog(message);
    prompt = rootWindow()->findChild<QObject *>(QStringLiteral("membershipPrompt"));
    QVERIFY(prompt);
    QVERIFY(prompt->property("visible").toBool());
    QCOMPARE(prompt->property("message").toString(), shownMessage);
    QCOMPARE(prompt->property("expired").toBool(), expired);
    QCOMPARE(prompt->property("heading").toString(), expired ? QStringLiteral("套餐已过期") : QStringLiteral("未开通会员")); // i18n-exempt
    auto *plans = rootWindow()->findChild<QObject *>(QStringLiteral("membershipPlansButton"));
    QVERIFY(plans);
    QCOMPARE(plans->property("text").toString(), expired ? QStringLiteral("前往充值") : QStringLiteral("购买套餐")); // i18n-exempt

    // A later gate message while the prompt is open is the one shown.
    m_controller->showMembershipDialog(QStringLiteral("Plan expired on 2026-01-01"));
    QCOMPARE(prompt->property("message").toString(), QStringLiteral("Plan expired on 2026-01-01"));
    QVERIFY(prompt->property("expired").toBool());

    auto *target = rootWindow()->findChild<QObject *>(button);
    QVERIFY(target);
    QVERIFY(QMetaObject::invokeMethod(target, "clicked"));
    QCOMPARE(m_controller->currentPage(), page);
    QVERIFY(!m_controller->membershipDialogVisible());
    QVERIFY(!prompt->property("visible").toBool());
    QTest::qWait(50);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

// Four plans with a half-year one among them: the three cards are the
// monthly, quarterly and yearly plans, never the half-year one in the yearly's place.
void QmlSmokeTest::halfYearPlanKeepsYearlyOnPage()
{
    const QVariantList plans{
        QVariantMap{{"id", "m"}, {"name", "月付"}, {"billing", "monthly"}},
        QVariantMap{{"id", "h"}, {"name", "半年付"}, {"billing", "semiannual"}},
        QVariantMap{{"id", "q"}, {"name", "季付"}, {"billing", "quarterly"}},
        QVariantMap{{"id", "y"}, {"name", "年付"}, {"billing", "annual"}},
    };
    QStringList ids;
    for (const QVariant &plan : callWindow("orderedPlans", plans).toList())
        ids << plan.toMap().value(QStringLiteral("id")).toString();
    QCOMPARE(ids, (QStringList{"m", "q", "y"}));
    // A declared cycle wins over words that say otherwise.
    const QVariantList declared{QVariantMap{{"id", "team-yearly"}, {"cycle", "monthly"}},
                                QVariantMap{{"id", "pro-yearly"}, {"cycle", "yearly"}}};
    ids.clear();
    for (const QVariant &plan : callWindow("orderedPlans", declared).toList())
        ids << plan.toMap().value(QStringLiteral("id")).toString();
    QCOMPARE(ids, (QStringList{"team-yearly", "pro-yearly"}));
}

namespace {

const QString kMarkup = QStringLiteral("<img src=\"file:///etc/hostname\"><b>Mark</b>");

// Every text item (and tooltip) that shows the marked-up server text, and how it reads it.
void collectMarkupTexts(QObject *object, QStringList *rich, int *plain)
{
    const QMetaObject *meta = object->metaObject();
    const int textIndex = meta->indexOfProperty("text");
    const int formatIndex = meta->indexOfProperty("textFormat");
    if (textIndex >= 0 && formatIndex >= 0) {
        const QString text = object->property("text").toString();
        if (text.contains(QLatin1String("<img"))) {
            if (object->property("textFormat").toInt() == 0) // Text.PlainText
                ++*plain;
            else
                *rich << QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(meta->className()), text.left(60));
        }
    }
    if (meta->indexOfProperty("contentItem") >= 0 && object->inherits("QQuickPopup")) {
        if (auto *content = object->property("contentItem").value<QObject *>()) {
            if (object->property("text").toString().contains(QLatin1String("<img")))
                collectMarkupTexts(content, rich, plain);
        }
    }
    for (QObject *child : object->children())
        collectMarkupTexts(child, rich, plain);
    if (auto *item = qobject_cast<QQuickItem *>(object)) {
        for (QQuickItem *child : item->childItems()) {
            if (child->parent() != object)
                collectMarkupTexts(child, rich, plain);
        }
    }
}

} // namespace

void QmlSmokeTest::serverTextNeverRendersAsMarkup_data()
{
    QTest::addColumn<QString>("page");
    for (const char *page : {"connect", "servers", "messages", "supportChat", "billing", "plans", "devices", "invite",
                             "stats", "speedtest"})
        QTest::newRow(page) << QString::fromLatin1(page);
}

// A node name, a message and a chat line carry markup; wherever they show, in
// a label or its tooltip, they are plain text.
void QmlSmokeTest::serverTextNeverRendersAsMarkup()
{
    QFETCH(QString, page);
    const QString name = kMarkup + QStringLiteral(" a node name long enough to be cut short in its card ") + kMarkup;
    const QVariantMap node{{"id", "mark-1"}, {"name", name}, {"country", name}, {"country_code", "hk"},
                           {"region", name}, {"latency", 20}, {"status", "online"}};
    const QVariantMap country{{"id", "hk"}, {"name", name}, {"country", name}, {"country_code", "hk"},
                              {"node_count", 1}, {"node_ids", QVariantList{"mark-1"}}, {"best_node_id", "mark-1"}};
    const QVariantMap message{{"id", "m-1"}, {"title", kMarkup}, {"body", kMarkup}, {"summary", kMarkup},
                              {"category", kMarkup}, {"read", false}};
    const QVariantMap chat{{"id", "c-1"}, {"sender", "agent"}, {"text", kMarkup}};
    const QVariantMap order{{"id", "o-1"}, {"status", "pending"}, {"plan_name", kMarkup}, {"amount", kMarkup}};
    const QVariantMap plan{{"id", "lite-monthly"}, {"name", kMarkup}, {"price", kMarkup}, {"billing", "monthly"},
                           {"description", kMarkup}, {"devices", 2}, {"highlights", QVariantList{kMarkup}}};
    const QVariantMap device{{"id", "d-1"}, {"name", kMarkup}, {"device_name", kMarkup}, {"platform", kMarkup},
                             {"location", kMarkup}};
    m_controller->applyBootstrapResponse(QVariantMap{
        {"user", QVariantMap{{"email", "mark@example.com"}, {"selected_node_id", "mark-1"}}},
        {"nodes", QVariantList{node}},
        {"node_countries", QVariantList{country}},
        {"plans", QVariantList{plan}},
        {"experience",
         QVariantMap{{"messages", QVariantMap{{"items", QVariantList{message}}}},
                     {"support", QVariantMap{{"conversation", QVariantMap{{"messages", QVariantList{chat}}}},
                                             {"contact", QVariantMap{{"email", kMarkup}}}}},
                     {"billing", QVariantMap{{"orders", QVariantList{order}}, {"plan_name", kMarkup}}},
                     {"devices", QVariantMap{{"items", QVariantList{device}}}},
                     {"invite", QVariantMap{{"code", kMarkup}, {"link", kMarkup}, {"title", kMarkup},
                                            {"description", kMarkup}, {"rules", QVariantList{kMarkup}}}}}},
    });
    m_controller->showApiErrorMessage(kMarkup);
    m_controller->setCurrentPage(page);
    auto *window = qobject_cast<QQuickWindow *>(rootWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(200);
    QStringList rich;
    int plain = 0;
    collectMarkupTexts(window, &rich, &plain);
    QVERIFY2(rich.isEmpty(), qPrintable(rich.join(QLatin1Char('\n'))));
    QVERIFY2(plain > 0, "the page shows none of the server's texts");
    if (page == QLatin1String("servers")) {
        // The node name's labels carry a tooltip of their own, reading plain text.
        int tips = 0;
        for (QObject *tip : window->findChildren<QObject *>()) {
            if (tip->inherits("QQuickToolTip") && tip->property("text").toString().contains(QLatin1String("<img"))) {
                ++tips;
                auto *content = tip->property("contentItem").value<QObject *>();
                QVERIFY(content);
                QCOMPARE(content->property("textFormat").toInt(), 0);
            }
        }
        QVERIFY2(tips > 0, "no tooltip holds the node name");
    }
}

QTEST_MAIN(QmlSmokeTest)
#include "tst_qmlsmoke.moc"
