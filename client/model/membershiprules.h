#pragma once

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

// The rules that judge a membership and the held plan from the server's
// user map and billing section, and the normalized daily-trial state.
namespace Membership {

QVariantMap normalizedTrialClaimStatus(const QVariantMap &base, const QVariantMap &trial);

bool billingStatusImpliesPurchase(const QString &status);
bool billingStatusImpliesActiveMembership(const QVariantMap &billing, const QString &planId);
QString inferredPlanIdFromBilling(const QVariantMap &billing, const QVariantList &plans);

// Valid when not earlier than the start of today (UTC midnight for zoned
// values, local midnight otherwise).
bool membershipExpiryStillValid(const QString &expiry);
bool membershipExpiryStillValid(const QString &expiry, const QDate &today);

// Whether an expiry text names a time of day, not a bare date.
bool expiryCarriesTime(const QString &expiry);
// The expiry rule with the server's own verdict: when the server says the
// membership has ended and the expiry names a time, it ended at that moment
// (an hour-long trial must not run on to midnight); otherwise the date rule.
bool membershipExpiryStillValidAt(const QString &expiry, bool serverSaysEnded, const QDateTime &now);

} // namespace Membership
