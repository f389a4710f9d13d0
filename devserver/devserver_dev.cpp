// Transport helpers (ping, echo) and the development-only switches under /dev/.
#include "devserver.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue echoedBody(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::NoError) {
        if (document.isObject())
            return document.object();
        if (document.isArray())
            return document.array();
    }
    return QString::fromUtf8(body);
}

} // namespace

void DevServer::addDevelopmentRoutes()
{
    const auto ping = [](const DevRequest &) { return DevReply::json({{QStringLiteral("ok"), true}}); };
    addRoute("GET", QStringLiteral("/api/v1/ping"), Access::Public, ping);
    const auto echoHandler = [this](const DevRequest &r) { return echo(r); };
    addRoute("GET", QStringLiteral("/api/v1/echo"), Access::OptionalToken, echoHandler, Body::Any);
    addRoute("POST", QStringLiteral("/api/v1/echo"), Access::OptionalToken, echoHandler, Body::Any);

    addRoute("GET", QStringLiteral("/dev/mailbox"), Access::Development, [this](const DevRequest &r) {
        const QString email = r.queryValue(QStringLiteral("email")).trimmed();
        const auto code = m_store.latestCode(email, r.queryValue(QStringLiteral("purpose")).trimmed());
        if (!code)
            return DevReply::error(404, QStringLiteral("no code for this address"));
        return DevReply::json({
            {QStringLiteral("email"), code->email},
            {QStringLiteral("code"), code->code},
            {QStringLiteral("purpose"), code->purpose},
            {QStringLiteral("expires_at"), code->expiresAt.toString(Qt::ISODate)},
        });
    });

    const auto setFaultHandler = [this](const DevRequest &r) {
        const QString route = r.text(QStringLiteral("route"));
        if (!route.startsWith(QLatin1Char('/')))
            return DevReply::error(400, QStringLiteral("route is required"));
        Fault fault;
        if (!faultModeFromString(r.text(QStringLiteral("mode")), &fault.mode))
            return DevReply::error(400, QStringLiteral("unknown fault mode"));
        fault.status = r.json.value(QStringLiteral("status")).toInt(503);
        fault.error = r.json.value(QStringLiteral("error")).toString();
        fault.delayMs = r.json.value(QStringLiteral("delay_ms")).toInt(0);
        fault.count = r.json.value(QStringLiteral("count")).toInt(1);
        if (fault.count < 1 || fault.delayMs < 0 || (fault.mode == FaultMode::Status && fault.status < 100))
            return DevReply::error(400, QStringLiteral("invalid fault"));
        setFault(route, fault);
        return DevReply::json(
            {{QStringLiteral("ok"), true}, {QStringLiteral("pending"), m_faults.value(route).size()}});
    };
    addRoute("POST", QStringLiteral("/dev/faults"), Access::Development, setFaultHandler);
    const auto clearFaultsHandler = [this](const DevRequest &) {
        clearFaults();
        return DevReply::json({{QStringLiteral("ok"), true}});
    };
    addRoute("DELETE", QStringLiteral("/dev/faults"), Access::Development, clearFaultsHandler);
    addRoute("POST", QStringLiteral("/dev/faults/clear"), Access::Development, clearFaultsHandler);

    addRoute("GET", QStringLiteral("/dev/stats"), Access::Development, [this](const DevRequest &r) {
        const QString route = r.queryValue(QStringLiteral("route")).trimmed();
        if (!route.isEmpty())
            return DevReply::json({{QStringLiteral("route"), route}, {QStringLiteral("count"), requestCount(route)}});
        QJsonObject counts;
        for (auto it = m_requestCounts.cbegin(); it != m_requestCounts.cend(); ++it)
            counts.insert(it.key(), it.value());
        return DevReply::json({{QStringLiteral("counts"), counts}});
    });
    addRoute("POST", QStringLiteral("/dev/stats/reset"), Access::Development, [this](const DevRequest &) {
        resetRequestCounts();
        return DevReply::json({{QStringLiteral("ok"), true}});
    });

    addRoute("POST", QStringLiteral("/dev/encryption"), Access::Development, [this](const DevRequest &r) {
        const QJsonValue enabled = r.json.value(QStringLiteral("enabled"));
        if (!enabled.isBool())
            return DevReply::error(400, QStringLiteral("enabled is required"));
        setEncryption(enabled.toBool(), r.text(QStringLiteral("token")), r.text(QStringLiteral("route")));
        return DevReply::json({{QStringLiteral("ok"), true}});
    });

    addRoute("POST", QStringLiteral("/dev/push"), Access::Development, [this](const DevRequest &r) {
        const QJsonObject event = r.json.value(QStringLiteral("event")).toObject();
        if (event.isEmpty())
            return DevReply::error(400, QStringLiteral("event is required"));
        int delivered = 0;
        if (r.json.contains(QStringLiteral("account_id")))
            delivered = pushEvent(qint64(r.json.value(QStringLiteral("account_id")).toDouble(-1)), event);
        else if (!r.text(QStringLiteral("token")).isEmpty())
            delivered = pushEvent(r.text(QStringLiteral("token")), event);
        else if (!r.text(QStringLiteral("email")).isEmpty())
            delivered = pushEvent(r.text(QStringLiteral("email")), event);
        else
            return DevReply::error(400, QStringLiteral("token, email or account_id is required"));
        return DevReply::json({{QStringLiteral("delivered"), delivered}});
    });

    addRoute("POST", QStringLiteral("/dev/clock"), Access::Development, [this](const DevRequest &r) {
        m_store.advanceClock(qint64(r.json.value(QStringLiteral("advance_seconds")).toDouble(0)));
        return DevReply::json({{QStringLiteral("now"), m_store.now().toString(Qt::ISODate)}});
    });
}

DevReply DevServer::echo(const DevRequest &request) const
{
    QJsonObject query;
    const auto items = request.query.queryItems(QUrl::FullyDecoded);
    for (const auto &item : items)
        query.insert(item.first, item.second);
    QJsonObject headers;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    return DevReply::json({
        {QStringLiteral("method"), QString::fromLatin1(request.method)},
        {QStringLiteral("path"), request.path},
        {QStringLiteral("query"), query},
        {QStringLiteral("query_string"), request.query.toString(QUrl::FullyEncoded)},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), echoedBody(request.body)},
        {QStringLiteral("authenticated"), !request.token.isEmpty()},
    });
}
