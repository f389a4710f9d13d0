#pragma once

#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

// Pure rules of plans, checkout answers and the pending-order watch.
namespace Billing {

inline constexpr int kPendingOrderPolls = 60;
inline constexpr int kPendingOrderFastPolls = 12;
inline constexpr int kFastPollIntervalMs = 1000;
inline constexpr int kSlowPollIntervalMs = 5000;

// The part of an answer that carries the data: the first non-empty map among
// "data" and "payload", else the answer itself.
QVariantMap responsePayload(const QVariantMap &response);

// Whether the text parses strictly as an absolute http or https URL with a host.
bool isStrictWebUrl(const QString &text);

// Whether a checkout URL may go to the system's URL handler: http or https with a host.
bool isOpenableCheckoutUrl(const QUrl &url);

// The checkout URL of a checkout answer (see the .cpp for the key order);
// "msg" counts only when it is a web URL, since a failed answer puts its error sentence there.
QString checkoutUrlFromResponse(const QVariantMap &response);
QString checkoutOrderIdFromResponse(const QVariantMap &response);

// The order status of a confirm answer, trimmed and lower-cased; "paid" when
// only the top-level "paid" flag says so.
QString confirmedOrderStatus(const QVariantMap &response);

QString normalizedStatus(const QVariant &status);
bool isPendingStatus(const QVariant &status);

// The first pending order of the plan, in list order.
struct PendingOrderMatch
{
    QString orderId;
    QString planId;
    QString planName;
};
PendingOrderMatch pendingOrderForPlan(const QVariantList &orders, const QString &planId);

// The id of the first pending order with a non-empty id, or empty.
QString firstPendingOrderId(const QVariantList &orders);

// The display name of the plan with that id: "name", "displayName" or "title".
QString planNameById(const QVariantList &plans, const QString &planId);

// Polls left for the watched order, and of those the fast ones.
struct PollBudget
{
    int left = 0;
    int fastLeft = 0;
};
PollBudget freshPollBudget();
// Uses one attempt; false when none is left afterwards.
bool consumePollAttempt(PollBudget &budget);
int pollIntervalMs(const PollBudget &budget, int fastMs = kFastPollIntervalMs, int slowMs = kSlowPollIntervalMs);

// Marks the orders of the billing section with that id as "canceled"; true when one changed.
bool markOrderCanceled(QVariantMap &billing, const QString &orderId);

} // namespace Billing
