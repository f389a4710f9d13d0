#include "catalogdefaults.h"

#include "nodecatalog.h"

#include <QStringList>

namespace CatalogDefaults {

QVariantMap makeNode(const QString &id, const QString &name, const QString &region, int latency,
                     const QString &highlight)
{
    const QVariantMap outbound{
        {QStringLiteral("type"), QStringLiteral("selector")},
        {QStringLiteral("tag"), QStringLiteral("selected")},
        {QStringLiteral("outbounds"), QVariantList{QStringLiteral("proxy-primary"), QStringLiteral("proxy-backup")}},
        {QStringLiteral("default"), QStringLiteral("proxy-primary")},
    };
    // The grade goes with the latency shown beside it, as for a measured node.
    const NodeCatalog::QualityGrade grade = NodeCatalog::assessQuality(QString(), false, latency);
    return QVariantMap{
        {QStringLiteral("id"), id},           {QStringLiteral("name"), name},
        {QStringLiteral("region"), region},   {QStringLiteral("latency"), latency},
        {QStringLiteral("quality"), grade.label}, {QStringLiteral("qualityScore"), grade.score},
        {QStringLiteral("highlight"), highlight}, {QStringLiteral("outbound"), outbound},
    };
}

QVariantList defaultNodes()
{
    return {
        makeNode(QStringLiteral("hk-smart"), QStringLiteral("香港 · 智能选路"), QStringLiteral("香港-HK"), 8,
                 QStringLiteral("推荐")),
        makeNode(QStringLiteral("jp-tokyo"), QStringLiteral("日本 · 东京"), QStringLiteral("日本-JP"), 24,
                 QStringLiteral("流媒体")),
        makeNode(QStringLiteral("sg-prime"), QStringLiteral("新加坡 · 主线"), QStringLiteral("新加坡-SG"), 38,
                 QStringLiteral("均衡")),
    };
}

QString deviceAllowanceLabel(int count)
{
    return count < 1 ? QStringLiteral("设备额度待同步") : QStringLiteral("%1 台设备").arg(count);
}

QVariantList defaultPlans()
{
    auto plan = [](const QString &id, const QString &name, const QString &price, const QString &billing,
                   const QString &description, int devices) {
        const QString label = deviceAllowanceLabel(devices);
        return QVariantMap{
            {QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("price"), price},
            {QStringLiteral("billing"), billing},
            {QStringLiteral("description"), description},
            {QStringLiteral("devices"), label},
            {QStringLiteral("deviceCount"), devices},
            {QStringLiteral("featured"), false},
            {QStringLiteral("highlights"), QVariantList{label, QStringLiteral("优化线路"), QStringLiteral("流媒体优化"),
                                                        QStringLiteral("高级分流"), QStringLiteral("全球节点可用")}},
        };
    };
    return {
        plan(QStringLiteral("lite-monthly"), QStringLiteral("月付"), QStringLiteral("¥18"), QStringLiteral("monthly"),
             QStringLiteral("适合轻度多设备使用与日常流媒体场景。"), 2),
        plan(QStringLiteral("pro-yearly"), QStringLiteral("季付"), QStringLiteral("¥48"), QStringLiteral("quarterly"),
             QStringLiteral("适合多设备日常使用与更长周期的稳定加速。"), 4),
        plan(QStringLiteral("team-yearly"), QStringLiteral("年付"), QStringLiteral("¥108"), QStringLiteral("annual"),
             QStringLiteral("适合长期稳定使用、更多设备共享与全年省心续费。"), 10),
    };
}

QVariantList emptyTrafficHistory()
{
    QVariantList history;
    history.reserve(30);
    for (int i = 0; i < 30; ++i)
        history << qint64(0);
    return history;
}

QVariantMap defaultDashboard()
{
    QVariantList hourly;
    hourly.reserve(24);
    for (int i = 0; i < 24; ++i)
        hourly << qint64(0);
    return QVariantMap{
        {QStringLiteral("todayUsage"), QStringLiteral("0.00 GB")},
        {QStringLiteral("todayUsageBytes"), qint64(0)},
        {QStringLiteral("todayUsageHourlyBytes"), hourly},
        {QStringLiteral("downloadHistory"), emptyTrafficHistory()},
        {QStringLiteral("uploadHistory"), emptyTrafficHistory()},
        {QStringLiteral("todaySessions"), 0},
        {QStringLiteral("todayOnlineSeconds"), 0},
        {QStringLiteral("upload"), QStringLiteral("0 B/s")},
        {QStringLiteral("download"), QStringLiteral("0 B/s")},
        {QStringLiteral("uptime"), QStringLiteral("00:00:00")},
        {QStringLiteral("securityScore"), 92},
    };
}

QVariantMap defaultRemotePreferences()
{
    return QVariantMap{
        {QStringLiteral("account"),
         QVariantMap{{QStringLiteral("auto_connect"), true},
                     {QStringLiteral("traffic_alerts"), true},
                     {QStringLiteral("login_alerts"), true},
                     {QStringLiteral("remember_device"), true}}},
        {QStringLiteral("network"), QVariantMap{{QStringLiteral("routing_mode"), QStringLiteral("smart")}}},
        {QStringLiteral("appearance"),
         QVariantMap{{QStringLiteral("theme"), QStringLiteral("auto")},
                     {QStringLiteral("accent"), QStringLiteral("sunset")},
                     {QStringLiteral("language"), QStringLiteral("简体中文")}, // i18n-exempt: stored value
                     {QStringLiteral("reduce_motion"), false},
                     {QStringLiteral("show_line_chart"), true}}},
        {QStringLiteral("help"),
         QVariantMap{{QStringLiteral("cache_mb"), 128}, {QStringLiteral("diagnostics_level"), QStringLiteral("balanced")}}},
    };
}

QVariantMap defaultConnectivitySettings()
{
    // Public endpoints that answer "/generate_204" with an empty 204.
    return QVariantMap{
        {QStringLiteral("test_urls"),
         QStringList{QStringLiteral("https://www.google.com/generate_204"),
                     QStringLiteral("https://cp.cloudflare.com/generate_204"),
                     QStringLiteral("https://connectivitycheck.gstatic.com/generate_204")}},
        {QStringLiteral("min_success_pct"), 20},
        {QStringLiteral("probe_delay_ms"), 1000},
        {QStringLiteral("probe_timeout_ms"), 5000},
        {QStringLiteral("tcp_ping_timeout_ms"), 1800},
        {QStringLiteral("load_refresh_seconds"), 60},
        {QStringLiteral("load_timeout_ms"), 5000},
    };
}

} // namespace CatalogDefaults
