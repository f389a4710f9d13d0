#include "membershiprules.h"

#include <QRegularExpression>
#include <QStringList>

namespace Membership {

namespace {

QString normalizedStatus(const QVariant &value)
{
    return value.toString().trimmed().toLower();
}

// The first source name present in either map, trial map first for each name.
QVariant firstPresent(const QVariantMap &trial, const QVariantMap &base, const QStringList &names)
{
    for (const QString &name : names) {
        if (trial.contains(name))
            return trial.value(name);
        if (base.contains(name))
            return base.value(name);
    }
    return QVariant();
}

} // namespace

QVariantMap normalizedTrialClaimStatus(const QVariantMap &base, const QVariantMap &trial)
{
    const QVariantMap source = trial.isEmpty() ? base.value(QStringLiteral("trial_claim")).toMap() : trial;
    auto boolValue = [&](const QStringList &names) { return firstPresent(source, base, names).toBool(); };
    auto textValue = [&](const QStringList &names) { return firstPresent(source, base, names).toString(); };
    return QVariantMap{
        {QStringLiteral("enabled"), boolValue({QStringLiteral("enabled"), QStringLiteral("trial_enabled")})},
        {QStringLiteral("duration_minutes"),
         firstPresent(source, base, {QStringLiteral("trial_duration_minutes"), QStringLiteral("duration_minutes")}).toInt()},
        {QStringLiteral("can_claim"),
         boolValue({QStringLiteral("trial_can_claim"), QStringLiteral("canClaim"), QStringLiteral("can_claim")})},
        {QStringLiteral("paid_member"),
         boolValue({QStringLiteral("trial_paid_member"), QStringLiteral("paidMember"), QStringLiteral("paid_member")})},
        {QStringLiteral("claimed_today"),
         boolValue({QStringLiteral("trial_claimed_today"), QStringLiteral("claimedToday"), QStringLiteral("claimed_today")})},
        {QStringLiteral("claim_date"),
         textValue({QStringLiteral("trial_claim_date"), QStringLiteral("claimDate"), QStringLiteral("claim_date")})},
        {QStringLiteral("next_reset_at"),
         textValue({QStringLiteral("trial_next_reset_at"), QStringLiteral("nextResetAt"), QStringLiteral("next_reset_at")})},
        {QStringLiteral("started_at"),
         textValue({QStringLiteral("trial_started_at"), QStringLiteral("startedAt"), QStringLiteral("started_at")})},
        {QStringLiteral("expires_at"),
         textValue({QStringLiteral("trial_expires_at"), QStringLiteral("expiresAt"), QStringLiteral("expires_at")})},
    };
}

bool billingStatusImpliesPurchase(const QString &status)
{
    const QString s = status.trimmed().toLower();
    return s == QLatin1String("paid") || s == QLatin1String("active") || s == QLatin1String("settled");
}

bool billingStatusImpliesActiveMembership(const QVariantMap &billing, const QString &planId)
{
    const QVariantList orders = billing.value(QStringLiteral("orders")).toList();
    for (const QVariant &entry : orders) {
        const QVariantMap order = entry.toMap();
        if (normalizedStatus(order.value(QStringLiteral("status"))) != QLatin1String("active"))
            continue;
        const QString orderPlan = order.value(QStringLiteral("plan_id")).toString().trimmed();
        if (planId.isEmpty() || orderPlan.isEmpty() || orderPlan == planId)
            return true;
    }
    return false;
}

QString inferredPlanIdFromBilling(const QVariantMap &billing, const QVariantList &plans)
{
    for (const QVariant &entry : billing.value(QStringLiteral("orders")).toList()) {
        const QVariantMap order = entry.toMap();
        const QString planId = order.value(QStringLiteral("plan_id")).toString().trimmed();
        if (billingStatusImpliesPurchase(order.value(QStringLiteral("status")).toString()) && !planId.isEmpty())
            return planId;
    }
    QVariantList records = billing.value(QStringLiteral("records")).toList();
    if (records.isEmpty())
        records = billing.value(QStringLiteral("items")).toList();
    for (const QVariant &entry : records) {
        const QVariantMap record = entry.toMap();
        const QString title = record.value(QStringLiteral("title")).toString().trimmed().toLower();
        if (!billingStatusImpliesPurchase(record.value(QStringLiteral("status")).toString()) || title.isEmpty())
            continue;
        // The first purchase record decides; an exact id or name beats a name inside the title.
        QString contained;
        for (const QVariant &planEntry : plans) {
            const QVariantMap plan = planEntry.toMap();
            const QString id = plan.value(QStringLiteral("id")).toString().trimmed();
            const QString name = plan.value(QStringLiteral("name")).toString().trimmed().toLower();
            if (id == title || (!name.isEmpty() && name == title))
                return id;
            if (contained.isEmpty() && !name.isEmpty() && title.contains(name))
                contained = id;
        }
        if (!contained.isEmpty())
            return contained;
        return QString();
    }
    return QString();
}

bool membershipExpiryStillValid(const QString &expiry, const QDate &today)
{
    const QString text = expiry.trimmed();
    if (text.isEmpty())
        return false;
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!parsed.isValid())
        return false;
    // A value with a zone or offset is compared with midnight UTC, a plain one with local midnight.
    const QDateTime startOfToday = parsed.timeSpec() == Qt::LocalTime ? QDateTime(today, QTime(0, 0), Qt::LocalTime)
                                                                      : QDateTime(today, QTime(0, 0), Qt::UTC);
    return parsed >= startOfToday;
}

bool expiryCarriesTime(const QString &expiry)
{
    static const QRegularExpression dateAndTime(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}[T ]\\d{2}:\\d{2}"));
    return dateAndTime.match(expiry.trimmed()).hasMatch();
}

bool membershipExpiryStillValidAt(const QString &expiry, bool serverSaysEnded, const QDateTime &now)
{
    if (serverSaysEnded && expiryCarriesTime(expiry)) {
        const QDateTime parsed = QDateTime::fromString(expiry.trimmed(), Qt::ISODateWithMs);
        return parsed.isValid() && parsed > now;
    }
    return membershipExpiryStillValid(expiry, now.toLocalTime().date());
}

qint64 msUntilEndCheck(const QStringList &ends, const QDateTime &now, qint64 graceMs, qint64 capMs)
{
    qint64 earliest = -1;
    for (const QString &end : ends) {
        if (!expiryCarriesTime(end))
            continue;
        const QDateTime moment = QDateTime::fromString(end.trimmed(), Qt::ISODateWithMs);
        if (!moment.isValid())
            continue;
        const qint64 left = now.msecsTo(moment);
        if (left <= 0)
            continue;
        if (earliest < 0 || left < earliest)
            earliest = left;
    }
    if (earliest < 0)
        return -1;
    return qMin(earliest + qMax<qint64>(0, graceMs), capMs);
}

bool membershipExpiryStillValid(const QString &expiry)
{
    return membershipExpiryStillValid(expiry, QDate::currentDate());
}

} // namespace Membership
