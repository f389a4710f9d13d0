#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QStringList>

// The rules by which the tunnel service refuses an engine configuration
// before running it with system rights, restated for the tests: every
// document the client builds or normalizes must come out with no violation.
//
//  1. The document is a JSON object.
//  2. "log" has no key "output".
//  3. "experimental" has no key "debug".
//  4. No element of "outbounds" has "type" "tor" (any case).
//  5. Every string (or string in an array) under a key "path", "output",
//     "external_ui", "executable_path", "data_directory", "cache_path",
//     "certificate_path" or "key_path", at any depth, is relative: it starts
//     neither with "/" nor "\" nor a letter and ":", and no component between
//     "/" or "\" separators is "..". Exempt are the "path" of a DNS server
//     (an element of "dns"."servers") and anything inside a "transport"
//     object: those are URL paths on a remote server, not files.
namespace ConfigSafety {

inline bool isUnsafePath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return true;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).unicode() < 128 && path.at(0).isLetter())
        return true;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return path.split(separators).contains(QStringLiteral(".."));
}

namespace Detail {

inline bool isPathKey(const QString &key)
{
    static const QStringList keys{
        QStringLiteral("path"),           QStringLiteral("output"),           QStringLiteral("external_ui"),
        QStringLiteral("executable_path"), QStringLiteral("data_directory"),  QStringLiteral("cache_path"),
        QStringLiteral("certificate_path"), QStringLiteral("key_path"),
    };
    return keys.contains(key);
}

// urlPathContext: inside a DNS server or a transport, where "path" names a URL path.
inline void walk(const QJsonValue &value, const QString &where, bool urlPathContext, QStringList &violations)
{
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            walk(array.at(i), QStringLiteral("%1[%2]").arg(where).arg(i), urlPathContext, violations);
        return;
    }
    if (!value.isObject())
        return;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString here = where.isEmpty() ? it.key() : where + QLatin1Char('.') + it.key();
        const bool exempt = urlPathContext && it.key() == QLatin1String("path");
        if (isPathKey(it.key()) && !exempt) {
            QJsonArray candidates = it.value().isArray() ? it.value().toArray() : QJsonArray{it.value()};
            for (const QJsonValue &candidate : candidates) {
                if (candidate.isString() && isUnsafePath(candidate.toString()))
                    violations << QStringLiteral("%1: unsafe path \"%2\"").arg(here, candidate.toString());
            }
        }
        walk(it.value(), here, urlPathContext || it.key() == QLatin1String("transport"), violations);
    }
}

} // namespace Detail

// Empty when the service would run the document; otherwise one line per
// reason.
inline QStringList violations(const QByteArray &config)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(config, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {QStringLiteral("not a JSON object")};
    const QJsonObject root = document.object();

    QStringList found;
    if (root.value(QLatin1String("log")).toObject().contains(QLatin1String("output")))
        found << QStringLiteral("log.output is set");
    if (root.value(QLatin1String("experimental")).toObject().contains(QLatin1String("debug")))
        found << QStringLiteral("experimental.debug is set");
    for (const QJsonValue &outbound : root.value(QLatin1String("outbounds")).toArray()) {
        const QString type = outbound.toObject().value(QLatin1String("type")).toString();
        if (type.compare(QLatin1String("tor"), Qt::CaseInsensitive) == 0)
            found << QStringLiteral("outbounds: tor outbound");
    }

    for (auto it = root.begin(); it != root.end(); ++it) {
        if (it.key() == QLatin1String("dns") && it.value().isObject()) {
            const QJsonObject dns = it.value().toObject();
            for (auto dnsIt = dns.begin(); dnsIt != dns.end(); ++dnsIt)
                Detail::walk(QJsonObject{{dnsIt.key(), dnsIt.value()}}, QStringLiteral("dns"),
                             dnsIt.key() == QLatin1String("servers"), found);
            continue;
        }
        Detail::walk(QJsonObject{{it.key(), it.value()}}, QString(), false, found);
    }
    return found;
}

} // namespace ConfigSafety
