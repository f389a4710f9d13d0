#include "confignormalization.h"

#include "tunnel/enginecontract.h"

#include "configguard.h"
#include "jsonreader.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

namespace TunnelConfig {

namespace {

constexpr int kBrowserQuicPort = 443;

bool equalsIgnoringCase(const QJsonValue &value, QLatin1String text)
{
    return value.toString().compare(text, Qt::CaseInsensitive) == 0;
}

// Removes the keys that are present; true when any was.
bool removeKeys(QJsonObject &object, std::initializer_list<QLatin1String> keys)
{
    bool removed = false;
    for (const QLatin1String &key : keys) {
        if (object.contains(key)) {
            object.remove(key);
            removed = true;
        }
    }
    return removed;
}

// The engine matches a key to its field ignoring case (and the service checks
// keys the same way), so "Log"."Output" is the log's output as much as
// "log"."output" is. These keys of object, in any case.
QStringList keysNamed(const QJsonObject &object, QLatin1String name)
{
    QStringList keys;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (QuilletService::foldJsonKey(it.key().toStdString()) == name.data())
            keys.append(it.key());
    }
    return keys;
}

bool removeKeysInAnyCase(QJsonObject &object, QLatin1String name)
{
    const QStringList keys = keysNamed(object, name);
    for (const QString &key : keys)
        object.remove(key);
    return !keys.isEmpty();
}

bool removeUnsafePaths(QJsonObject &object, QLatin1String name)
{
    bool removed = false;
    for (const QString &key : keysNamed(object, name)) {
        const QJsonValue value = object.value(key);
        if (value.isString() && isUnsafeEnginePath(value.toString())) {
            object.remove(key);
            removed = true;
        }
    }
    return removed;
}

// Applies edit to every object member of parent named name (in any case);
// true when edit changed one.
template<typename Edit>
bool editObjectsNamed(QJsonObject &parent, QLatin1String name, Edit edit)
{
    bool changed = false;
    for (const QString &key : keysNamed(parent, name)) {
        if (!parent.value(key).isObject())
            continue;
        QJsonObject child = parent.value(key).toObject();
        if (edit(child)) {
            parent.insert(key, child);
            changed = true;
        }
    }
    return changed;
}

bool stripTunSniffing(QJsonObject &root)
{
    const QJsonValue inbounds = root.value(QLatin1String("inbounds"));
    if (!inbounds.isArray())
        return false;
    QJsonArray rebuilt;
    bool removed = false;
    for (const QJsonValue &element : inbounds.toArray()) {
        QJsonObject inbound = element.toObject();
        if (equalsIgnoringCase(inbound.value(QLatin1String("type")), QLatin1String("tun"))
            && removeKeys(inbound, {QLatin1String("sniff"), QLatin1String("sniff_override_destination")})) {
            removed = true;
            rebuilt.append(inbound);
        } else {
            rebuilt.append(element);
        }
    }
    if (removed)
        root.insert(QLatin1String("inbounds"), rebuilt);
    return removed;
}

bool dropDnsOutbounds(QJsonObject &root, bool alreadyChanged, QStringList &droppedTags)
{
    const QJsonValue outbounds = root.value(QLatin1String("outbounds"));
    if (!outbounds.isArray())
        return false;
    QJsonArray rebuilt;
    bool dropped = false;
    for (const QJsonValue &element : outbounds.toArray()) {
        const QJsonObject outbound = element.toObject();
        if (equalsIgnoringCase(outbound.value(QLatin1String("type")), QLatin1String("dns"))
            || equalsIgnoringCase(outbound.value(QLatin1String("tag")), QLatin1String("dns-out"))) {
            dropped = true;
            const QString tag = outbound.value(QLatin1String("tag")).toString();
            if (!tag.isEmpty())
                droppedTags.append(tag);
            continue;
        }
        rebuilt.append(element);
    }
    if (dropped || alreadyChanged)
        root.insert(QLatin1String("outbounds"), rebuilt);
    return dropped;
}

// A rule that sent DNS to the dropped outbound now hands it to the engine's
// own DNS (what the outbound did); left pointing at a missing tag, the engine
// would fail every DNS flow with "outbound not found".
bool rewriteRuleToDroppedOutbound(QJsonObject &rule, const QStringList &droppedTags)
{
    bool changed = false;
    if (rule.value(QLatin1String("type")).toString() == QLatin1String("logical")) {
        const QJsonValue nested = rule.value(QLatin1String("rules"));
        if (nested.isArray()) {
            QJsonArray rebuilt;
            bool nestedChanged = false;
            for (const QJsonValue &element : nested.toArray()) {
                QJsonObject inner = element.toObject();
                if (element.isObject() && rewriteRuleToDroppedOutbound(inner, droppedTags)) {
                    nestedChanged = true;
                    rebuilt.append(inner);
                } else {
                    rebuilt.append(element);
                }
            }
            if (nestedChanged) {
                rule.insert(QLatin1String("rules"), rebuilt);
                changed = true;
            }
        }
    }
    const QString action = rule.value(QLatin1String("action")).toString();
    const QJsonValue outbound = rule.value(QLatin1String("outbound"));
    if ((action.isEmpty() || action == QLatin1String("route")) && outbound.isString()
        && droppedTags.contains(outbound.toString())) {
        // hijack-dns takes no options of a route action.
        removeKeys(rule,
            {QLatin1String("outbound"), QLatin1String("override_address"), QLatin1String("override_port"),
                QLatin1String("network_strategy"), QLatin1String("fallback_delay"),
                QLatin1String("udp_disable_domain_unmapping"), QLatin1String("udp_connect"),
                QLatin1String("udp_timeout"), QLatin1String("tls_fragment"),
                QLatin1String("tls_fragment_fallback_delay"), QLatin1String("tls_record_fragment")});
        rule.insert(QLatin1String("action"), QStringLiteral("hijack-dns"));
        changed = true;
    }
    return changed;
}

bool redirectRulesOfDroppedOutbounds(QJsonObject &root, const QStringList &droppedTags)
{
    if (droppedTags.isEmpty() || !root.value(QLatin1String("route")).isObject())
        return false;
    QJsonObject route = root.value(QLatin1String("route")).toObject();
    bool changed = false;
    const QJsonValue rules = route.value(QLatin1String("rules"));
    if (rules.isArray()) {
        QJsonArray rebuilt;
        for (const QJsonValue &element : rules.toArray()) {
            QJsonObject rule = element.toObject();
            if (element.isObject() && rewriteRuleToDroppedOutbound(rule, droppedTags)) {
                changed = true;
                rebuilt.append(rule);
            } else {
                rebuilt.append(element);
            }
        }
        if (changed)
            route.insert(QLatin1String("rules"), rebuilt);
    }
    // A final outbound that no longer exists would stop the engine at start;
    // without one it takes the first outbound, as it does for any document.
    const QJsonValue final = route.value(QLatin1String("final"));
    if (final.isString() && droppedTags.contains(final.toString())) {
        route.remove(QLatin1String("final"));
        changed = true;
    }
    if (changed)
        root.insert(QLatin1String("route"), route);
    return changed;
}

// The legacy WireGuard outbound stops the engine from 1.12 on and is gone in
// 1.13; the same tunnel as an endpoint runs on both (the engine's documented
// migration: local_address -> address, peers' server/server_port ->
// address/port, system_interface/interface_name -> system/name).
QJsonObject wireGuardEndpointFrom(const QJsonObject &outbound)
{
    static const char *const kSameName[] = {"tag", "private_key", "mtu", "workers", "detour", "bind_interface",
        "inet4_bind_address", "inet6_bind_address", "routing_mark", "reuse_addr", "connect_timeout", "tcp_fast_open",
        "tcp_multi_path", "udp_fragment", "domain_resolver", "network_strategy", "network_type",
        "fallback_network_type", "fallback_delay", "domain_strategy"};
    QJsonObject endpoint {{QStringLiteral("type"), QStringLiteral("wireguard")}};
    for (const char *key : kSameName) {
        const QLatin1String name(key);
        if (outbound.contains(name))
            endpoint.insert(name, outbound.value(name));
    }
    const auto rename = [&](QLatin1String from, QLatin1String to) {
        if (outbound.contains(from))
            endpoint.insert(to, outbound.value(from));
    };
    rename(QLatin1String("local_address"), QLatin1String("address"));
    rename(QLatin1String("system_interface"), QLatin1String("system"));
    rename(QLatin1String("interface_name"), QLatin1String("name"));

    const QJsonValue reserved = outbound.value(QLatin1String("reserved"));
    QJsonArray peers;
    const QJsonValue legacyPeers = outbound.value(QLatin1String("peers"));
    if (legacyPeers.isArray() && !legacyPeers.toArray().isEmpty()) {
        for (const QJsonValue &element : legacyPeers.toArray()) {
            const QJsonObject legacy = element.toObject();
            QJsonObject peer;
            for (auto it = legacy.begin(); it != legacy.end(); ++it) {
                if (it.key() == QLatin1String("server"))
                    peer.insert(QStringLiteral("address"), it.value());
                else if (it.key() == QLatin1String("server_port"))
                    peer.insert(QStringLiteral("port"), it.value());
                else
                    peer.insert(it.key(), it.value());
            }
            if (!peer.contains(QLatin1String("reserved")) && !reserved.isUndefined())
                peer.insert(QStringLiteral("reserved"), reserved);
            peers.append(peer);
        }
    } else {
        // The single-peer form: the peer is the outbound's server and takes all traffic.
        QJsonObject peer;
        const auto copy = [&](QLatin1String from, QLatin1String to) {
            if (outbound.contains(from))
                peer.insert(to, outbound.value(from));
        };
        copy(QLatin1String("server"), QLatin1String("address"));
        copy(QLatin1String("server_port"), QLatin1String("port"));
        copy(QLatin1String("peer_public_key"), QLatin1String("public_key"));
        copy(QLatin1String("pre_shared_key"), QLatin1String("pre_shared_key"));
        copy(QLatin1String("reserved"), QLatin1String("reserved"));
        peer.insert(QStringLiteral("allowed_ips"), QJsonArray {QStringLiteral("0.0.0.0/0"), QStringLiteral("::/0")});
        peers.append(peer);
    }
    endpoint.insert(QStringLiteral("peers"), peers);
    return endpoint;
}

bool migrateWireGuardOutbounds(QJsonObject &root)
{
    const QJsonValue outbounds = root.value(QLatin1String("outbounds"));
    if (!outbounds.isArray())
        return false;
    const QJsonValue existing = root.value(QLatin1String("endpoints"));
    if (!existing.isUndefined() && !existing.isNull() && !existing.isArray())
        return false; // not a document the engine reads; leave it to its check
    QJsonArray kept;
    QJsonArray endpoints = existing.toArray();
    bool moved = false;
    for (const QJsonValue &element : outbounds.toArray()) {
        const QJsonObject outbound = element.toObject();
        if (element.isObject()
            && equalsIgnoringCase(outbound.value(QLatin1String("type")), QLatin1String("wireguard"))) {
            endpoints.append(wireGuardEndpointFrom(outbound));
            moved = true;
            continue;
        }
        kept.append(element);
    }
    if (moved) {
        root.insert(QLatin1String("outbounds"), kept);
        root.insert(QLatin1String("endpoints"), endpoints);
    }
    return moved;
}

// The names the engine joins under runtime/ for its control API's UI folder.
bool isPlainFolderName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return plain.match(name).hasMatch();
}

bool dropBrowserQuicBlockRules(QJsonObject &root)
{
    QJsonObject route = root.value(QLatin1String("route")).toObject();
    const QJsonValue rules = route.value(QLatin1String("rules"));
    if (!rules.isArray())
        return false;
    QJsonArray rebuilt;
    bool dropped = false;
    for (const QJsonValue &element : rules.toArray()) {
        if (isBrowserQuicBlockRule(element.toObject())) {
            dropped = true;
            continue;
        }
        rebuilt.append(element);
    }
    if (dropped) {
        route.insert(QLatin1String("rules"), rebuilt);
        root.insert(QLatin1String("route"), route);
    }
    return dropped;
}

// The service refuses a document that would make the engine write outside its
// runtime directory or open a debug listener; none of these fields is needed
// on the desktop, so they go rather than the whole document.
bool stripMachineReachingFields(QJsonObject &root)
{
    bool changed = editObjectsNamed(root, QLatin1String("log"), [](QJsonObject &log) {
        return removeKeysInAnyCase(log, QLatin1String("output"));
    });
    changed = editObjectsNamed(root, QLatin1String("experimental"), [](QJsonObject &experimental) {
        bool edited = removeKeysInAnyCase(experimental, QLatin1String("debug"));
        edited = editObjectsNamed(experimental, QLatin1String("cache_file"), [](QJsonObject &cacheFile) {
            return removeUnsafePaths(cacheFile, QLatin1String("path"));
        }) || edited;
        edited = editObjectsNamed(experimental, QLatin1String("clash_api"), [](QJsonObject &clashApi) {
            // The UI folder is served without the secret and filled from a
            // download whose entries may climb out of it: one plain name, no download.
            bool ui = removeKeysInAnyCase(clashApi, QLatin1String("external_ui_download_url"));
            ui = removeKeysInAnyCase(clashApi, QLatin1String("external_ui_download_detour")) || ui;
            for (const QString &key : keysNamed(clashApi, QLatin1String("external_ui"))) {
                const QJsonValue value = clashApi.value(key);
                if (value.isString() && !value.toString().isEmpty() && !isPlainFolderName(value.toString())) {
                    clashApi.remove(key);
                    ui = true;
                }
            }
            return ui;
        }) || edited;
        return edited;
    }) || changed;
    return changed;
}

} // namespace

static QString repeatedKeyProblem(const QByteArray &config)
{
    const QuilletService::JsonParseResult parsed = QuilletService::parseJson(config.toStdString());
    if (parsed.ok || parsed.error != "duplicate key")
        return QString();
    return QStringLiteral("a key is repeated in one object (byte %1)").arg(parsed.offset);
}

QByteArray normalizeRemoteDesktopConfig(const QByteArray &config, QString *problem)
{
    // Readers disagree about a repeated key: this document could mean one
    // thing here and another to the service's check and to the engine.
    const QString repeated = repeatedKeyProblem(config);
    if (problem)
        *problem = repeated;
    if (!repeated.isEmpty())
        return QByteArray();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(config, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return config;

    QJsonObject root = document.object();
    bool changed = stripTunSniffing(root);
    QStringList droppedTags;
    changed = dropDnsOutbounds(root, changed, droppedTags) || changed;
    changed = redirectRulesOfDroppedOutbounds(root, droppedTags) || changed;
    changed = migrateWireGuardOutbounds(root) || changed;
    changed = dropBrowserQuicBlockRules(root) || changed;
    changed = stripMachineReachingFields(root) || changed;

    if (!changed)
        return config;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool jsonValueContainsPort(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toInt() == kBrowserQuicPort;
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue &element : array) {
            if (jsonValueContainsPort(element))
                return true;
        }
    }
    return false;
}

bool isBrowserQuicBlockRule(const QJsonObject &rule)
{
    const QString outbound = rule.value(QLatin1String("outbound")).toString();
    const QString action = rule.value(QLatin1String("action")).toString();
    const QString network = rule.value(QLatin1String("network")).toString();
    if (network != QLatin1String("udp") || !jsonValueContainsPort(rule.value(QLatin1String("port"))))
        return false;
    return outbound == QLatin1String("block") || action == QLatin1String("block")
        || action == QLatin1String("reject");
}

QJsonArray ensureBrowserQuicBlockRule(const QJsonArray &rules)
{
    int position = 0;
    for (int index = 0; index < rules.size(); ++index) {
        const QJsonObject rule = rules.at(index).toObject();
        if (isBrowserQuicBlockRule(rule))
            return rules;
        if (rule.value(QLatin1String("action")).toString() == QLatin1String("sniff")
            || rule.value(QLatin1String("protocol")).toString() == QLatin1String("dns"))
            position = index + 1;
    }

    QJsonArray result = rules;
    result.insert(position,
                  QJsonObject{
                      {QStringLiteral("network"), QStringLiteral("udp")},
                      {QStringLiteral("port"), QJsonArray{kBrowserQuicPort}},
                      {QStringLiteral("outbound"), QStringLiteral("block")},
                  });
    return result;
}

QVariantMap clashApiSettingsFromConfig(const QByteArray &config)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(config, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};

    const QJsonObject clashApi = document.object()
                                     .value(QLatin1String("experimental"))
                                     .toObject()
                                     .value(QLatin1String("clash_api"))
                                     .toObject();
    QString address = clashApi.value(QLatin1String("external_controller")).toString().trimmed();
    if (address.isEmpty())
        address = clashApi.value(QLatin1String("external-controller")).toString().trimmed();
    if (address.isEmpty())
        return {};

    if (!address.startsWith(QLatin1String("http://")) && !address.startsWith(QLatin1String("https://")))
        address.prepend(QLatin1String("http://"));
    QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return {};

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.endsWith(QLatin1String(Engine::kConfigsPath)))
        path.append(QLatin1String(Engine::kConfigsPath));
    url.setPath(path);

    return QVariantMap{
        {QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
        {QStringLiteral("secret"), clashApi.value(QLatin1String("secret")).toString()},
    };
}

bool isUnsafeEnginePath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return true;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).isLetter() && path.at(0).unicode() < 128)
        return true;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return path.split(separators).contains(QLatin1String(".."));
}

} // namespace TunnelConfig
