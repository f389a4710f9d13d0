#include "configbuilder.h"

#include "api/backendcontract.h"
#include "tunnel/confignormalization.h"
#include "tunnel/enginecontract.h"

#include <QUrl>

namespace TunnelConfig {

namespace {

const QString kRuleSetHost = QStringLiteral("https://raw.githubusercontent.com");

QJsonObject makeRemoteRuleSet(const QString &tag, const QString &path)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("remote")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("format"), QStringLiteral("binary")},
        {QStringLiteral("url"), kRuleSetHost + path},
        {QStringLiteral("update_interval"), QStringLiteral("1d")},
        {QStringLiteral("download_detour"), QStringLiteral("direct")},
    };
}

QJsonObject directRouteRule(const QString &matchKey, const QString &value)
{
    return QJsonObject{
        {matchKey, QJsonArray{value}},
        {QStringLiteral("action"), QStringLiteral("route")},
        {QStringLiteral("outbound"), QStringLiteral("direct")},
    };
}

QJsonObject smartDnsRule(const QString &matchKey, const QString &value)
{
    return QJsonObject{
        {matchKey, QJsonArray{value}},
        {QStringLiteral("action"), QStringLiteral("route")},
        {QStringLiteral("server"), QStringLiteral("cn-direct-dns")},
    };
}

QJsonObject proxyOutbound(const QVariantMap &node)
{
    QJsonObject outbound = QJsonObject::fromVariantMap(node.value(QStringLiteral("outbound")).toMap());
    if (outbound.isEmpty())
        outbound.insert(QStringLiteral("type"), QStringLiteral("direct"));
    outbound.insert(QStringLiteral("tag"), QLatin1String(kSelectedOutboundTag));
    return outbound;
}

} // namespace

QString routingModeFromSettings(const QVariantMap &settings)
{
    const QString mode = settings.value(QStringLiteral("routingMode")).toString().trimmed().toLower();
    return mode == QLatin1String("global") ? QStringLiteral("global") : QStringLiteral("smart");
}

QJsonObject makeUdpDnsServer(const QString &tag, const QString &address)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("udp")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("server"), address},
        {QStringLiteral("server_port"), 53},
    };
}

QJsonObject makeHttpsDnsServer(const QString &tag, const QString &addressOrUrl, const QString &detour)
{
    const QString trimmed = addressOrUrl.trimmed();
    QString server = trimmed;
    int port = 443;
    QString path = QStringLiteral("/dns-query");

    const QUrl url(trimmed);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty()) {
        server = url.host();
        if (url.port() > 0)
            port = url.port();
        if (!url.path().isEmpty())
            path = url.path();
    }

    QJsonObject object{
        {QStringLiteral("type"), QStringLiteral("https")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("server"), server},
        {QStringLiteral("server_port"), port},
        {QStringLiteral("path"), path},
    };
    if (!detour.isEmpty() && detour != QLatin1String("direct"))
        object.insert(QStringLiteral("detour"), detour);
    return object;
}

QJsonArray desktopSmartDnsRules()
{
    return QJsonArray{
        smartDnsRule(QStringLiteral("domain_suffix"), QStringLiteral(".cn")),
        smartDnsRule(QStringLiteral("rule_set"), QStringLiteral("geosite-cn")),
    };
}

QJsonArray desktopSmartRouteRuleSets()
{
    return QJsonArray{
        makeRemoteRuleSet(QStringLiteral("geosite-cn"), QStringLiteral("/SagerNet/sing-geosite/rule-set/geosite-cn.srs")),
        makeRemoteRuleSet(QStringLiteral("geoip-cn"), QStringLiteral("/SagerNet/sing-geoip/rule-set/geoip-cn.srs")),
    };
}

QJsonObject buildDesktopConfig(const QVariantMap &node, const QVariantMap &settings, const QString &clashSecret)
{
    const bool smart = routingModeFromSettings(settings) == QLatin1String("smart");
    const QString selected = QLatin1String(kSelectedOutboundTag);

    QJsonArray dnsServers{
        makeUdpDnsServer(QStringLiteral("bootstrap-dns"), QStringLiteral("1.1.1.1")),
        makeHttpsDnsServer(QStringLiteral("remote-dns"), QStringLiteral("1.1.1.1"), selected),
        makeHttpsDnsServer(QStringLiteral("fallback-dns"), QStringLiteral("8.8.8.8"), selected),
    };
    if (smart)
        dnsServers.append(makeUdpDnsServer(QStringLiteral("cn-direct-dns"), QStringLiteral("223.5.5.5")));
    QJsonObject dns{
        {QStringLiteral("strategy"), QStringLiteral("ipv4_only")},
        {QStringLiteral("servers"), dnsServers},
        {QStringLiteral("final"), QStringLiteral("remote-dns")},
    };
    if (smart) {
        QJsonArray dnsRules{QJsonObject{{QStringLiteral("clash_mode"), QStringLiteral("Global")},
                                        {QStringLiteral("action"), QStringLiteral("route")},
                                        {QStringLiteral("server"), QStringLiteral("remote-dns")}}};
        for (const QJsonValue &rule : desktopSmartDnsRules())
            dnsRules.append(rule);
        dns.insert(QStringLiteral("rules"), dnsRules);
    }

    const QJsonObject tun{
        {QStringLiteral("type"), QStringLiteral("tun")},
        {QStringLiteral("tag"), QStringLiteral("tun-in")},
        {QStringLiteral("interface_name"), settings.value(QStringLiteral("interfaceName")).toString()},
        {QStringLiteral("address"), QJsonArray{QStringLiteral("172.19.0.1/30")}},
        {QStringLiteral("mtu"), settings.value(QStringLiteral("mtu"), 1400).toInt()},
        {QStringLiteral("auto_route"), true},
        {QStringLiteral("strict_route"), true},
    };

    const QJsonArray outbounds{
        proxyOutbound(node),
        QJsonObject{{QStringLiteral("type"), QStringLiteral("direct")}, {QStringLiteral("tag"), QStringLiteral("direct")}},
        QJsonObject{{QStringLiteral("type"), QStringLiteral("block")}, {QStringLiteral("tag"), QStringLiteral("block")}},
    };

    QJsonArray rules{
        QJsonObject{{QStringLiteral("action"), QStringLiteral("sniff")}},
        QJsonObject{{QStringLiteral("protocol"), QStringLiteral("dns")}, {QStringLiteral("action"), QStringLiteral("hijack-dns")}},
    };
    if (smart) {
        // The engine's "Global" mode (switched in place through the control API)
        // skips the China rules below.
        rules.append(QJsonObject{{QStringLiteral("clash_mode"), QStringLiteral("Global")},
                                 {QStringLiteral("action"), QStringLiteral("route")},
                                 {QStringLiteral("outbound"), selected}});
        rules.append(directRouteRule(QStringLiteral("domain_suffix"), QStringLiteral(".cn")));
        rules.append(directRouteRule(QStringLiteral("rule_set"), QStringLiteral("geosite-cn")));
        rules.append(directRouteRule(QStringLiteral("rule_set"), QStringLiteral("geoip-cn")));
    }
    QJsonObject route{
        {QStringLiteral("auto_detect_interface"), true},
        {QStringLiteral("default_domain_resolver"), QStringLiteral("bootstrap-dns")},
        {QStringLiteral("final"), selected},
        {QStringLiteral("rules"), ensureBrowserQuicBlockRule(rules)},
    };
    if (smart)
        route.insert(QStringLiteral("rule_set"), desktopSmartRouteRuleSets());

    // Relative paths only: the service runs the engine inside its runtime
    // directory and refuses anything that could reach outside it.
    const QJsonObject experimental{
        {QStringLiteral("cache_file"),
         QJsonObject{{QStringLiteral("enabled"), true}, {QStringLiteral("path"), QStringLiteral("cache.db")}}},
        {QStringLiteral("clash_api"),
         QJsonObject{
             {QStringLiteral("external_controller"), QLatin1String(Engine::kDefaultControllerAddress)},
             {QStringLiteral("external_ui"), QStringLiteral("ui")},
             {QStringLiteral("secret"), clashSecret},
             {QStringLiteral("default_mode"), smart ? QStringLiteral("Rule") : QStringLiteral("Global")},
         }},
    };

    return QJsonObject{
        {QStringLiteral("log"),
         QJsonObject{{QStringLiteral("level"), settings.value(QStringLiteral("logLevel"), QStringLiteral("info")).toString()}}},
        {QStringLiteral("dns"), dns},
        {QStringLiteral("inbounds"), QJsonArray{tun}},
        {QStringLiteral("outbounds"), outbounds},
        {QStringLiteral("route"), route},
        {QStringLiteral("experimental"), experimental},
    };
}

QString singBoxConfigRequestPath(const QString &platform, const QVariantMap &settings)
{
    return QStringLiteral("%1?platform=%2&routing_mode=%3")
        .arg(QLatin1String(Backend::Path::kSingBoxConfig),
             QString::fromLatin1(QUrl::toPercentEncoding(platform)), routingModeFromSettings(settings));
}

} // namespace TunnelConfig
