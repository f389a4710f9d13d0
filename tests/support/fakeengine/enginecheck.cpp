#include "enginecheck.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

enum class Kind {
    String,
    Bool,
    Int,
    Uint16,
    Uint32,
    StringList, // a string or an array of strings
    PortList, // a port number or an array of them
    Duration, // text such as "1d", "30s", "1h30m"
    Object, // an object of the named schema
    Typed, // an object whose "type" picks the schema within the named family
    TypedList, // an array of such objects
    List, // an array of objects of the named schema
    RuleList, // route or DNS rules of the named family
    Any, // not checked by the stand-in
};

struct Field
{
    const char *name;
    Kind kind;
    const char *ref = nullptr;
    int since = 0; // the first 1.x minor that knows the field; earlier ones call it unknown
};

constexpr int k113 = 13;

using Schema = std::vector<Field>;

Schema join(std::initializer_list<Schema> parts)
{
    Schema out;
    for (const Schema &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Family
{
    QHash<QString, Schema> types;
    QSet<QString> unmodelled; // real types whose fields the stand-in does not check
    const char *noun; // as in "unknown outbound type"
};

class Schemas
{
public:
    Schemas();
    QHash<QString, Schema> objects;
    QHash<QString, Family> families;
};

Schemas::Schemas()
{
    const Schema typeTag {{"type", Kind::String}, {"tag", Kind::String}};
    const Schema dial {{"detour", Kind::String}, {"bind_interface", Kind::String}, {"inet4_bind_address", Kind::String},
        {"inet6_bind_address", Kind::String}, {"bind_address_no_port", Kind::Bool, nullptr, k113},
        {"routing_mark", Kind::Any},
        {"reuse_addr", Kind::Bool}, {"netns", Kind::String}, {"connect_timeout", Kind::Duration},
        {"tcp_fast_open", Kind::Bool}, {"tcp_multi_path", Kind::Bool}, {"udp_fragment", Kind::Bool},
        {"domain_resolver", Kind::Any}, {"network_strategy", Kind::String}, {"network_type", Kind::StringList},
        {"fallback_network_type", Kind::StringList}, {"fallback_delay", Kind::Duration},
        {"domain_strategy", Kind::String}, {"tcp_keep_alive", Kind::Duration, nullptr, k113},
        {"tcp_keep_alive_interval", Kind::Duration, nullptr, k113}};
    const Schema server {{"server", Kind::String}, {"server_port", Kind::Uint16}};
    const Schema listen {{"listen", Kind::String}, {"listen_port", Kind::Uint16}, {"bind_interface", Kind::String},
        {"routing_mark", Kind::Any}, {"reuse_addr", Kind::Bool}, {"netns", Kind::String}, {"tcp_fast_open", Kind::Bool},
        {"tcp_multi_path", Kind::Bool}, {"udp_fragment", Kind::Bool}, {"udp_timeout", Kind::Duration},
        {"detour", Kind::String}, {"sniff", Kind::Bool}, {"sniff_override_destination", Kind::Bool},
        {"sniff_timeout", Kind::Duration}, {"domain_strategy", Kind::String},
        {"udp_disable_domain_unmapping", Kind::Bool}};
    const Schema tls {{"tls", Kind::Object, "tls"}};
    const Schema transport {{"transport", Kind::Typed, "transport"}};
    const Schema multiplex {{"multiplex", Kind::Object, "multiplex"}};
    const Schema network {{"network", Kind::String}};

    objects.insert("root",
        {{"$schema", Kind::String}, {"log", Kind::Object, "log"}, {"dns", Kind::Object, "dns"}, {"ntp", Kind::Object, "ntp"},
            {"certificate", Kind::Object, "certificate"}, {"endpoints", Kind::TypedList, "endpoint"},
            {"inbounds", Kind::TypedList, "inbound"}, {"outbounds", Kind::TypedList, "outbound"},
            {"route", Kind::Object, "route"}, {"services", Kind::Any}, {"experimental", Kind::Object, "experimental"}});
    objects.insert("ntp",
        join({{{"enabled", Kind::Bool}, {"interval", Kind::Duration}, {"write_to_system", Kind::Bool}}, server, dial}));
    objects.insert("certificate",
        {{"store", Kind::String}, {"certificate", Kind::StringList}, {"certificate_path", Kind::StringList},
            {"certificate_directory_path", Kind::StringList}});
    objects.insert("log",
        {{"disabled", Kind::Bool}, {"level", Kind::String}, {"output", Kind::String}, {"timestamp", Kind::Bool}});
    objects.insert("dns",
        {{"servers", Kind::TypedList, "dns server"}, {"rules", Kind::RuleList, "dns"}, {"final", Kind::String},
            {"strategy", Kind::String}, {"disable_cache", Kind::Bool}, {"disable_expire", Kind::Bool},
            {"independent_cache", Kind::Bool}, {"cache_capacity", Kind::Uint32}, {"reverse_mapping", Kind::Bool},
            {"client_subnet", Kind::String}, {"fakeip", Kind::Any}});
    objects.insert("route",
        {{"geoip", Kind::Any}, {"geosite", Kind::Any}, {"rules", Kind::RuleList, "route"},
            {"rule_set", Kind::TypedList, "rule-set"}, {"final", Kind::String}, {"find_process", Kind::Bool},
            {"auto_detect_interface", Kind::Bool}, {"override_android_vpn", Kind::Bool},
            {"default_interface", Kind::String}, {"default_mark", Kind::Any}, {"default_domain_resolver", Kind::Any},
            {"default_network_strategy", Kind::String}, {"default_network_type", Kind::StringList},
            {"default_fallback_network_type", Kind::StringList}, {"default_fallback_delay", Kind::Duration}});
    objects.insert("experimental",
        {{"cache_file", Kind::Object, "cache_file"}, {"clash_api", Kind::Object, "clash_api"}, {"v2ray_api", Kind::Any},
            {"debug", Kind::Object, "debug"}});
    objects.insert("cache_file",
        {{"enabled", Kind::Bool}, {"path", Kind::String}, {"cache_id", Kind::String}, {"store_fakeip", Kind::Bool},
            {"store_rdrc", Kind::Bool}, {"rdrc_timeout", Kind::Duration}});
    objects.insert("clash_api",
        {{"external_controller", Kind::String}, {"external_ui", Kind::String},
            {"external_ui_download_url", Kind::String}, {"external_ui_download_detour", Kind::String},
            {"secret", Kind::String}, {"default_mode", Kind::String}, {"access_control_allow_origin", Kind::StringList},
            {"access_control_allow_private_network", Kind::Bool}, {"store_mode", Kind::Bool},
            {"store_selected", Kind::Bool}, {"store_fakeip", Kind::Bool}, {"cache_file", Kind::String},
            {"cache_id", Kind::String}});
    objects.insert("debug",
        {{"listen", Kind::String}, {"gc_percent", Kind::Any}, {"max_stack", Kind::Any}, {"max_threads", Kind::Any},
            {"panic_on_fault", Kind::Bool}, {"trace_back", Kind::String}, {"memory_limit", Kind::Any},
            {"oom_killer", Kind::Bool}});
    objects.insert("tls",
        {{"enabled", Kind::Bool}, {"disable_sni", Kind::Bool}, {"server_name", Kind::String}, {"insecure", Kind::Bool},
            {"alpn", Kind::StringList}, {"min_version", Kind::String}, {"max_version", Kind::String},
            {"cipher_suites", Kind::StringList}, {"curve_preferences", Kind::StringList, nullptr, k113},
            {"certificate", Kind::StringList}, {"certificate_path", Kind::String},
            {"certificate_public_key_sha256", Kind::StringList, nullptr, k113},
            {"client_certificate", Kind::StringList, nullptr, k113},
            {"client_certificate_path", Kind::String, nullptr, k113}, {"client_key", Kind::StringList, nullptr, k113},
            {"client_key_path", Kind::String, nullptr, k113}, {"fragment", Kind::Bool}, {"fragment_fallback_delay", Kind::Duration},
            {"record_fragment", Kind::Bool}, {"ech", Kind::Object, "ech"}, {"utls", Kind::Object, "utls"},
            {"reality", Kind::Object, "reality"}});
    objects.insert("ech",
        {{"enabled", Kind::Bool}, {"pq_signature_schemes_enabled", Kind::Bool},
            {"dynamic_record_sizing_disabled", Kind::Bool}, {"config", Kind::StringList}, {"config_path", Kind::String},
            {"query_server_name", Kind::String, nullptr, k113}});
    objects.insert("utls", {{"enabled", Kind::Bool}, {"fingerprint", Kind::String}});
    objects.insert("reality", {{"enabled", Kind::Bool}, {"public_key", Kind::String}, {"short_id", Kind::String}});
    objects.insert("multiplex",
        {{"enabled", Kind::Bool}, {"protocol", Kind::String}, {"max_connections", Kind::Int},
            {"min_streams", Kind::Int}, {"max_streams", Kind::Int}, {"padding", Kind::Bool},
            {"brutal", Kind::Object, "brutal"}});
    objects.insert("brutal", {{"enabled", Kind::Bool}, {"up_mbps", Kind::Int}, {"down_mbps", Kind::Int}});
    objects.insert("obfs", {{"type", Kind::String}, {"password", Kind::String}});
    objects.insert("peer",
        join({server,
            {{"public_key", Kind::String}, {"pre_shared_key", Kind::String}, {"allowed_ips", Kind::StringList},
                {"reserved", Kind::Any}}}));

    Family inbound {{},
        {"shadowsocks", "vmess", "trojan", "naive", "hysteria", "shadowtls", "tuic", "hysteria2", "vless", "anytls",
            "redirect", "tproxy"},
        "inbound"};
    inbound.types.insert("tun",
        join({typeTag,
            {{"interface_name", Kind::String}, {"mtu", Kind::Uint32}, {"address", Kind::StringList},
                {"auto_route", Kind::Bool}, {"iproute2_table_index", Kind::Int}, {"iproute2_rule_index", Kind::Int},
                {"auto_redirect", Kind::Bool}, {"auto_redirect_input_mark", Kind::Any},
                {"auto_redirect_output_mark", Kind::Any}, {"loopback_address", Kind::StringList},
                {"strict_route", Kind::Bool}, {"route_address", Kind::StringList},
                {"route_exclude_address", Kind::StringList}, {"route_address_set", Kind::StringList},
                {"route_exclude_address_set", Kind::StringList}, {"include_interface", Kind::StringList},
                {"exclude_interface", Kind::StringList}, {"include_uid", Kind::Any},
                {"include_uid_range", Kind::StringList}, {"exclude_uid", Kind::Any},
                {"exclude_uid_range", Kind::StringList}, {"include_android_user", Kind::Any},
                {"include_package", Kind::StringList}, {"exclude_package", Kind::StringList},
                {"endpoint_independent_nat", Kind::Bool}, {"udp_timeout", Kind::Duration}, {"stack", Kind::String},
                {"platform", Kind::Any}, {"gso", Kind::Bool}, {"inet4_address", Kind::StringList},
                {"inet6_address", Kind::StringList}, {"inet4_route_address", Kind::StringList},
                {"inet6_route_address", Kind::StringList}, {"inet4_route_exclude_address", Kind::StringList},
                {"inet6_route_exclude_address", Kind::StringList}, {"sniff", Kind::Bool},
                {"sniff_override_destination", Kind::Bool}, {"sniff_timeout", Kind::Duration},
                {"domain_strategy", Kind::String}, {"udp_disable_domain_unmapping", Kind::Bool},
                {"detour", Kind::String}}}));
    const Schema users {{"users", Kind::Any}};
    inbound.types.insert("mixed", join({typeTag, listen, users, {{"set_system_proxy", Kind::Bool}}}));
    inbound.types.insert("socks", join({typeTag, listen, users}));
    inbound.types.insert(
        "http", join({typeTag, listen, users, {{"tls", Kind::Any}, {"set_system_proxy", Kind::Bool}}}));
    inbound.types.insert("direct",
        join({typeTag, listen, network, {{"override_address", Kind::String}, {"override_port", Kind::Uint16}}}));
    families.insert("inbound", inbound);

    Family outbound {{}, {}, "outbound"};
    outbound.types.insert(
        "direct", join({typeTag, dial, {{"override_address", Kind::String}, {"override_port", Kind::Uint16}}}));
    outbound.types.insert("block", typeTag);
    outbound.types.insert("dns", typeTag);
    outbound.types.insert("selector",
        join({typeTag,
            {{"outbounds", Kind::StringList}, {"default", Kind::String},
                {"interrupt_exist_connections", Kind::Bool}}}));
    outbound.types.insert("urltest",
        join({typeTag,
            {{"outbounds", Kind::StringList}, {"url", Kind::String}, {"interval", Kind::Duration},
                {"tolerance", Kind::Uint16}, {"idle_timeout", Kind::Duration},
                {"interrupt_exist_connections", Kind::Bool}}}));
    outbound.types.insert("socks",
        join({typeTag, server, dial, network,
            {{"version", Kind::String}, {"username", Kind::String}, {"password", Kind::String},
                {"udp_over_tcp", Kind::Any}}}));
    outbound.types.insert("http",
        join({typeTag, server, dial, tls,
            {{"username", Kind::String}, {"password", Kind::String}, {"path", Kind::String}, {"headers", Kind::Any}}}));
    outbound.types.insert("shadowsocks",
        join({typeTag, server, dial, network, multiplex,
            {{"method", Kind::String}, {"password", Kind::String}, {"plugin", Kind::String},
                {"plugin_opts", Kind::String}, {"udp_over_tcp", Kind::Any}}}));
    outbound.types.insert("vmess",
        join({typeTag, server, dial, network, tls, transport, multiplex,
            {{"uuid", Kind::String}, {"security", Kind::String}, {"alter_id", Kind::Int},
                {"global_padding", Kind::Bool}, {"authenticated_length", Kind::Bool},
                {"packet_encoding", Kind::String}}}));
    outbound.types.insert(
        "trojan", join({typeTag, server, dial, network, tls, transport, multiplex, {{"password", Kind::String}}}));
    outbound.types.insert("vless",
        join({typeTag, server, dial, network, tls, transport, multiplex,
            {{"uuid", Kind::String}, {"flow", Kind::String}, {"packet_encoding", Kind::String}}}));
    outbound.types.insert("hysteria",
        join({typeTag, server, dial, network, tls,
            {{"server_ports", Kind::StringList}, {"hop_interval", Kind::Duration}, {"up", Kind::String},
                {"up_mbps", Kind::Int}, {"down", Kind::String}, {"down_mbps", Kind::Int}, {"obfs", Kind::String},
                {"auth", Kind::Any}, {"auth_str", Kind::String}, {"recv_window_conn", Kind::Int},
                {"recv_window", Kind::Int}, {"disable_mtu_discovery", Kind::Bool}}}));
    outbound.types.insert("hysteria2",
        join({typeTag, server, dial, network, tls,
            {{"server_ports", Kind::StringList}, {"hop_interval", Kind::Duration}, {"up_mbps", Kind::Int},
                {"down_mbps", Kind::Int}, {"obfs", Kind::Object, "obfs"}, {"password", Kind::String},
                {"brutal_debug", Kind::Bool}}}));
    outbound.types.insert("tuic",
        join({typeTag, server, dial, network, tls,
            {{"uuid", Kind::String}, {"password", Kind::String}, {"congestion_control", Kind::String},
                {"udp_relay_mode", Kind::String}, {"udp_over_stream", Kind::Bool}, {"zero_rtt_handshake", Kind::Bool},
                {"heartbeat", Kind::Duration}}}));
    outbound.types.insert("wireguard",
        join({typeTag, server, dial, network,
            {{"system_interface", Kind::Bool}, {"gso", Kind::Bool}, {"interface_name", Kind::String},
                {"local_address", Kind::StringList}, {"private_key", Kind::String}, {"peers", Kind::Any},
                {"peer_public_key", Kind::String}, {"pre_shared_key", Kind::String}, {"reserved", Kind::Any},
                {"workers", Kind::Int}, {"mtu", Kind::Uint32}}}));
    outbound.types.insert(
        "shadowtls", join({typeTag, server, dial, tls, {{"version", Kind::Int}, {"password", Kind::String}}}));
    outbound.types.insert("anytls",
        join({typeTag, server, dial, tls,
            {{"password", Kind::String}, {"idle_session_check_interval", Kind::Duration},
                {"idle_session_timeout", Kind::Duration}, {"min_idle_session", Kind::Int}}}));
    outbound.types.insert("ssh",
        join({typeTag, server, dial,
            {{"user", Kind::String}, {"password", Kind::String}, {"private_key", Kind::StringList},
                {"private_key_path", Kind::String}, {"private_key_passphrase", Kind::String},
                {"host_key", Kind::StringList}, {"host_key_algorithms", Kind::StringList},
                {"client_version", Kind::String}}}));
    outbound.types.insert("tor",
        join({typeTag, dial,
            {{"executable_path", Kind::String}, {"extra_args", Kind::StringList}, {"data_directory", Kind::String},
                {"torrc", Kind::Any}}}));
    families.insert("outbound", outbound);

    Family endpoint {{}, {"tailscale"}, "endpoint"};
    endpoint.types.insert("wireguard",
        join({typeTag, dial,
            {{"system", Kind::Bool}, {"name", Kind::String}, {"mtu", Kind::Uint32}, {"address", Kind::StringList},
                {"private_key", Kind::String}, {"listen_port", Kind::Uint16}, {"peers", Kind::List, "endpoint peer"},
                {"udp_timeout", Kind::Duration}, {"workers", Kind::Int}}}));
    objects.insert("endpoint peer",
        {{"address", Kind::String}, {"port", Kind::Uint16}, {"public_key", Kind::String},
            {"pre_shared_key", Kind::String}, {"allowed_ips", Kind::StringList},
            {"persistent_keepalive_interval", Kind::Uint16}, {"reserved", Kind::Any}});
    families.insert("endpoint", endpoint);

    Family dnsServer {{}, {"dhcp", "tailscale", "resolved"}, "DNS server"};
    const Schema remoteDns = join({typeTag, server, dial});
    dnsServer.types.insert("local", join({typeTag, dial, {{"prefer_go", Kind::Bool}}}));
    dnsServer.types.insert("udp", remoteDns);
    dnsServer.types.insert("tcp", remoteDns);
    dnsServer.types.insert("tls", join({remoteDns, tls}));
    dnsServer.types.insert("quic", join({remoteDns, tls}));
    const Schema httpDns = join({remoteDns, tls, {{"path", Kind::String}, {"headers", Kind::Any}}});
    dnsServer.types.insert("https", httpDns);
    dnsServer.types.insert("h3", httpDns);
    dnsServer.types.insert("hosts", join({typeTag, {{"path", Kind::StringList}, {"predefined", Kind::Any}}}));
    dnsServer.types.insert("fakeip", join({typeTag, {{"inet4_range", Kind::String}, {"inet6_range", Kind::String}}}));
    // The untyped (legacy) form, still read by 1.12.
    dnsServer.types.insert("",
        {{"tag", Kind::String}, {"address", Kind::String}, {"address_resolver", Kind::String},
            {"address_strategy", Kind::String}, {"strategy", Kind::String}, {"detour", Kind::String},
            {"client_subnet", Kind::String}});
    families.insert("dns server", dnsServer);

    Family ruleSet {{}, {}, "rule-set"};
    const Schema ruleSetBase {{"type", Kind::String}, {"tag", Kind::String}};
    ruleSet.types.insert("remote",
        join({ruleSetBase,
            {{"format", Kind::String}, {"url", Kind::String}, {"download_detour", Kind::String},
                {"update_interval", Kind::Duration}}}));
    ruleSet.types.insert("local", join({ruleSetBase, {{"format", Kind::String}, {"path", Kind::String}}}));
    ruleSet.types.insert("inline", join({ruleSetBase, {{"rules", Kind::Any}}}));
    families.insert("rule-set", ruleSet);

    Family transports {{}, {}, "transport"};
    transports.types.insert("http",
        {{"type", Kind::String}, {"host", Kind::StringList}, {"path", Kind::String}, {"method", Kind::String},
            {"headers", Kind::Any}, {"idle_timeout", Kind::Duration}, {"ping_timeout", Kind::Duration}});
    transports.types.insert("ws",
        {{"type", Kind::String}, {"path", Kind::String}, {"headers", Kind::Any}, {"max_early_data", Kind::Uint32},
            {"early_data_header_name", Kind::String}});
    transports.types.insert("quic", {{"type", Kind::String}});
    transports.types.insert("grpc",
        {{"type", Kind::String}, {"service_name", Kind::String}, {"idle_timeout", Kind::Duration},
            {"ping_timeout", Kind::Duration}, {"permit_without_stream", Kind::Bool}});
    transports.types.insert("httpupgrade",
        {{"type", Kind::String}, {"host", Kind::String}, {"path", Kind::String}, {"headers", Kind::Any}});
    families.insert("transport", transports);

    const Schema match {{"inbound", Kind::StringList}, {"ip_version", Kind::Int}, {"network", Kind::StringList},
        {"auth_user", Kind::StringList}, {"protocol", Kind::StringList}, {"client", Kind::StringList},
        {"domain", Kind::StringList}, {"domain_suffix", Kind::StringList}, {"domain_keyword", Kind::StringList},
        {"domain_regex", Kind::StringList}, {"source_ip_cidr", Kind::StringList}, {"source_ip_is_private", Kind::Bool},
        {"ip_cidr", Kind::StringList}, {"ip_is_private", Kind::Bool}, {"source_port", Kind::PortList},
        {"source_port_range", Kind::StringList}, {"port", Kind::PortList}, {"port_range", Kind::StringList},
        {"process_name", Kind::StringList}, {"process_path", Kind::StringList},
        {"process_path_regex", Kind::StringList}, {"package_name", Kind::StringList}, {"user", Kind::StringList},
        {"user_id", Kind::Any}, {"clash_mode", Kind::String}, {"network_type", Kind::StringList},
        {"network_is_expensive", Kind::Bool}, {"network_is_constrained", Kind::Bool}, {"wifi_ssid", Kind::StringList},
        {"wifi_bssid", Kind::StringList}, {"rule_set", Kind::StringList}, {"rule_set_ip_cidr_match_source", Kind::Bool},
        {"rule_set_ip_cidr_accept_empty", Kind::Bool}, {"invert", Kind::Bool}};
    const Schema routeAction {{"action", Kind::String}, {"outbound", Kind::String}, {"override_address", Kind::String},
        {"override_port", Kind::Uint16}, {"network_strategy", Kind::String}, {"fallback_delay", Kind::Duration},
        {"udp_disable_domain_unmapping", Kind::Bool}, {"udp_connect", Kind::Bool}, {"udp_timeout", Kind::Duration},
        {"tls_fragment", Kind::Bool}, {"tls_record_fragment", Kind::Bool}, {"method", Kind::String},
        {"no_drop", Kind::Bool}, {"sniffer", Kind::StringList}, {"timeout", Kind::Duration}, {"strategy", Kind::String},
        {"server", Kind::String}, {"tls_fragment_fallback_delay", Kind::Duration}, {"disable_cache", Kind::Bool},
        {"rewrite_ttl", Kind::Uint32}, {"client_subnet", Kind::String}};
    const Schema dnsAction {{"action", Kind::String}, {"server", Kind::String}, {"strategy", Kind::String},
        {"disable_cache", Kind::Bool}, {"rewrite_ttl", Kind::Any}, {"client_subnet", Kind::String},
        {"method", Kind::String}, {"no_drop", Kind::Bool}, {"rcode", Kind::String}, {"answer", Kind::StringList},
        {"ns", Kind::StringList}, {"extra", Kind::StringList}};
    const Schema logical {{"type", Kind::String}, {"mode", Kind::String}, {"invert", Kind::Bool}};
    objects.insert("route rule", join({{{"type", Kind::String}}, match, routeAction}));
    objects.insert("route logical rule", join({logical, {{"rules", Kind::RuleList, "route"}}, routeAction}));
    objects.insert("dns rule",
        join({{{"type", Kind::String}, {"query_type", Kind::Any}, {"outbound", Kind::StringList}}, match, dnsAction}));
    objects.insert("dns logical rule", join({logical, {{"rules", Kind::RuleList, "dns"}}, dnsAction}));
}

const Schemas &schemas()
{
    static const Schemas instance;
    return instance;
}

QString jsonTypeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::Bool:
        return QStringLiteral("bool");
    case QJsonValue::Array:
        return QStringLiteral("array");
    case QJsonValue::Object:
        return QStringLiteral("object");
    default:
        return QStringLiteral("null");
    }
}

bool isDuration(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^[-+]?(0|((\\d+(\\.\\d*)?|\\.\\d+)(ns|us|µs|μs|ms|s|m|h|d))+)$"));
    return re.match(text).hasMatch();
}

class Checker
{
public:
    QString error;

    bool checkObject(const QJsonValue &value, const Schema &schema, const QString &path)
    {
        if (value.isNull())
            return true;
        if (!value.isObject())
            return typeError(path, value, QStringLiteral("object"));
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const Field *field = find(schema, it.key());
            if (!field)
                return fail(path, QStringLiteral("json: unknown field \"%1\"").arg(it.key()));
            if (!checkField(*field, it.value(), join(path, QString::fromUtf8(field->name))))
                return false;
        }
        return true;
    }

    bool checkTyped(const QJsonValue &value, const char *familyName, const QString &path)
    {
        if (value.isNull())
            return true;
        if (!value.isObject())
            return typeError(path, value, QStringLiteral("object"));
        const Family &family = schemas().families.value(QString::fromUtf8(familyName));
        const QString type = value.toObject().value(QStringLiteral("type")).toString();
        if (family.unmodelled.contains(type))
            return true;
        if (engineMinorVersion() >= k113 && qstrcmp(family.noun, "outbound") == 0) {
            // 1.13 parses the removed dns outbound as an error, and keeps the
            // wireguard outbound type only as a stub without options.
            if (type == QLatin1String("dns"))
                return fail(path,
                    QStringLiteral("dns outbound is deprecated in sing-box 1.11.0 and removed in sing-box 1.13.0, "
                                   "use rule actions instead"));
            if (type == QLatin1String("wireguard"))
                return checkObject(value, {{"type", Kind::String}, {"tag", Kind::String}}, path);
        }
        const auto schema = family.types.constFind(type);
        if (schema == family.types.constEnd())
            return fail(path, QStringLiteral("unknown %1 type: %2").arg(QString::fromUtf8(family.noun), type));
        return checkObject(value, *schema, path);
    }

private:
    static QString join(const QString &path, const QString &name)
    {
        return path.isEmpty() ? name : path + QLatin1Char('.') + name;
    }

    // Field names match without regard to case, as the engine's decoder matches them.
    static const Field *find(const Schema &schema, const QString &key)
    {
        for (const Field &field : schema) {
            if (field.since <= engineMinorVersion() && key.compare(QLatin1String(field.name), Qt::CaseInsensitive) == 0)
                return &field;
        }
        return nullptr;
    }

    bool fail(const QString &path, const QString &message)
    {
        error = path.isEmpty() ? message : path + QStringLiteral(": ") + message;
        return false;
    }

    bool typeError(const QString &path, const QJsonValue &value, const QString &goType)
    {
        return fail(path,
            QStringLiteral("json: cannot unmarshal %1 into Go value of type %2").arg(jsonTypeName(value), goType));
    }

    bool checkInteger(const QJsonValue &value, const QString &path, double max, const QString &goType)
    {
        if (value.isNull())
            return true;
        const double number = value.toDouble();
        if (!value.isDouble() || std::floor(number) != number || number < (max > 0 ? 0 : -2147483648.0)
            || (max > 0 && number > max))
            return fail(path,
                QStringLiteral("json: cannot unmarshal %1 into Go value of type %2")
                    .arg(value.isDouble() ? QStringLiteral("number %1").arg(number) : jsonTypeName(value), goType));
        return true;
    }

    bool checkListOf(const QJsonValue &value, const QString &path, bool ports)
    {
        const auto one = [&](const QJsonValue &item, const QString &at) {
            if (ports)
                return checkInteger(item, at, 65535, QStringLiteral("uint16"));
            if (!item.isString() && !item.isNull())
                return typeError(at, item, QStringLiteral("string"));
            return true;
        };
        if (!value.isArray())
            return one(value, path);
        const QJsonArray items = value.toArray();
        for (int i = 0; i < items.size(); ++i) {
            if (!one(items.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)))
                return false;
        }
        return true;
    }

    bool checkRules(const QJsonValue &value, const char *family, const QString &path)
    {
        if (value.isNull())
            return true;
        if (!value.isArray())
            return typeError(path, value, QStringLiteral("[]option.Rule"));
        const QString name = QString::fromUtf8(family);
        const QStringList routeActions {QString(), QStringLiteral("route"), QStringLiteral("route-options"),
            QStringLiteral("direct"), QStringLiteral("reject"), QStringLiteral("hijack-dns"), QStringLiteral("sniff"),
            QStringLiteral("resolve")};
        const QStringList dnsActions {QString(), QStringLiteral("route"), QStringLiteral("route-options"),
            QStringLiteral("reject"), QStringLiteral("predefined")};
        const QJsonArray rules = value.toArray();
        for (int i = 0; i < rules.size(); ++i) {
            const QString at = QStringLiteral("%1[%2]").arg(path).arg(i);
            const QJsonObject rule = rules.at(i).toObject();
            const QString type = rule.value(QStringLiteral("type")).toString();
            if (!rules.at(i).isObject())
                return typeError(at, rules.at(i), QStringLiteral("option.Rule"));
            if (!type.isEmpty() && type != QLatin1String("default") && type != QLatin1String("logical"))
                return fail(at, QStringLiteral("unknown rule type: %1").arg(type));
            const QString schemaName
                = name + (type == QLatin1String("logical") ? QStringLiteral(" logical rule") : QStringLiteral(" rule"));
            if (!checkObject(rules.at(i), schemas().objects.value(schemaName), at))
                return false;
            const QString action = rule.value(QStringLiteral("action")).toString();
            if (!(name == QLatin1String("dns") ? dnsActions : routeActions).contains(action))
                return fail(at, QStringLiteral("unknown rule action: %1").arg(action));
        }
        return true;
    }

    bool checkField(const Field &field, const QJsonValue &value, const QString &path)
    {
        switch (field.kind) {
        case Kind::String:
            return value.isString() || value.isNull() || typeError(path, value, QStringLiteral("string"));
        case Kind::Bool:
            return value.isBool() || value.isNull() || typeError(path, value, QStringLiteral("bool"));
        case Kind::Int:
            return checkInteger(value, path, 0, QStringLiteral("int"));
        case Kind::Uint16:
            return checkInteger(value, path, 65535, QStringLiteral("uint16"));
        case Kind::Uint32:
            return checkInteger(value, path, 4294967295.0, QStringLiteral("uint32"));
        case Kind::StringList:
            return checkListOf(value, path, false);
        case Kind::PortList:
            return checkListOf(value, path, true);
        case Kind::Duration:
            if (value.isNull())
                return true;
            if (!value.isString())
                return typeError(path, value, QStringLiteral("badoption.Duration"));
            return isDuration(value.toString())
                || fail(path, QStringLiteral("time: invalid duration \"%1\"").arg(value.toString()));
        case Kind::Object:
            return checkObject(value, schemas().objects.value(QString::fromUtf8(field.ref)), path);
        case Kind::Typed:
            return checkTyped(value, field.ref, path);
        case Kind::TypedList: {
            if (value.isNull())
                return true;
            if (!value.isArray())
                return typeError(path, value, QStringLiteral("[]option.%1").arg(QString::fromUtf8(field.ref)));
            const QJsonArray items = value.toArray();
            for (int i = 0; i < items.size(); ++i) {
                if (!checkTyped(items.at(i), field.ref, QStringLiteral("%1[%2]").arg(path).arg(i)))
                    return false;
            }
            return true;
        }
        case Kind::RuleList:
            return checkRules(value, field.ref, path);
        case Kind::List: {
            if (value.isNull())
                return true;
            if (!value.isArray())
                return typeError(path, value, QStringLiteral("[]option.%1").arg(QString::fromUtf8(field.ref)));
            const QJsonArray items = value.toArray();
            for (int i = 0; i < items.size(); ++i) {
                if (!checkObject(items.at(i), schemas().objects.value(QString::fromUtf8(field.ref)),
                        QStringLiteral("%1[%2]").arg(path).arg(i)))
                    return false;
            }
            return true;
        }
        case Kind::Any:
            return true;
        }
        return true;
    }
};

QPair<int, int> rowAndColumn(const QByteArray &bytes, int offset)
{
    int row = 1;
    int column = 1;
    for (int i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n') {
            ++row;
            column = 1;
        } else {
            ++column;
        }
    }
    return {row, column};
}

QString duplicateTag(const QJsonArray &items, QSet<QString> &seen)
{
    for (const QJsonValue &item : items) {
        const QString tag = item.toObject().value(QStringLiteral("tag")).toString();
        if (tag.isEmpty())
            continue;
        if (seen.contains(tag))
            return tag;
        seen.insert(tag);
    }
    return QString();
}

// Go's strconv.ParseBool, true side.
bool environmentSaysTrue(const QByteArray &name)
{
    static const QStringList yes {QStringLiteral("1"), QStringLiteral("t"), QStringLiteral("T"),
        QStringLiteral("TRUE"), QStringLiteral("true"), QStringLiteral("True")};
    return yes.contains(qEnvironmentVariable(name.constData()));
}

struct Deprecation
{
    const char *description;
    const char *deprecatedIn;
    int removedMinor;
    const char *envName;
    const char *link;
};

const Deprecation kSpecialOutbounds {"legacy special outbounds", "1.11.0", 13, "SPECIAL_OUTBOUNDS",
    "https://sing-box.sagernet.org/migration/#migrate-legacy-special-outbounds-to-rule-actions"};
const Deprecation kWireGuardOutbound {"WireGuard outbound", "1.11.0", 13, "WIREGUARD_OUTBOUND",
    "https://sing-box.sagernet.org/migration/#migrate-wireguard-outbound-to-endpoint"};
const Deprecation kLegacyDnsServers {"legacy DNS servers", "1.12.0", 14, "LEGACY_DNS_SERVERS",
    "https://sing-box.sagernet.org/migration/#migrate-to-new-dns-server-formats"};

// A deprecated feature warns two minors before its removal and stops the
// engine one minor before it, unless its variable says to go on. False when fatal.
bool report(EngineCheckResult &result, const Deprecation &feature)
{
    const QString message = QStringLiteral("%1 is deprecated in sing-box %2 and will be removed in sing-box 1.%3.0, "
                                           "checkout documentation for migration: %4")
                                .arg(QLatin1String(feature.description), QLatin1String(feature.deprecatedIn))
                                .arg(feature.removedMinor)
                                .arg(QLatin1String(feature.link));
    const QByteArray variable = QByteArray("ENABLE_DEPRECATED_") + feature.envName;
    if (feature.removedMinor - engineMinorVersion() > 1 || environmentSaysTrue(variable)) {
        result.notes.append({3, message});
        return true;
    }
    result.notes.append({4, message});
    result.error = QStringLiteral("to continuing using this feature, set environment variable %1=true")
                       .arg(QString::fromLatin1(variable));
    return false;
}

// An ECHConfigList as the TLS library reads it: a length-prefixed list of
// configurations, at least one of a version it knows, each exactly as long as it says.
bool isEchConfigList(const QByteArray &bytes)
{
    const auto u16 = [&bytes](int at) {
        return (int(quint8(bytes.at(at))) << 8) | int(quint8(bytes.at(at + 1)));
    };
    if (bytes.size() < 2 || u16(0) != bytes.size() - 2)
        return false;
    int at = 2;
    bool known = false;
    while (at < bytes.size()) {
        if (at + 4 > bytes.size())
            return false;
        const int version = u16(at);
        const int length = u16(at + 2);
        const int end = at + 4 + length;
        if (end > bytes.size())
            return false;
        if (version == 0xfe0d) {
            int p = at + 4 + 1 + 2; // config id, KEM id
            if (p + 2 > end)
                return false;
            p += 2 + u16(p); // public key
            if (p + 2 > end)
                return false;
            const int suites = u16(p);
            if (suites == 0 || suites % 4 != 0)
                return false;
            p += 2 + suites;
            if (p + 2 > end)
                return false;
            ++p; // maximum name length
            const int name = quint8(bytes.at(p));
            if (name == 0)
                return false;
            p += 1 + name;
            if (p + 2 > end)
                return false;
            p += 2 + u16(p); // extensions
            if (p != end)
                return false;
            known = true;
        }
        at = end;
    }
    return known;
}

bool isEchPem(const QString &text)
{
    static const QRegularExpression block(QStringLiteral(
        "-----BEGIN ECH CONFIGS-----\\s*([A-Za-z0-9+/=\\s]*?)\\s*-----END ECH CONFIGS-----"));
    const QRegularExpressionMatch match = block.match(text);
    if (!match.hasMatch())
        return false;
    QString body = match.captured(1);
    body.remove(QRegularExpression(QStringLiteral("\\s")));
    const auto decoded = QByteArray::fromBase64Encoding(body.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && isEchConfigList(*decoded);
}

QString joinedList(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    QStringList lines;
    for (const QJsonValue &line : value.toArray())
        lines << line.toString();
    return lines.join(QLatin1Char('\n'));
}

// What building the box reads: ECH configurations of outbounds. Relative
// paths resolve from the working directory.
QString echProblem(const QJsonArray &outbounds)
{
    for (int i = 0; i < outbounds.size(); ++i) {
        const QJsonObject ech = outbounds.at(i)
                                    .toObject()
                                    .value(QStringLiteral("tls"))
                                    .toObject()
                                    .value(QStringLiteral("ech"))
                                    .toObject();
        if (!ech.value(QStringLiteral("enabled")).toBool())
            continue;
        QString pem = joinedList(ech.value(QStringLiteral("config")));
        const QString path = ech.value(QStringLiteral("config_path")).toString();
        if (pem.isEmpty() && !path.isEmpty()) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return QStringLiteral("initialize outbound[%1]: read ECH configs: open %2: no such file or directory")
                    .arg(i)
                    .arg(path);
            pem = QString::fromUtf8(file.readAll());
        }
        if (!pem.isEmpty() && !isEchPem(pem))
            return QStringLiteral("initialize outbound[%1]: invalid ECH configs pem").arg(i);
    }
    return QString();
}

// Local rule sets are loaded when the box is built, by "check" as well.
QString ruleSetProblem(const QJsonArray &ruleSets)
{
    for (int i = 0; i < ruleSets.size(); ++i) {
        const QJsonObject ruleSet = ruleSets.at(i).toObject();
        if (ruleSet.value(QStringLiteral("type")).toString() != QLatin1String("local"))
            continue;
        const QString path = ruleSet.value(QStringLiteral("path")).toString();
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
            return QStringLiteral("initialize rule-set[%1]: open %2: no such file or directory").arg(i).arg(path);
        const QByteArray content = file.readAll();
        if (ruleSet.value(QStringLiteral("format")).toString() == QLatin1String("binary")) {
            if (!content.startsWith("SRS"))
                return QStringLiteral("initialize rule-set[%1]: invalid sing-box rule-set file").arg(i);
        } else if (!QJsonDocument::fromJson(content).isObject()) {
            return QStringLiteral("initialize rule-set[%1]: decode rule-set file: invalid character").arg(i);
        }
    }
    return QString();
}

bool isLegacyDnsServer(const QJsonValue &server)
{
    return server.isObject() && server.toObject().value(QStringLiteral("type")).toString().isEmpty();
}

} // namespace

int engineMinorVersion()
{
    const QString version = qEnvironmentVariable("QUILLET_FAKE_ENGINE_VERSION");
    return version == QLatin1String("1.13") || version.startsWith(QLatin1String("1.13.")) ? 13 : 12;
}

bool engineVersionKnown()
{
    const QString version = qEnvironmentVariable("QUILLET_FAKE_ENGINE_VERSION");
    return version.isEmpty() || version == QLatin1String("1.12") || version == QLatin1String("1.13")
        || version.startsWith(QLatin1String("1.12.")) || version.startsWith(QLatin1String("1.13."));
}

QString engineVersionText()
{
    return engineMinorVersion() == 13 ? QStringLiteral("1.13.2") : QStringLiteral("1.12.24");
}

EngineCheckResult checkEngineConfig(const QByteArray &bytes, const QString &fileName)
{
    EngineCheckResult result;
    const QString prefix = QStringLiteral("decode config at %1: ").arg(fileName);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const auto [row, column] = rowAndColumn(bytes, parseError.offset);
        result.error
            = prefix + QStringLiteral("%1: row %2, column %3").arg(parseError.errorString()).arg(row).arg(column);
        return result;
    }
    if (!document.isObject()) {
        result.error = prefix
            + QStringLiteral("json: cannot unmarshal %1 into Go value of type option._Options")
                  .arg(document.isArray() ? QStringLiteral("array") : QStringLiteral("value"));
        return result;
    }
    Checker checker;
    if (!checker.checkObject(document.object(), schemas().objects.value(QStringLiteral("root")), QString())) {
        result.error = prefix + checker.error;
        return result;
    }

    // Decoding ends with the tag checks; what follows is building the box.
    const QJsonObject root = document.object();
    const QJsonArray outbounds = root.value(QStringLiteral("outbounds")).toArray();
    QSet<QString> outboundTags;
    QString duplicate = duplicateTag(outbounds, outboundTags);
    if (duplicate.isEmpty())
        duplicate = duplicateTag(root.value(QStringLiteral("endpoints")).toArray(), outboundTags);
    if (!duplicate.isEmpty()) {
        result.error = prefix + QStringLiteral("duplicate outbound/endpoint tag: %1").arg(duplicate);
        return result;
    }
    QSet<QString> inboundTags;
    duplicate = duplicateTag(root.value(QStringLiteral("inbounds")).toArray(), inboundTags);
    if (!duplicate.isEmpty()) {
        result.error = prefix + QStringLiteral("duplicate inbound tag: %1").arg(duplicate);
        return result;
    }

    const QJsonArray dnsServers = root.value(QStringLiteral("dns")).toObject().value(QStringLiteral("servers")).toArray();
    if (std::any_of(dnsServers.begin(), dnsServers.end(), isLegacyDnsServer) && !report(result, kLegacyDnsServers))
        return result;
    const QString ruleSets
        = ruleSetProblem(root.value(QStringLiteral("route")).toObject().value(QStringLiteral("rule_set")).toArray());
    if (!ruleSets.isEmpty()) {
        result.error = ruleSets;
        result.createStage = true;
        return result;
    }
    for (int i = 0; i < outbounds.size(); ++i) {
        const QString type = outbounds.at(i).toObject().value(QStringLiteral("type")).toString();
        if (type == QLatin1String("dns") && !report(result, kSpecialOutbounds))
            return result;
        if (type == QLatin1String("wireguard")) {
            if (engineMinorVersion() >= k113) {
                result.error = QStringLiteral("initialize outbound[%1]: WireGuard outbound is deprecated in sing-box "
                                              "1.11.0 and removed in sing-box 1.13.0, use WireGuard endpoint instead")
                                   .arg(i);
                result.createStage = true;
                return result;
            }
            if (!report(result, kWireGuardOutbound))
                return result;
        }
    }
    const QString ech = echProblem(outbounds);
    if (!ech.isEmpty()) {
        result.error = ech;
        result.createStage = true;
        return result;
    }
    result.ok = true;
    result.document = root;
    return result;
}
