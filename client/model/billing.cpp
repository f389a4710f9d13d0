#include "billing.h"

#include "maphelpers.h"

#include <algorithm>

namespace Billing {

namespace {

const QStringList &checkoutUrlKeys()
{
    static const QStringList keys{QStringLiteral("checkout_url"), QStringLiteral("checkoutUrl"),
                                  QStringLiteral("errorurl"), QStringLiteral("errorUrl")};
    return keys;
}

// The first named URL key that is non-blank, then "msg" when it is a web URL.
QString checkoutUrlIn(const QVariantMap &map)
{
    const QString named = MapHelpers::firstNonBlankValue(map, checkoutUrlKeys());
    if (!named.isEmpty())
        return named;
    const QString message = map.value(QStringLiteral("msg")).toString().trimmed();
    return isStrictWebUrl(message) ? message : QString();
}

bool isWebScheme(const QString &scheme)
{
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
           || scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

QVariantMap responsePayload(const QVariantMap &response)
{
    const QVariantMap nested = MapHelpers::firstNestedMap(response, {QStringLiteral("data"), QStringLiteral("payload")});
    return nested.isEmpty() ? response : nested;
}

bool isStrictWebUrl(const QString &text)
{
    const QString trimmed = text.trimmed();
    // A sentence is no URL, even when Qt would encode its blanks.
    if (trimmed.isEmpty() || std::any_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) { return c.isSpace(); }))
        return false;
    const QUrl url(trimmed, QUrl::StrictMode);
    return isOpenableCheckoutUrl(url);
}

bool isOpenableCheckoutUrl(const QUrl &url)
{
    return url.isValid() && !url.isRelative() && isWebScheme(url.scheme()) && !url.host().isEmpty();
}

QString checkoutUrlFromResponse(const QVariantMap &response)
{
    const QVariantMap payload = responsePayload(response);
    const QString direct = checkoutUrlIn(payload);
    if (!direct.isEmpty())
        return direct;
    // An answer may carry both an order and a payment map; the URL is looked
    // for in each, the order first.
    for (const QString &key : {QStringLiteral("order"), QStringLiteral("payment")}) {
        const QString nested = checkoutUrlIn(payload.value(key).toMap());
        if (!nested.isEmpty())
            return nested;
    }
    return QString();
}

QString checkoutOrderIdFromResponse(const QVariantMap &response)
{
    const QVariantMap payload = responsePayload(response);
    const QStringList keys{QStringLiteral("id"), QStringLiteral("order_id")};
    const QString nested = MapHelpers::firstNonBlankValue(payload.value(QStringLiteral("order")).toMap(), keys);
    return nested.isEmpty() ? MapHelpers::firstNonBlankValue(payload, keys) : nested;
}

QString normalizedStatus(const QVariant &status)
{
    return status.toString().trimmed().toLower();
}

bool isPendingStatus(const QVariant &status)
{
    return normalizedStatus(status) == QLatin1String("pending");
}

QString confirmedOrderStatus(const QVariantMap &response)
{
    const QString status =
        normalizedStatus(response.value(QStringLiteral("order")).toMap().value(QStringLiteral("status")));
    if (status.isEmpty() && response.value(QStringLiteral("paid")).toBool())
        return QStringLiteral("paid");
    return status;
}

PendingOrderMatch pendingOrderForPlan(const QVariantList &orders, const QString &planId)
{
    const QString wanted = planId.trimmed();
    for (const QVariant &entry : orders) {
        const QVariantMap order = entry.toMap();
        if (!isPendingStatus(order.value(QStringLiteral("status")))
            || order.value(QStringLiteral("plan_id")).toString().trimmed() != wanted)
            continue;
        return PendingOrderMatch{
            order.value(QStringLiteral("id")).toString().trimmed(),
            order.value(QStringLiteral("plan_id")).toString().trimmed(),
            MapHelpers::firstNonBlankValue(order, {QStringLiteral("plan_name"), QStringLiteral("planName"),
                                                   QStringLiteral("title"), QStringLiteral("name")}),
        };
    }
    return PendingOrderMatch{};
}

QString firstPendingOrderId(const QVariantList &orders)
{
    for (const QVariant &entry : orders) {
        const QVariantMap order = entry.toMap();
        const QString id = order.value(QStringLiteral("id")).toString().trimmed();
        if (isPendingStatus(order.value(QStringLiteral("status"))) && !id.isEmpty())
            return id;
    }
    return QString();
}

QString planNameById(const QVariantList &plans, const QString &planId)
{
    for (const QVariant &entry : plans) {
        const QVariantMap plan = entry.toMap();
        if (plan.value(QStringLiteral("id")).toString() == planId)
            return MapHelpers::firstNonBlankValue(
                plan, {QStringLiteral("name"), QStringLiteral("displayName"), QStringLiteral("title")});
    }
    return QString();
}

PollBudget freshPollBudget()
{
    return PollBudget{kPendingOrderPolls, kPendingOrderFastPolls};
}

bool consumePollAttempt(PollBudget &budget)
{
    budget.left -= 1;
    if (budget.fastLeft >= 1)
        budget.fastLeft -= 1;
    return budget.left > 0;
}

int pollIntervalMs(const PollBudget &budget, int fastMs, int slowMs)
{
    return budget.fastLeft > 0 ? fastMs : slowMs;
}

bool markOrderCanceled(QVariantMap &billing, const QString &orderId)
{
    QVariantList orders = billing.value(QStringLiteral("orders")).toList();
    bool changed = false;
    for (QVariant &entry : orders) {
        QVariantMap order = entry.toMap();
        if (order.value(QStringLiteral("id")).toString() != orderId)
            continue;
        order.insert(QStringLiteral("status"), QStringLiteral("canceled"));
        entry = order;
        changed = true;
    }
    if (changed)
        billing.insert(QStringLiteral("orders"), orders);
    return changed;
}

} // namespace Billing
