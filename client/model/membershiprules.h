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

// How long to wait before asking the server again about a membership that
// ends: until the earliest end among `ends` (only values naming a time) that
// is still ahead of `now`, plus `graceMs` for the server's clock; capped at
// `capMs` so a far end re-arms instead of overflowing a timer. -1 when no end
// lies ahead.
qint64 msUntilEndCheck(const QStringList &ends, const QDateTime &now, qint64 graceMs, qint64 capMs);

} // namespace Membership
