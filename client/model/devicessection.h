#pragma once

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

namespace DevicesSection {

// Rewrites a devices answer into the keys the interface reads: "items",
// "used", "limit", "capacity", "alert". planQuota is the device allowance of
// the plan the billing section implies (0 when unknown). currentDevice is this
// installation ("device_id", "device_name", "device_platform", "device_location").
QVariantMap normalized(const QVariantMap &section, int planQuota, const QVariantMap &currentDevice,
                       const QDateTime &now);

// The device allowance of the plan inferred from the billing section.
int planQuotaFromBilling(const QVariantMap &billing, const QVariantList &plans);

} // namespace DevicesSection
