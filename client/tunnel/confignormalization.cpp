#include "confignormalization.h"

#include "tunnel/enginecontract.h"

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

bool removeUnsafePath(QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString() || !isUnsafeEnginePath(value.toString()))
        return false;
    object.remove(key);
    return true;
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

bool dropDnsOutbounds(QJsonObject &root, bool alreadyChanged)
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
            continue;
        }
        rebuilt.append(element);
    }
    if (dropped || alreadyChanged)
        root.insert(QLatin1String("outbounds"), rebuilt);
    return dropped;
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
    bool changed = false;

    if (root.value(QLatin1String("log")).isObject()) {
        QJsonObject log = root.value(QLatin1String("log")).toObject();
        if (removeKeys(log, {QLatin1String("output")})) {
            root.insert(QLatin1String("log"), log);
            changed = true;
        }
    }

    if (!root.value(QLatin1String("experimental")).isObject())
        return changed;
    QJsonObject experimental = root.value(QLatin1String("experimental")).toObject();
    bool experimentalChanged = removeKeys(experimental, {QLatin1String("debug")});

    if (experimental.value(QLatin1String("cache_file")).isObject()) {
        QJsonObject cacheFile = experimental.value(QLatin1String("cache_file")).toObject();
        if (removeUnsafePath(cacheFile, QLatin1String("path"))) {
            experimental.insert(QLatin1String("cache_file"), cacheFile);
            experimentalChanged = true;
        }
    }
    if (experimental.value(QLatin1String("clash_api")).isObject()) {
        QJsonObject clashApi = experimental.value(QLatin1String("clash_api")).toObject();
        if (removeUnsafePath(clashApi, QLatin1String("external_ui"))) {
            experimental.insert(QLatin1String("clash_api"), clashApi);
            experimentalChanged = true;
        }
    }

    if (experimentalChanged) {
        root.insert(QLatin1String("experimental"), experimental);
        changed = true;
    }
    return changed;
}

} // namespace

QByteArray normalizeRemoteDesktopConfig(const QByteArray &config)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(config, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return config;

    QJsonObject root = document.object();
    bool changed = stripTunSniffing(root);
    changed = dropDnsOutbounds(root, changed) || changed;
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
