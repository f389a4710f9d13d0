#include "connectionrules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace ConnectionRules {

namespace {

bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
        || c == '-' || static_cast<unsigned char>(c) >= 0x80;
}

// Separators inside a tag or host name: a part between them is a name of its own.
bool isPartSeparator(char c)
{
    return c == '.' || c == '-';
}

// An id that may stand as a part of a longer tag or host: letters together
// with a digit or a separator ("hk1", "hk-kowloon"). A plain word ("sg") or a
// number ("1") is too likely to turn up in a host or address by chance.
bool mayStandAsPart(const QByteArray &text)
{
    bool letter = false;
    bool digitOrSeparator = false;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80)
            letter = true;
        else if ((c >= '0' && c <= '9') || isPartSeparator(c))
            digitOrSeparator = true;
    }
    return letter && digitOrSeparator;
}

bool isProbeUrl(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

} // namespace

int connectTimeoutGuardMs(const QVariantMap &connectivity)
{
    bool ok = false;
    const int value = connectivity.value(QStringLiteral("connect_timeout_ms")).toInt(&ok);
    return qBound(15000, ok ? value : 35000, 90000);
}

int requiredSuccesses(int count, int percent)
{
    if (count <= 0)
        return 1;
    const int required = (count * percent + 99) / 100;
    return qBound(1, required, count);
}

ProbePlan probePlan(const QVariantMap &connectivity, const QStringList &defaultTargets)
{
    ProbePlan plan;
    auto validTargets = [](const QStringList &list) {
        QStringList out;
        for (const QString &entry : list) {
            if (isProbeUrl(entry))
                out << entry.trimmed();
        }
        return out;
    };
    plan.targets = validTargets(connectivity.value(QStringLiteral("test_urls")).toStringList());
    // A list whose entries are all unusable would leave nothing to probe.
    if (plan.targets.isEmpty())
        plan.targets = validTargets(defaultTargets);

    bool ok = false;
    const int percent = connectivity.value(QStringLiteral("min_success_pct")).toInt(&ok);
    plan.percent = qBound(1, ok ? percent : 20, 100);
    plan.required = requiredSuccesses(int(plan.targets.size()), plan.percent);

    const int timeout = connectivity.value(QStringLiteral("probe_timeout_ms")).toInt(&ok);
    plan.timeoutMs = qBound(1000, ok ? timeout : 5000, 15000);

    const int delay = connectivity.value(QStringLiteral("probe_delay_ms")).toInt(&ok);
    plan.delayMs = !ok ? 1000 : (delay < 0 || delay > 5000 ? 5000 : delay);
    return plan;
}

bool configNamesNode(const QByteArray &document, const QString &nodeId)
{
    const QByteArray id = nodeId.trimmed().toUtf8();
    if (id.isEmpty())
        return true;
    const bool partsCount = mayStandAsPart(id);
    auto clear = [&](qsizetype index) {
        if (index < 0 || index >= document.size())
            return true;
        const char c = document.at(index);
        return !isTokenCharacter(c) || (partsCount && isPartSeparator(c));
    };
    qsizetype from = 0;
    while (true) {
        const qsizetype at = document.indexOf(id, from);
        if (at < 0)
            return false;
        if (clear(at - 1) && clear(at + id.size()))
            return true;
        from = at + 1;
    }
}

QString proxyNodeTagFromConfig(const QByteArray &document)
{
    const QJsonArray outbounds = QJsonDocument::fromJson(document).object().value(QStringLiteral("outbounds")).toArray();
    for (const QJsonValue &value : outbounds) {
        const QJsonObject outbound = value.toObject();
        if (outbound.value(QStringLiteral("tag")).toString() == QLatin1String("proxy")
            && outbound.value(QStringLiteral("type")).toString() == QLatin1String("selector")) {
            const QString chosen = outbound.value(QStringLiteral("default")).toString().trimmed();
            if (!chosen.isEmpty())
                return chosen;
        }
    }
    static const QStringList notNodes{QStringLiteral("direct"), QStringLiteral("block"), QStringLiteral("dns"),
                                      QStringLiteral("selector"), QStringLiteral("urltest")};
    for (const QJsonValue &value : outbounds) {
        const QJsonObject outbound = value.toObject();
        const QString tag = outbound.value(QStringLiteral("tag")).toString().trimmed();
        if (!tag.isEmpty() && !notNodes.contains(outbound.value(QStringLiteral("type")).toString()))
            return tag;
    }
    return QString();
}

QString normalizedRoutingMode(const QString &routingMode)
{
    return routingMode.trimmed().toLower() == QLatin1String("global") ? QStringLiteral("global")
                                                                      : QStringLiteral("smart");
}

QString runtimeClashModeForRoutingMode(const QString &routingMode)
{
    return routingMode.trimmed().toLower() == QLatin1String("global") ? QStringLiteral("global")
                                                                      : QStringLiteral("rule");
}

int curlProbeSeconds(int timeoutMs)
{
    if (timeoutMs > 15000)
        return 15;
    return qMax(1, (timeoutMs + 999) / 1000);
}

QStringList curlProbeArguments(const QString &url, int seconds, const QString &nullDevice)
{
    const QString limit = QString::number(seconds);
    // --noproxy: a proxy from the environment must not answer in the tunnel's place.
    return {QStringLiteral("-L"), QStringLiteral("-sS"), QStringLiteral("--ipv4"), QStringLiteral("--noproxy"),
        QStringLiteral("*"), QStringLiteral("-o"), nullDevice, QStringLiteral("-w"), QStringLiteral("%{http_code}"),
        QStringLiteral("--connect-timeout"), limit, QStringLiteral("--max-time"), limit, url};
}

int curlProbeStatus(const QByteArray &output)
{
    bool ok = false;
    const int status = output.trimmed().toInt(&ok, 10);
    return ok ? status : 0;
}

} // namespace ConnectionRules
