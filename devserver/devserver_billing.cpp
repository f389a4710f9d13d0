// Orders, checkout and the daily trial: the order list, checkout by plan or by
// order, payment confirmation, cancellation, the trial claim, and the checkout
// page that a browser opens (its buttons pay or cancel the order).
#include "devserver.h"

#include "devservercrypto.h"
#include "devserverwords.h"

#include "client/api/backendcontract.h"

#include <QJsonArray>
#include <QUrlQuery>

namespace {

const char kTrialPlanId[] = "trial";
const char kTrialPlanName[] = "体验会员";

// The same form as the billing section's amounts: whole yuan without decimals.
QString moneyText(qint64 cents)
{
    const QString yuan = QString::number(cents / 100);
    return cents % 100 == 0 ? QStringLiteral("¥") + yuan
                            : QStringLiteral("¥%1.%2").arg(yuan).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString utcText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

bool isPending(const DevServerStore::Order &order)
{
    return order.status == QLatin1String("pending");
}

bool isCanceled(const DevServerStore::Order &order)
{
    return order.status == QLatin1String("canceled") || order.status == QLatin1String("cancelled");
}

DevReply htmlPage(const QString &language, const QString &title, const QString &body, int status = 200)
{
    const QString page = QStringLiteral(
        "<!DOCTYPE html><html lang=\"%3\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>%1</title><style>"
        "body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;"
        "background:#171a1b;color:#f4f4f1;font-family:system-ui,sans-serif}"
        ".card{background:#242829;border:1px solid #3b4142;border-radius:22px;padding:32px 36px;min-width:340px}"
        "h1{font-size:22px;margin:0 0 18px}dl{display:grid;grid-template-columns:auto 1fr;gap:8px 18px;margin:0 0 24px}"
        "dt{color:#b5bab9}dd{margin:0}form{display:inline}button{font-size:15px;font-weight:600;border-radius:13px;"
        "padding:10px 26px;margin-right:10px;cursor:pointer;border:1px solid #3b4142;background:#2b3031;color:#f4f4f1}"
        "button.pay{background:#f7685f;border-color:#f7685f;color:#fff}p{color:#b5bab9}"
        "</style></head><body><div class=\"card\"><h1>%1</h1>%2</div></body></html>")
                             .arg(title.toHtmlEscaped(), body, DevWords::htmlLanguage(language));
    DevReply reply = DevReply::raw(page.toUtf8(), "text/html; charset=utf-8", status);
    reply.encryptable = false;
    return reply;
}

const char *statusWord(const DevServerStore::Order &order)
{
    if (isPending(order))
        return "待支付";
    if (isCanceled(order))
        return "已取消";
    return "已支付";
}

} // namespace

void DevServer::addBillingRoutes()
{
    using namespace Backend::Path;
    addRoute("GET", QLatin1String(kOrders), Access::Token, [this](const DevRequest &r) { return listOrders(r); });
    addRoute("POST", QLatin1String(kPaymentsCheckout), Access::Token,
        [this](const DevRequest &r) { return checkout(r); });
    addRoute("POST", QLatin1String(kPaymentsConfirm), Access::Token,
        [this](const DevRequest &r) { return confirmPayment(r); });
    addRoute("POST", QLatin1String(kOrdersCancel), Access::Token, [this](const DevRequest &r) { return cancelOrder(r); });
    addRoute("POST", QLatin1String(kTrialClaim), Access::Token, [this](const DevRequest &r) { return claimTrial(r); });

    // The page the checkout URL opens: a browser carries no bearer token, the
    // order's own key stands in for it.
    addRoute("GET", QStringLiteral("/checkout"), Access::Public, [this](const DevRequest &r) { return checkoutPage(r); });
    addRoute("POST", QStringLiteral("/checkout/pay"), Access::Public,
        [this](const DevRequest &r) { return checkoutPageAction(r, true); }, Body::Any);
    addRoute("POST", QStringLiteral("/checkout/cancel"), Access::Public,
        [this](const DevRequest &r) { return checkoutPageAction(r, false); }, Body::Any);
}

QJsonObject DevServer::orderJson(const DevServerStore::Order &order) const
{
    return QJsonObject {
        {QStringLiteral("id"), order.id},
        {QStringLiteral("plan_id"), order.planId},
        {QStringLiteral("plan_name"), localized(order.planName)},
        {QStringLiteral("amount"), moneyText(order.amountCents)},
        {QStringLiteral("amount_cents"), double(order.amountCents)},
        {QStringLiteral("status"), order.status},
        {QStringLiteral("created_at"), utcText(order.createdAt)},
        {QStringLiteral("paid_at"), utcText(order.paidAt)},
    };
}

DevReply DevServer::listOrders(const DevRequest &request)
{
    QJsonArray items;
    for (const DevServerStore::Order &order : m_store.ordersForAccount(request.accountId))
        items.append(orderJson(order));
    return DevReply::json({{QStringLiteral("items"), items}});
}

std::optional<DevServerStore::Order> DevServer::ownOrder(const DevRequest &request, DevReply *failure) const
{
    const QString id = request.text(QStringLiteral("order_id"));
    if (id.isEmpty()) {
        *failure = DevReply::error(400, QStringLiteral("order_id is required"));
        return std::nullopt;
    }
    const auto order = m_store.orderById(id);
    // Another account's order is as unknown as a missing one.
    if (!order || order->accountId != request.accountId) {
        *failure = DevReply::error(404, QStringLiteral("order not found"));
        return std::nullopt;
    }
    return order;
}

DevReply DevServer::checkoutAnswer(const DevServerStore::Order &order) const
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("order"), order.id);
    query.addQueryItem(QStringLiteral("key"), order.checkoutKey);
    // The page opens in a browser whose language may differ: it follows the app's.
    query.addQueryItem(QStringLiteral("lang"), DevWords::htmlLanguage(m_requestLanguage));
    const QString url = baseUrl() + QStringLiteral("/checkout?") + query.toString(QUrl::FullyEncoded);
    return DevReply::json({
        {QStringLiteral("ok"), true},
        {QStringLiteral("checkout_url"), url},
        {QStringLiteral("order"), orderJson(order)},
    });
}

DevReply DevServer::checkout(const DevRequest &request)
{
    if (!request.text(QStringLiteral("order_id")).isEmpty()) {
        DevReply failure;
        const auto order = ownOrder(request, &failure);
        if (!order)
            return failure;
        if (isCanceled(*order))
            return DevReply::error(409, QStringLiteral("order already canceled"));
        if (!isPending(*order))
            return DevReply::error(409, QStringLiteral("order already paid"));
        return checkoutAnswer(*order);
    }

    const auto plan = planById(request.text(QStringLiteral("plan_id")));
    if (!plan)
        return DevReply::error(404, QStringLiteral("plan not found"));
    // One unpaid order per plan: the client offers to continue that one.
    for (const DevServerStore::Order &existing : m_store.ordersForAccount(request.accountId)) {
        if (isPending(existing) && existing.planId == plan->id)
            return DevReply::error(409, QStringLiteral("pending order exists"));
    }
    DevServerStore::Order order;
    order.id = QStringLiteral("ORD-") + DevCrypto::randomHex(5).toUpper();
    order.accountId = request.accountId;
    order.planId = plan->id;
    order.planName = plan->name;
    order.amountCents = plan->amountCents;
    order.status = QStringLiteral("pending");
    order.createdAt = m_store.now();
    order.checkoutKey = DevCrypto::randomHex(16);
    if (!m_store.addOrder(order))
        return DevReply::error(500, QStringLiteral("cannot store order"));
    return checkoutAnswer(order);
}

DevReply DevServer::confirmPayment(const DevRequest &request)
{
    DevReply failure;
    const auto order = ownOrder(request, &failure);
    if (!order)
        return failure;
    return DevReply::json({
        {QStringLiteral("order"), orderJson(*order)},
        {QStringLiteral("paid"), !isPending(*order) && !isCanceled(*order)},
    });
}

DevReply DevServer::cancelOrder(const DevRequest &request)
{
    DevReply failure;
    const auto order = ownOrder(request, &failure);
    if (!order)
        return failure;
    if (!isPending(*order) && !isCanceled(*order))
        return DevReply::error(409, QStringLiteral("paid order cannot be canceled"));
    if (isPending(*order))
        settleOrder(*order, false);
    return DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("order"), orderJson(*m_store.orderById(order->id))}});
}

void DevServer::settleOrder(const DevServerStore::Order &order, bool paid)
{
    const QDateTime now = m_store.now();
    m_store.setOrderStatus(order.id, paid ? QStringLiteral("paid") : QStringLiteral("canceled"), paid ? now : QDateTime());
    if (paid) {
        const auto plan = planById(order.planId);
        const auto account = m_store.accountById(order.accountId);
        if (plan && account) {
            // A paid membership runs on from its current end; a trial or an expired one from now.
            const bool extend = membershipActive(*account) && account->planId != QLatin1String(kTrialPlanId);
            const QDateTime from = extend ? account->expiresAt : now;
            m_store.setMembership(account->id, plan->id, plan->name, from.addDays(plan->days));
        }
    }
    const auto settled = m_store.orderById(order.id);
    pushEvent(order.accountId,
        QJsonObject {
            {QStringLiteral("type"), QStringLiteral("order_updated")},
            {QStringLiteral("order_id"), order.id},
            {QStringLiteral("status"), settled ? settled->status : QString()},
            {QStringLiteral("order"), settled ? orderJson(*settled) : QJsonObject()},
        });
    if (paid) {
        if (const auto account = m_store.accountById(order.accountId))
            pushEvent(account->id,
                QJsonObject {
                    {QStringLiteral("type"), QStringLiteral("membership_updated")},
                    {QStringLiteral("user"), userJson(*account)},
                });
    }
}

DevReply DevServer::claimTrial(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));
    const QJsonObject trial = trialJson(*account);
    // A refusal is an answer, not a failure: the client shows its reason.
    const auto refused = [&trial](const char *reason) {
        return DevReply::json({{QStringLiteral("ok"), false}, {QStringLiteral("error"), QLatin1String(reason)},
            {QStringLiteral("trial_claim"), trial}});
    };
    if (trial.value(QStringLiteral("paid_member")).toBool())
        return refused("trial unavailable for paid member");
    if (trial.value(QStringLiteral("claimed_today")).toBool())
        return refused("trial already claimed today");
    if (!trial.value(QStringLiteral("can_claim")).toBool())
        return refused("trial is disabled");

    const QDateTime now = m_store.now();
    const int minutes = trial.value(QStringLiteral("duration_minutes")).toInt();
    if (!m_store.setMembership(account->id, QLatin1String(kTrialPlanId), QString::fromUtf8(kTrialPlanName),
            now.addSecs(qint64(minutes) * 60))
        || !m_store.setTrialClaimDate(account->id, now.toLocalTime().date().toString(Qt::ISODate)))
        return DevReply::error(500, QStringLiteral("cannot store trial"));
    const auto claimed = m_store.accountById(account->id);
    const QJsonObject user = userJson(*claimed);
    pushEvent(account->id,
        QJsonObject {{QStringLiteral("type"), QStringLiteral("membership_updated")}, {QStringLiteral("user"), user}});
    return DevReply::json({
        {QStringLiteral("ok"), true},
        {QStringLiteral("user"), user},
        {QStringLiteral("trial_claim"), trialJson(*claimed)},
    });
}

// --- the checkout page -------------------------------------------------------------

DevReply DevServer::checkoutPage(const DevRequest &request)
{
    // A browser sends its own Accept-Language; the link the client opened names the app's language.
    if (!request.queryValue(QStringLiteral("lang")).isEmpty())
        m_requestLanguage = DevWords::languageOf(request.queryValue(QStringLiteral("lang")).toLatin1());
    const QString language = m_requestLanguage;
    const auto order = m_store.orderById(request.queryValue(QStringLiteral("order")).trimmed());
    const QString key = request.queryValue(QStringLiteral("key")).trimmed();
    if (!order || key.isEmpty() || key != order->checkoutKey)
        return htmlPage(language, word("订单不存在"), QStringLiteral("<p>%1</p>").arg(word("该支付链接无效或已过期。")), 404);

    QString body = QStringLiteral("<dl><dt>%5</dt><dd>%1</dd><dt>%6</dt><dd>%2</dd><dt>%7</dt><dd>%3</dd>"
                                  "<dt>%8</dt><dd id=\"status\">%4</dd></dl>")
                       .arg(order->id.toHtmlEscaped(), localized(order->planName).toHtmlEscaped(),
                           moneyText(order->amountCents).toHtmlEscaped(), word(statusWord(*order)).toHtmlEscaped(),
                           word("订单"), word("套餐"), word("金额"), word("状态"));
    if (isPending(*order)) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("order"), order->id);
        query.addQueryItem(QStringLiteral("key"), key);
        query.addQueryItem(QStringLiteral("lang"), DevWords::htmlLanguage(language));
        const QString suffix = query.toString(QUrl::FullyEncoded).toHtmlEscaped();
        body += QStringLiteral("<form method=\"post\" action=\"/checkout/pay?%1\"><button class=\"pay\" type=\"submit\">"
                               "%2</button></form><form method=\"post\" action=\"/checkout/cancel?%1\">"
                               "<button type=\"submit\">%3</button></form>")
                    .arg(suffix, word("支付").toHtmlEscaped(), word("取消").toHtmlEscaped());
    } else {
        body += QStringLiteral("<p>%1</p>").arg(word("此订单已处理，可以关闭本页面并返回岚舟。").toHtmlEscaped());
    }
    return htmlPage(language, word("岚舟收银台"), body);
}

DevReply DevServer::checkoutPageAction(const DevRequest &request, bool pay)
{
    if (!request.queryValue(QStringLiteral("lang")).isEmpty())
        m_requestLanguage = DevWords::languageOf(request.queryValue(QStringLiteral("lang")).toLatin1());
    const QString language = m_requestLanguage;
    const auto order = m_store.orderById(request.queryValue(QStringLiteral("order")).trimmed());
    const QString key = request.queryValue(QStringLiteral("key")).trimmed();
    if (!order || key.isEmpty() || key != order->checkoutKey)
        return htmlPage(language, word("订单不存在"), QStringLiteral("<p>%1</p>").arg(word("该支付链接无效或已过期。")), 404);
    if (!isPending(*order))
        return htmlPage(language, word("订单已处理"),
            QStringLiteral("<p>%1</p>").arg(word("此订单当前状态：%1。").arg(word(statusWord(*order))).toHtmlEscaped()), 409);
    settleOrder(*order, pay);
    const QString done = pay ? word("套餐已开通，可以关闭本页面并返回岚舟。") : word("可以关闭本页面并返回岚舟。");
    return htmlPage(language, pay ? word("支付成功") : word("订单已取消"), QStringLiteral("<p>%1</p>").arg(done.toHtmlEscaped()));
}
