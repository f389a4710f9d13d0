// The node catalogue, the account's node choice and the engine configuration
// served for it.
#include "devserver.h"

#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>

#include <iterator>
#include <vector>

namespace {

struct DemoCountry
{
    const char *code;
    const char *name;
    const char *flag;
};

const DemoCountry kCountries[] = {
    {"HK", "香港", "🇭🇰"},
    {"JP", "日本", "🇯🇵"},
    {"SG", "新加坡", "🇸🇬"},
    {"US", "美国", "🇺🇸"},
};

struct DemoNode
{
    const char *id;
    const char *name;
    const char *countryCode;
    const char *tag; // empty: none
    bool featured;
    bool trojan; // otherwise shadowsocks
};

// Ids are chosen so that none occurs inside another: the client accepts a
// configuration when the node's id occurs anywhere in it.
const DemoNode kNodes[] = {
    {"hk-smart", "香港 · 智能选路", "HK", "推荐", true, false},
    {"hk-kowloon", "香港 · 九龙", "HK", "流媒体", false, false},
    {"hk-shatin", "香港 · 沙田", "HK", "", false, false},
    {"jp-tokyo", "日本 · 东京", "JP", "流媒体", false, false},
    {"jp-osaka", "日本 · 大阪", "JP", "", false, true},
    {"sg-prime", "新加坡 · 主线", "SG", "均衡", true, false},
    {"us-losangeles", "美国 · 洛杉矶", "US", "", false, false},
    {"us-sanjose", "美国 · 圣何塞", "US", "", false, true},
};

const DemoCountry *countryOf(const QString &code)
{
    for (const DemoCountry &country : kCountries) {
        if (code == QLatin1String(country.code))
            return &country;
    }
    return nullptr;
}

// Stable per node, so a kept data directory and a fresh one agree.
QByteArray nodeSecret(const QString &nodeId)
{
    return QCryptographicHash::hash("quillet-demo-node:" + nodeId.toUtf8(), QCryptographicHash::Sha256).left(16);
}

QJsonObject demoOutbound(const DemoNode &demo, const QString &host, quint16 port)
{
    const QString id = QLatin1String(demo.id);
    if (demo.trojan) {
        return QJsonObject {
            {QStringLiteral("type"), QStringLiteral("trojan")},
            {QStringLiteral("tag"), id},
            {QStringLiteral("server"), host},
            {QStringLiteral("server_port"), port},
            {QStringLiteral("password"), QString::fromLatin1(nodeSecret(id).toHex())},
            {QStringLiteral("tls"),
                QJsonObject {
                    {QStringLiteral("enabled"), true},
                    {QStringLiteral("server_name"), id + QStringLiteral(".nodes.quillet.invalid")},
                    {QStringLiteral("insecure"), true},
                }},
        };
    }
    return QJsonObject {
        {QStringLiteral("type"), QStringLiteral("shadowsocks")},
        {QStringLiteral("tag"), id},
        {QStringLiteral("server"), host},
        {QStringLiteral("server_port"), port},
        {QStringLiteral("method"), QStringLiteral("2022-blake3-aes-128-gcm")},
        {QStringLiteral("password"), QString::fromLatin1(nodeSecret(id).toBase64())},
    };
}

// Ports that were free a moment ago and that nothing listens on now, so a
// probe of a demo node is refused at once instead of timing out.
QList<quint16> closedLoopbackPorts(int count)
{
    std::vector<std::unique_ptr<QTcpServer>> holders;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto server = std::make_unique<QTcpServer>();
        ports << (server->listen(QHostAddress::LocalHost, 0) ? server->serverPort() : quint16(0));
        holders.push_back(std::move(server)); // held until all are picked, so they differ
    }
    return ports;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(0);
}

bool usable(const DevServerStore::Node &node)
{
    return !node.disabled && node.status.trimmed().compare(QLatin1String("offline"), Qt::CaseInsensitive) != 0;
}

QJsonObject rawNode(const DevServerStore::Node &node)
{
    return QJsonObject {
        {QStringLiteral("id"), node.id},
        {QStringLiteral("name"), node.name},
        {QStringLiteral("region"), node.region},
        {QStringLiteral("country"), node.country},
        {QStringLiteral("country_code"), node.countryCode},
        {QStringLiteral("flag"), node.flag},
        {QStringLiteral("status"), node.status},
        {QStringLiteral("disabled"), node.disabled},
        // Unknown on purpose: the client measures from where it stands and grades itself.
        {QStringLiteral("latency_ms"), 0},
        {QStringLiteral("quality_label"), QString()},
        {QStringLiteral("quality_score"), 0},
        {QStringLiteral("tags"), QJsonArray::fromStringList(node.tags)},
        {QStringLiteral("featured"), node.featured},
        {QStringLiteral("outbound"), node.outbound},
        {QStringLiteral("meta"), QJsonObject {{QStringLiteral("host"), node.host}}},
    };
}

QString routingModeOf(const QString &text)
{
    return text.trimmed().toLower() == QLatin1String("global") ? QStringLiteral("global") : QStringLiteral("smart");
}

// --- the engine configuration ------------------------------------------------------

QString defaultTemplateDir()
{
#ifdef QUILLET_DEVSERVER_TEMPLATE_DIR
    return QStringLiteral(QUILLET_DEVSERVER_TEMPLATE_DIR);
#else
    return QString();
#endif
}

QJsonObject templateDocument(const QString &dir, const QString &mode)
{
    if (dir.isEmpty())
        return {};
    const QStringList names {
        QStringLiteral("server_config_template_%1.json").arg(mode), QStringLiteral("server_config_template.json")};
    for (const QString &name : names) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error == QJsonParseError::NoError && document.isObject())
            return document.object();
        qWarning().noquote() << QStringLiteral("devserver: ignoring template %1: %2")
                                    .arg(file.fileName(),
                                        error.error == QJsonParseError::NoError ? QStringLiteral("not an object")
                                                                                : error.errorString());
    }
    return {};
}

// Every string that is exactly "{{NAME}}" becomes the value itself (a port
// stays a number); "{{NAME}}" inside a longer string is replaced as text.
QJsonValue substituted(const QJsonValue &value, const QHash<QString, QJsonValue> &values)
{
    if (value.isString()) {
        static const QRegularExpression whole(QStringLiteral("^\\{\\{([A-Z0-9_]+)\\}\\}$"));
        QString text = value.toString();
        const QRegularExpressionMatch match = whole.match(text);
        if (match.hasMatch() && values.contains(match.captured(1)))
            return values.value(match.captured(1));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            text.replace(QStringLiteral("{{%1}}").arg(it.key()), it.value().toVariant().toString());
        return text;
    }
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue &element : value.toArray())
            array.append(substituted(element, values));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = substituted(it.value(), values);
        return object;
    }
    return value;
}

QJsonObject builtInDocument(const QString &nodeId, const QString &mode)
{
    const bool smart = mode == QLatin1String("smart");
    const auto udpDns = [](const QString &tag, const QString &server) {
        return QJsonObject {{QStringLiteral("type"), QStringLiteral("udp")}, {QStringLiteral("tag"), tag},
            {QStringLiteral("server"), server}, {QStringLiteral("server_port"), 53}};
    };
    QJsonArray dnsServers {
        udpDns(QStringLiteral("bootstrap-dns"), QStringLiteral("1.1.1.1")),
        QJsonObject {{QStringLiteral("type"), QStringLiteral("https")},
            {QStringLiteral("tag"), QStringLiteral("remote-dns")},
            {QStringLiteral("server"), QStringLiteral("1.1.1.1")}, {QStringLiteral("server_port"), 443},
            {QStringLiteral("path"), QStringLiteral("/dns-query")},
            {QStringLiteral("detour"), QStringLiteral("proxy")}},
    };
    QJsonObject dns {
        {QStringLiteral("final"), QStringLiteral("remote-dns")},
        {QStringLiteral("strategy"), QStringLiteral("ipv4_only")},
    };
    QJsonArray rules {
        QJsonObject {{QStringLiteral("action"), QStringLiteral("sniff")}},
        QJsonObject {{QStringLiteral("protocol"), QStringLiteral("dns")},
            {QStringLiteral("action"), QStringLiteral("hijack-dns")}},
        QJsonObject {{QStringLiteral("network"), QStringLiteral("udp")}, {QStringLiteral("port"), QJsonArray {443}},
            {QStringLiteral("action"), QStringLiteral("reject")}},
    };
    QJsonObject route {
        {QStringLiteral("final"), QStringLiteral("proxy")},
        {QStringLiteral("auto_detect_interface"), true},
        {QStringLiteral("default_domain_resolver"), QStringLiteral("bootstrap-dns")},
    };
    // Both modes carry the China rules behind a "Global" clash_mode rule, so
    // the engine's mode switch (control API) changes the routing in place.
    dnsServers.append(udpDns(QStringLiteral("cn-direct-dns"), QStringLiteral("223.5.5.5")));
    dns.insert(QStringLiteral("rules"),
        QJsonArray {QJsonObject {{QStringLiteral("clash_mode"), QStringLiteral("Global")},
                        {QStringLiteral("action"), QStringLiteral("route")},
                        {QStringLiteral("server"), QStringLiteral("remote-dns")}},
            QJsonObject {{QStringLiteral("rule_set"), QJsonArray {QStringLiteral("geosite-cn")}},
                {QStringLiteral("action"), QStringLiteral("route")},
                {QStringLiteral("server"), QStringLiteral("cn-direct-dns")}}});
    rules.append(QJsonObject {{QStringLiteral("clash_mode"), QStringLiteral("Global")},
        {QStringLiteral("action"), QStringLiteral("route")}, {QStringLiteral("outbound"), QStringLiteral("proxy")}});
    rules.append(QJsonObject {
        {QStringLiteral("rule_set"), QJsonArray {QStringLiteral("geosite-cn"), QStringLiteral("geoip-cn")}},
        {QStringLiteral("action"), QStringLiteral("route")}, {QStringLiteral("outbound"), QStringLiteral("direct")}});
    const auto ruleSet = [](const QString &tag, const QString &path) {
        return QJsonObject {{QStringLiteral("type"), QStringLiteral("remote")}, {QStringLiteral("tag"), tag},
            {QStringLiteral("format"), QStringLiteral("binary")},
            {QStringLiteral("url"), QStringLiteral("https://raw.githubusercontent.com") + path},
            {QStringLiteral("update_interval"), QStringLiteral("1d")},
            {QStringLiteral("download_detour"), QStringLiteral("direct")}};
    };
    route.insert(QStringLiteral("rule_set"),
        QJsonArray {
            ruleSet(QStringLiteral("geosite-cn"), QStringLiteral("/SagerNet/sing-geosite/rule-set/geosite-cn.srs")),
            ruleSet(QStringLiteral("geoip-cn"), QStringLiteral("/SagerNet/sing-geoip/rule-set/geoip-cn.srs"))});
    dns.insert(QStringLiteral("servers"), dnsServers);
    route.insert(QStringLiteral("rules"), rules);

    return QJsonObject {
        {QStringLiteral("log"), QJsonObject {{QStringLiteral("level"), QStringLiteral("info")}}},
        {QStringLiteral("dns"), dns},
        {QStringLiteral("inbounds"),
            QJsonArray {QJsonObject {{QStringLiteral("type"), QStringLiteral("tun")},
                {QStringLiteral("tag"), QStringLiteral("tun-in")},
                {QStringLiteral("interface_name"), QStringLiteral("quillet-tun")},
                {QStringLiteral("address"), QJsonArray {QStringLiteral("172.19.0.1/30")}},
                {QStringLiteral("mtu"), 1400}, {QStringLiteral("auto_route"), true},
                {QStringLiteral("strict_route"), true}}}},
        {QStringLiteral("outbounds"),
            QJsonArray {
                QJsonObject {{QStringLiteral("type"), QStringLiteral("selector")},
                    {QStringLiteral("tag"), QStringLiteral("proxy")},
                    {QStringLiteral("outbounds"), QJsonArray {nodeId}}, {QStringLiteral("default"), nodeId}},
                QJsonObject {{QStringLiteral("tag"), nodeId}}, // replaced by the node's outbound
                QJsonObject {{QStringLiteral("type"), QStringLiteral("direct")},
                    {QStringLiteral("tag"), QStringLiteral("direct")}},
                QJsonObject {{QStringLiteral("type"), QStringLiteral("block")},
                    {QStringLiteral("tag"), QStringLiteral("block")}},
            }},
        {QStringLiteral("route"), route},
        {QStringLiteral("experimental"),
            QJsonObject {{QStringLiteral("cache_file"),
                             QJsonObject {{QStringLiteral("enabled"), true},
                                 {QStringLiteral("path"), QStringLiteral("cache.db")}}},
                {QStringLiteral("clash_api"),
                    QJsonObject {{QStringLiteral("default_mode"),
                        smart ? QStringLiteral("Rule") : QStringLiteral("Global")}}}}},
    };
}

bool isUnsafePath(const QString &path)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')) || drive.match(path).hasMatch()
        || path.contains(QLatin1String(".."));
}

// The engine runs with the service's rights: nothing that writes outside its
// own directory, starts programs or opens debug listeners, whatever a template holds.
void makeSafe(QJsonObject &document)
{
    QJsonObject log = document.value(QStringLiteral("log")).toObject();
    if (log.contains(QStringLiteral("output"))) {
        log.remove(QStringLiteral("output"));
        document.insert(QStringLiteral("log"), log);
    }
    QJsonArray outbounds;
    for (const QJsonValue &outbound : document.value(QStringLiteral("outbounds")).toArray()) {
        if (outbound.toObject()
                .value(QStringLiteral("type"))
                .toString()
                .compare(QLatin1String("tor"), Qt::CaseInsensitive)
            != 0)
            outbounds.append(outbound);
    }
    document.insert(QStringLiteral("outbounds"), outbounds);

    QJsonObject experimental = document.value(QStringLiteral("experimental")).toObject();
    experimental.remove(QStringLiteral("debug"));
    QJsonObject cache = experimental.value(QStringLiteral("cache_file")).toObject();
    if (isUnsafePath(cache.value(QStringLiteral("path")).toString())) {
        cache.insert(QStringLiteral("path"), QStringLiteral("cache.db"));
        experimental.insert(QStringLiteral("cache_file"), cache);
    }
    QJsonObject clash = experimental.value(QStringLiteral("clash_api")).toObject();
    if (isUnsafePath(clash.value(QStringLiteral("external_ui")).toString())) {
        clash.remove(QStringLiteral("external_ui"));
        clash.remove(QStringLiteral("external_ui_download_url"));
    }
    experimental.insert(QStringLiteral("clash_api"), clash);
    document.insert(QStringLiteral("experimental"), experimental);
}

} // namespace

// --- catalogue ---------------------------------------------------------------------

bool DevServer::seedNodes()
{
    if (m_options.demoNodes > 0)
        return m_store.replaceNodes(generatedNodes(m_options.demoNodes));
    const int count = int(std::size(kNodes));
    const QList<quint16> ports = closedLoopbackPorts(count);
    const QString host
        = m_options.nodeHost.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : m_options.nodeHost.trimmed();
    QList<DevServerStore::Node> nodes;
    for (int i = 0; i < count; ++i) {
        const DemoNode &demo = kNodes[i];
        const DemoCountry *country = countryOf(QLatin1String(demo.countryCode));
        DevServerStore::Node node;
        node.id = QLatin1String(demo.id);
        node.name = QString::fromUtf8(demo.name);
        node.countryCode = QLatin1String(demo.countryCode);
        node.country = country ? QString::fromUtf8(country->name) : node.countryCode;
        node.flag = country ? QString::fromUtf8(country->flag) : QString();
        node.region = QStringLiteral("%1-%2").arg(node.country, node.countryCode);
        node.status = QStringLiteral("online");
        if (*demo.tag)
            node.tags << QString::fromUtf8(demo.tag);
        node.featured = demo.featured;
        node.host = host;
        node.outbound = demoOutbound(demo, host, ports.value(i, 9));
        nodes << node;
    }
    return m_store.replaceNodes(nodes);
}

QJsonArray DevServer::nodesJson() const
{
    QJsonArray list;
    for (const DevServerStore::Node &node : m_store.nodes())
        list.append(rawNode(node));
    return list;
}

QJsonArray DevServer::nodeCountriesJson() const
{
    const QList<DevServerStore::Node> nodes = m_store.nodes();
    QStringList order;
    QHash<QString, QList<DevServerStore::Node>> members;
    for (const DevServerStore::Node &node : nodes) {
        if (!members.contains(node.countryCode))
            order << node.countryCode;
        members[node.countryCode] << node;
    }
    QJsonArray countries;
    for (const QString &code : std::as_const(order)) {
        const QList<DevServerStore::Node> group = members.value(code);
        QJsonArray ids;
        QString best;
        for (const DevServerStore::Node &node : group) {
            ids.append(node.id);
            if (best.isEmpty() && usable(node))
                best = node.id;
        }
        const bool online = !best.isEmpty();
        const DevServerStore::Node &first = group.first();
        countries.append(QJsonObject {
            {QStringLiteral("id"), code.toLower()},
            {QStringLiteral("name"), first.country},
            {QStringLiteral("country"), first.country},
            {QStringLiteral("country_code"), code},
            {QStringLiteral("flag"), first.flag},
            {QStringLiteral("region"), first.region},
            {QStringLiteral("node_count"), int(group.size())},
            {QStringLiteral("node_ids"), ids},
            {QStringLiteral("best_node_id"), online ? best : first.id},
            {QStringLiteral("latency_ms"), 0},
            {QStringLiteral("quality_label"), QString()},
            {QStringLiteral("quality_score"), 0},
            {QStringLiteral("status"), online ? QStringLiteral("online") : QStringLiteral("offline")},
        });
    }
    return countries;
}

QJsonObject DevServer::nodeJson(const QString &nodeId) const
{
    const auto node = m_store.nodeById(nodeId);
    return node ? rawNode(*node) : QJsonObject();
}

bool DevServer::setNodeEndpoint(const QString &nodeId, const QString &host, quint16 port)
{
    auto node = m_store.nodeById(nodeId);
    if (!node || host.trimmed().isEmpty() || port == 0)
        return false;
    node->host = host.trimmed();
    node->outbound.insert(QStringLiteral("server"), node->host);
    node->outbound.insert(QStringLiteral("server_port"), port);
    return m_store.updateNode(*node);
}

bool DevServer::setNodeStatus(const QString &nodeId, const QString &status, bool disabled)
{
    auto node = m_store.nodeById(nodeId);
    if (!node)
        return false;
    node->status = status.trimmed().isEmpty() ? QStringLiteral("online") : status.trimmed();
    node->disabled = disabled;
    return m_store.updateNode(*node);
}

std::optional<DevServerStore::Node> DevServer::effectiveNode(const DevServerStore::Account &account) const
{
    if (!account.selectedNodeId.isEmpty())
        return m_store.nodeById(account.selectedNodeId);
    // No choice made yet: the client then stands on the first node, so do we.
    const QList<DevServerStore::Node> nodes = m_store.nodes();
    const auto first = std::find_if(nodes.cbegin(), nodes.cend(), usable);
    if (first != nodes.cend())
        return *first;
    return nodes.isEmpty() ? std::nullopt : std::make_optional(nodes.first());
}

// --- routes ------------------------------------------------------------------------

void DevServer::addNodeRoutes()
{
    using namespace Backend::Path;
    addRoute("POST", QLatin1String(kNodesSelect), Access::Token, [this](const DevRequest &r) { return selectNode(r); });
    addRoute("GET", QString::fromLatin1(kNodesRefresh).section(QLatin1Char('?'), 0, 0), Access::Token,
        [this](const DevRequest &r) { return listNodes(r); });
    addRoute(
        "GET", QLatin1String(kSingBoxConfig), Access::Token, [this](const DevRequest &r) { return engineConfig(r); });
}

DevReply DevServer::selectNode(const DevRequest &request)
{
    const auto node = m_store.nodeById(request.text(QStringLiteral("node_id")));
    // A disabled node is off sale: as good as absent.
    if (!node || node->disabled)
        return DevReply::error(404, QStringLiteral("node not found"));
    if (!m_store.setSelectedNode(request.accountId, node->id))
        return DevReply::error(500, QStringLiteral("cannot store node selection"));
    return DevReply::json({
        {QStringLiteral("ok"), true},
        {QStringLiteral("selected_node_id"), node->id},
        {QStringLiteral("node"), rawNode(*node)},
    });
}

DevReply DevServer::listNodes(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));
    return DevReply::json({
        {QStringLiteral("items"), nodesJson()},
        {QStringLiteral("countries"), nodeCountriesJson()},
        {QStringLiteral("selected_node_id"), account->selectedNodeId},
    });
}

DevReply DevServer::engineConfig(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));
    const auto node = effectiveNode(*account);
    if (!node || node->disabled)
        return DevReply::error(404, QStringLiteral("node not found"));

    const QString mode = routingModeOf(request.queryValue(QStringLiteral("routing_mode")));
    const quint16 controllerPort = freeLoopbackPort();
    if (controllerPort == 0)
        return DevReply::error(500, QStringLiteral("no free loopback port for the control API"));
    const QString controller = QStringLiteral("127.0.0.1:%1").arg(controllerPort);
    const QString secret = DevCrypto::randomHex(16);

    const QString templateDir
        = m_options.configTemplateDir.isEmpty() ? defaultTemplateDir() : m_options.configTemplateDir;
    QJsonObject document = templateDocument(templateDir, mode);
    if (document.isEmpty()) {
        document = builtInDocument(node->id, mode);
    } else {
        const QHash<QString, QJsonValue> values {
            {QStringLiteral("NODE_ID"), node->id},
            {QStringLiteral("SERVER_HOST"), node->outbound.value(QStringLiteral("server"))},
            {QStringLiteral("SERVER_PORT"), node->outbound.value(QStringLiteral("server_port"))},
            {QStringLiteral("PASSWORD"), node->outbound.value(QStringLiteral("password"))},
            {QStringLiteral("CONTROLLER_ADDRESS"), controller},
            {QStringLiteral("SECRET"), secret},
        };
        document = substituted(document, values).toObject();
    }

    // The node's proxy outbound is the catalogue's, whatever the template wrote for it.
    QJsonArray outbounds = document.value(QStringLiteral("outbounds")).toArray();
    QJsonObject proxy = node->outbound;
    proxy.insert(QStringLiteral("tag"), node->id);
    bool placed = false;
    for (qsizetype i = 0; i < outbounds.size(); ++i) {
        const QJsonObject outbound = outbounds.at(i).toObject();
        const QString type = outbound.value(QStringLiteral("type")).toString();
        if (outbound.value(QStringLiteral("tag")).toString() == node->id && type != QLatin1String("selector")
            && type != QLatin1String("urltest")) {
            outbounds[i] = proxy;
            placed = true;
            break;
        }
    }
    if (!placed)
        outbounds.append(proxy);
    document.insert(QStringLiteral("outbounds"), outbounds);

    makeSafe(document);
    QJsonObject experimental = document.value(QStringLiteral("experimental")).toObject();
    QJsonObject clash = experimental.value(QStringLiteral("clash_api")).toObject();
    clash.insert(QStringLiteral("external_controller"), controller);
    clash.insert(QStringLiteral("secret"), secret);
    experimental.insert(QStringLiteral("clash_api"), clash);
    document.insert(QStringLiteral("experimental"), experimental);

    return DevReply::raw(QJsonDocument(document).toJson(QJsonDocument::Indented), "application/json");
}
