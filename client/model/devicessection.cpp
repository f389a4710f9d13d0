#include "devicessection.h"

#include "maphelpers.h"
#include "membershiprules.h"

namespace DevicesSection {

int planQuotaFromBilling(const QVariantMap &billing, const QVariantList &plans)
{
    const QString planId = Membership::inferredPlanIdFromBilling(billing, plans);
    if (planId.isEmpty())
        return 0;
    for (const QVariant &entry : plans) {
        const QVariantMap plan = entry.toMap();
        if (plan.value(QStringLiteral("id")).toString().trimmed() != planId)
            continue;
        bool ok = false;
        const int quota = plan.value(QStringLiteral("devices")).toString().trimmed().toInt(&ok);
        if (ok)
            return quota;
        // Stored plans carry the label form ("4 台设备"); their count is kept beside it.
        return plan.value(QStringLiteral("deviceCount")).toInt();
    }
    return 0;
}

QVariantMap normalized(const QVariantMap &section, int planQuota, const QVariantMap &currentDevice,
                       const QDateTime &now)
{
    QVariantMap result = section;

    QVariantList items;
    for (const char *key : {"items", "devices", "list", "records"}) {
        items = section.value(QLatin1String(key)).toList();
        if (!items.isEmpty())
            break;
    }

    int used = 0;
    MapHelpers::firstInteger(section,
                             {QStringLiteral("used"), QStringLiteral("device_used"), QStringLiteral("used_count"),
                              QStringLiteral("active_count")},
                             &used);
    int limit = planQuota;
    MapHelpers::firstInteger(section,
                             {QStringLiteral("quota_limit"), QStringLiteral("max_devices"),
                              QStringLiteral("device_limit"), QStringLiteral("limit")},
                             &limit);

    if (!section.contains(QStringLiteral("capacity"))) {
        const QString capacity = MapHelpers::firstNonBlankValue(
            section, {QStringLiteral("quota"), QStringLiteral("capacity_text"), QStringLiteral("device_quota"),
                      QStringLiteral("summary")});
        if (!capacity.isEmpty())
            result.insert(QStringLiteral("capacity"), capacity);
    }
    if (!section.contains(QStringLiteral("alert"))) {
        const QString alert = MapHelpers::firstNonBlankValue(
            section, {QStringLiteral("notice"), QStringLiteral("message"), QStringLiteral("warning")});
        if (!alert.isEmpty())
            result.insert(QStringLiteral("alert"), alert);
    }

    if (items.isEmpty()) {
        items << QVariantMap{
            {QStringLiteral("id"), currentDevice.value(QStringLiteral("device_id"))},
            {QStringLiteral("name"), currentDevice.value(QStringLiteral("device_name"))},
            {QStringLiteral("platform"), currentDevice.value(QStringLiteral("device_platform"))},
            {QStringLiteral("location"), currentDevice.value(QStringLiteral("device_location"))},
            {QStringLiteral("last_seen"), now.toString(QStringLiteral("yyyy-MM-dd HH:mm"))},
            {QStringLiteral("current"), true},
        };
        used = qMax(used, 1);
    }
    result.insert(QStringLiteral("items"), items);
    result.insert(QStringLiteral("used"), used);
    result.insert(QStringLiteral("limit"), limit);

    if (result.value(QStringLiteral("capacity")).toString().trimmed().isEmpty()) {
        result.insert(QStringLiteral("capacity"), limit < 1 ? QStringLiteral("未购买套餐")
                                                            : QStringLiteral("%1 / %2 台设备").arg(qMax(used, 1)).arg(limit));
    }
    return result;
}

} // namespace DevicesSection
