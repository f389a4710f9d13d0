#include "appcontroller.h"

#include "api/backendcontract.h"

#include <QSettings>

namespace {

QVariantMap defaultLocalSettings()
{
    return QVariantMap{
        {QStringLiteral("interfaceName"), QString()}, {QStringLiteral("mtu"), 1400},
        {QStringLiteral("autoRoute"), true},          {QStringLiteral("strictRoute"), true},
        {QStringLiteral("dnsPrimary"), QStringLiteral("1.1.1.1")},
        {QStringLiteral("dnsFallback"), QStringLiteral("8.8.8.8")},
        {QStringLiteral("routingMode"), QStringLiteral("smart")},
        {QStringLiteral("logLevel"), QStringLiteral("info")},
    };
}

QVariantMap defaultDashboard()
{
    QVariantList hourly;
    for (int i = 0; i < 24; ++i)
        hourly << 0;
    return QVariantMap{
        {QStringLiteral("todayUsageHourlyBytes"), hourly},
        {QStringLiteral("uploadHistory"), QVariantList()},
        {QStringLiteral("downloadHistory"), QVariantList()},
    };
}

} // namespace

void AppController::restoreCatalogueDefaults()
{
    // The built-in catalogue arrives with the bootstrap work; the shape is fixed here.
    m_nodes.clear();
    m_nodeCountries.clear();
    m_plans.clear();
    m_dashboard = defaultDashboard();
    m_preferences = QVariantMap{{QStringLiteral("network"),
                                 QVariantMap{{QStringLiteral("routing_mode"), QStringLiteral("smart")}}}};
    m_connectivitySettings.clear();
}

void AppController::loadLocalSettings()
{
    m_settings = defaultLocalSettings();
    for (auto it = m_settings.begin(); it != m_settings.end(); ++it) {
        const QString storeKey = QStringLiteral("settings/%1").arg(it.key());
        if (m_store->contains(storeKey))
            it.value() = m_store->value(storeKey);
    }
    const QString routing = m_settings.value(QStringLiteral("routingMode")).toString().toLower();
    const QString mode = routing == QLatin1String("global") ? QStringLiteral("global") : QStringLiteral("smart");
    m_settings.insert(QStringLiteral("routingMode"), mode);
    QVariantMap network = m_preferences.value(QStringLiteral("network")).toMap();
    network.insert(QStringLiteral("routing_mode"), mode);
    m_preferences.insert(QStringLiteral("network"), network);
}

void AppController::startBootstrapAsync(std::function<void(bool)> completion, bool showLoading)
{
    // Applying the answer comes with the bootstrap work; the request itself is real.
    requestJsonAsync(QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kBootstrap), QVariantMap(), true,
                     [completion](const QVariantMap &, bool success) {
                         if (completion)
                             completion(success);
                     },
                     showLoading);
}

void AppController::refreshExperienceSection(const QString &) {}
void AppController::refreshProfileExperienceAsync() {}
void AppController::setSetting(const QString &, const QVariant &) {}
void AppController::setPreference(const QString &, const QString &, const QVariant &) {}
