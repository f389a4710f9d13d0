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

// The page to open for a checkout URL: read tolerantly (a payment page may
// carry a raw "|", "{", "^", a blank or a lone "%"), then held to http or
// https with a host; an invalid URL when it is not such a page.
QUrl checkoutPageUrl(const QString &text);

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

// The first order whose trimmed "id" equals the id; empty when none is listed.
QVariantMap orderById(const QVariantList &orders, const QString &orderId);

// The amount an order shows, for the dialog that resumes it: "amount" (or
// "price", "total"), trimmed; empty when the order is not listed.
QString orderAmount(const QVariantList &orders, const QString &orderId);

// A plan's billing cycle, "monthly", "quarterly", "semiannual", "yearly" or
// empty: from its own cycle or duration fields when it has them, else from
// the words of its billing, id and name (a half-year plan is never taken for
// the yearly one).
QString planCycle(const QVariantMap &plan);

// How a daily-trial claim answer ends: "ok" decides when present; without it
// the trial or membership state it carries counts; with neither it is unknown.
enum class TrialClaimOutcome { Claimed, Refused, Unknown };
TrialClaimOutcome trialClaimOutcome(const QVariantMap &response);

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
