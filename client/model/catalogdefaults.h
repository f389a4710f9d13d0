#pragma once

#include <QVariantList>
#include <QVariantMap>

// The built-in catalogue that stands in before the first bootstrap and after sign-out.
namespace CatalogDefaults {

QVariantMap makeNode(const QString &id, const QString &name, const QString &region, int latency,
                     const QString &highlight);
QVariantList defaultNodes();
QVariantList defaultPlans();
QVariantMap defaultDashboard();
QVariantMap defaultRemotePreferences();
QVariantMap defaultConnectivitySettings();

// 30 zero samples: the rate history of a session that has not measured anything.
QVariantList emptyTrafficHistory();

// "%1 台设备", or "设备额度待同步" when the count is below 1.
QString deviceAllowanceLabel(int count);

} // namespace CatalogDefaults
