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

QUrl checkoutPageUrl(const QString &text)
{
    const QString trimmed = text.trimmed();
    // A checkout page names its scheme: a bare word or a path is no page.
    if (!trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QUrl();
    const QUrl url = QUrl::fromUserInput(trimmed);
    return isOpenableCheckoutUrl(url) ? url : QUrl();
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

QVariantMap orderById(const QVariantList &orders, const QString &orderId)
{
    const QString wanted = orderId.trimmed();
    if (wanted.isEmpty())
        return QVariantMap();
    for (const QVariant &entry : orders) {
        const QVariantMap order = entry.toMap();
        if (order.value(QStringLiteral("id")).toString().trimmed() == wanted)
            return order;
    }
    return QVariantMap();
}

QString orderAmount(const QVariantList &orders, const QString &orderId)
{
    return MapHelpers::firstNonBlankValue(orderById(orders, orderId),
                                          {QStringLiteral("amount"), QStringLiteral("price"), QStringLiteral("total")});
}

namespace {

QString cycleFromMonths(int months)
{
    switch (months) {
    case 1:
        return QStringLiteral("monthly");
    case 3:
        return QStringLiteral("quarterly");
    case 6:
        return QStringLiteral("semiannual");
    case 12:
        return QStringLiteral("yearly");
    default:
        return QString();
    }
}

QString cycleFromDays(int days)
{
    if (days >= 28 && days <= 31)
        return QStringLiteral("monthly");
    if (days >= 89 && days <= 93)
        return QStringLiteral("quarterly");
    if (days >= 180 && days <= 186)
        return QStringLiteral("semiannual");
    if (days >= 360 && days <= 366)
        return QStringLiteral("yearly");
    return QString();
}

// The cycle named by a word; the half-year words come first, since they
// contain the year's.
QString cycleFromWords(const QString &text)
{
    const QString lower = text.toLower();
    static const QList<QPair<QStringList, QString>> words{
        {{QStringLiteral("semiannual"), QStringLiteral("semi-annual"), QStringLiteral("semi_annual"),
          QStringLiteral("half-year"), QStringLiteral("halfyear"), QStringLiteral("half_year"),
          QStringLiteral("half year"), QStringLiteral("biannual"), QStringLiteral("半年")}, // i18n-exempt: matched, not shown
         QStringLiteral("semiannual")},
        {{QStringLiteral("quarter"), QStringLiteral("season"), QStringLiteral("季")}, QStringLiteral("quarterly")}, // i18n-exempt: matched, not shown
        {{QStringLiteral("year"), QStringLiteral("annual"), QStringLiteral("年")}, QStringLiteral("yearly")}, // i18n-exempt: matched, not shown
        {{QStringLiteral("month"), QStringLiteral("月")}, QStringLiteral("monthly")}, // i18n-exempt: matched, not shown
    };
    for (const auto &row : words) {
        for (const QString &word : row.first) {
            if (lower.contains(word))
                return row.second;
        }
    }
    return QString();
}

} // namespace

QString planCycle(const QVariantMap &plan)
{
    const QString declared = MapHelpers::firstNonBlankValue(
        plan, {QStringLiteral("cycle"), QStringLiteral("billing_cycle"), QStringLiteral("period"),
               QStringLiteral("interval")});
    if (!declared.isEmpty()) {
        const QString cycle = cycleFromWords(declared);
        if (!cycle.isEmpty())
            return cycle;
    }
    for (const char *key : {"duration_months", "months", "interval_count"}) {
        const QString cycle = cycleFromMonths(plan.value(QLatin1String(key)).toInt());
        if (!cycle.isEmpty())
            return cycle;
    }
    for (const char *key : {"duration_days", "days"}) {
        const QString cycle = cycleFromDays(plan.value(QLatin1String(key)).toInt());
        if (!cycle.isEmpty())
            return cycle;
    }
    const QVariant duration = plan.value(QStringLiteral("duration"));
    if (duration.isValid()) {
        bool number = false;
        const int value = duration.toInt(&number);
        const QString cycle = number ? cycleFromMonths(value) : cycleFromWords(duration.toString());
        if (!cycle.isEmpty())
            return cycle;
    }
    // Only now the words of the plan's texts.
    for (const char *key : {"billing", "id", "name"}) {
        const QString cycle = cycleFromWords(plan.value(QLatin1String(key)).toString());
        if (!cycle.isEmpty())
            return cycle;
    }
    return QString();
}

TrialClaimOutcome trialClaimOutcome(const QVariantMap &response)
{
    const QVariant ok = response.value(QStringLiteral("ok"));
    if (ok.isValid() && !ok.isNull())
        return ok.toBool() ? TrialClaimOutcome::Claimed : TrialClaimOutcome::Refused;
    const QVariantMap trial = MapHelpers::firstNestedMap(
        response, {QStringLiteral("status"), QStringLiteral("trial"), QStringLiteral("trial_claim")});
    const QVariantMap user = response.value(QStringLiteral("user")).toMap();
    for (const char *key : {"claimed_today", "claimedToday"}) {
        if (trial.contains(QLatin1String(key)))
            return trial.value(QLatin1String(key)).toBool() ? TrialClaimOutcome::Claimed : TrialClaimOutcome::Refused;
    }
    if (user.contains(QStringLiteral("membership_active"))) {
        const bool trialActive = user.value(QStringLiteral("membership_active")).toBool()
                                 && user.value(QStringLiteral("plan_type")).toString().trimmed().compare(
                                        QLatin1String("trial"), Qt::CaseInsensitive)
                                        == 0;
        return trialActive ? TrialClaimOutcome::Claimed : TrialClaimOutcome::Refused;
    }
    return TrialClaimOutcome::Unknown;
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
