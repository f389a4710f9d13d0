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

} // namespace Membership
