// Speed and traffic: the probe's download and upload ends, the server-side
// speed test (a plausible result recorded for the selected node), the speed
// section, and the traffic section of the experience data (the week's usage
// and traffic per application).
#include "devserver.h"

#include "client/api/backendcontract.h"

#include <QSqlQuery>

#include <cmath>

namespace {

// Large enough for any probe the client sends, small enough to never matter.
constexpr qint64 kMaxProbeBytes = 4 * 1024 * 1024;
constexpr int kSpeedRecordsShown = 10;

} // namespace

void DevServer::addSpeedRoutes()
{
    using namespace Backend::Path;
    addRoute("GET", QLatin1String(kSpeedProbeDownload), Access::Token,
        [](const DevRequest &r) { return probeDownload(r); });
    addRoute("POST", QLatin1String(kSpeedProbeUpload), Access::Token, [](const DevRequest &r) {
        DevReply reply = DevReply::json({{QStringLiteral("ok"), true},
            {QStringLiteral("received"), double(r.body.size())}});
        reply.encryptable = false;
        return reply;
    }, Body::Any);
    addRoute("POST", QLatin1String(kSpeedTest), Access::Token, [this](const DevRequest &r) { return runSpeedTest(r); });
    addRoute("GET", QLatin1String(kSpeed), Access::Token, [this](const DevRequest &r) {
        return DevReply::json(speedSectionJson(r.accountId));
    });
}

DevReply DevServer::probeDownload(const DevRequest &request)
{
    bool ok = false;
    const qint64 size = request.queryValue(QStringLiteral("size")).toLongLong(&ok);
    if (!ok || size < 1)
        return DevReply::error(400, QStringLiteral("size must be a positive byte count"));
    QByteArray body(int(qMin(size, kMaxProbeBytes)), Qt::Uninitialized);
    for (int i = 0; i < body.size(); ++i)
        body[i] = char((i * 131 + 7) & 0xff);
    DevReply reply = DevReply::raw(body, "application/octet-stream");
    reply.encryptable = false;
    return reply;
}

bool DevServer::ensureSpeedSchema()
{
    QSqlQuery query(m_store.database());
    return query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS speed_tests ("
                                     " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                     " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                                     " node TEXT NOT NULL DEFAULT '',"
                                     " download REAL NOT NULL,"
                                     " upload REAL NOT NULL,"
                                     " latency INTEGER NOT NULL,"
                                     " created_at TEXT NOT NULL)"));
}

DevReply DevServer::runSpeedTest(const DevRequest &request)
{
    const auto account = m_store.accountById(request.accountId);
    if (!account)
        return DevReply::error(401, QStringLiteral("session user missing"));
    QString nodeId = request.text(QStringLiteral("node_id"));
    std::optional<DevServerStore::Node> node = nodeId.isEmpty() ? effectiveNode(*account) : m_store.nodeById(nodeId);
    if (!node)
        return DevReply::error(404, QStringLiteral("node not found"));
    if (!ensureSpeedSchema())
        return DevReply::error(500, QStringLiteral("cannot prepare speed storage"));

    // Plausible figures that differ from run to run and from node to node.
    const QDateTime now = m_store.now();
    const int seed = int(qHash(node->id) % 97) + int(now.toSecsSinceEpoch() % 41);
    const double download = std::round((86.0 + seed * 1.7) * 10.0) / 10.0;
    const double upload = std::round(download * 0.34 * 10.0) / 10.0;
    const int latency = 28 + seed % 60;

    QSqlQuery insert(m_store.database());
    insert.prepare(QStringLiteral("INSERT INTO speed_tests (account_id, node, download, upload, latency, created_at)"
                                  " VALUES (?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(account->id);
    insert.addBindValue(node->name.isEmpty() ? node->id : node->name);
    insert.addBindValue(download);
    insert.addBindValue(upload);
    insert.addBindValue(latency);
    insert.addBindValue(now.toUTC().toString(Qt::ISODate));
    if (!insert.exec())
        return DevReply::error(500, QStringLiteral("cannot store the speed test"));
    return DevReply::json({
        {QStringLiteral("download"), download},
        {QStringLiteral("upload"), upload},
        {QStringLiteral("latency"), latency},
        {QStringLiteral("node"), node->name.isEmpty() ? node->id : node->name},
        {QStringLiteral("timestamp"), now.toUTC().toString(Qt::ISODate)},
    });
}

QJsonObject DevServer::speedSectionJson(qint64 accountId)
{
    QJsonArray records;
    double download = 0;
    double upload = 0;
    double latency = 0;
    int count = 0;
    if (ensureSpeedSchema()) {
        QSqlQuery query(m_store.database());
        query.prepare(QStringLiteral("SELECT node, download, upload, latency, created_at FROM speed_tests"
                                     " WHERE account_id = ? ORDER BY id DESC"));
        query.addBindValue(accountId);
        if (query.exec()) {
            while (query.next()) {
                ++count;
                download += query.value(1).toDouble();
                upload += query.value(2).toDouble();
                latency += query.value(3).toDouble();
                if (records.size() < kSpeedRecordsShown)
                    records.append(QJsonObject{
                        {QStringLiteral("node"), query.value(0).toString()},
                        {QStringLiteral("download"), query.value(1).toDouble()},
                        {QStringLiteral("upload"), query.value(2).toDouble()},
                        {QStringLiteral("latency"), query.value(3).toInt()},
                        {QStringLiteral("timestamp"), query.value(4).toString()},
                    });
            }
        }
    }
    const auto average = [count](double sum) { return count > 0 ? std::round(sum / count * 10.0) / 10.0 : 0.0; };
    return QJsonObject{
        {QStringLiteral("records"), records},
        {QStringLiteral("average_download"), average(download)},
        {QStringLiteral("average_upload"), average(upload)},
        {QStringLiteral("average_latency"), average(latency)},
        {QStringLiteral("count"), count},
    };
}

QJsonObject DevServer::trafficSectionJson(qint64 accountId) const
{
    // Monday first, as the chart's labels run.
    const QDate today = m_store.now().toLocalTime().date();
    const QDate monday = today.addDays(1 - today.dayOfWeek());
    QJsonArray weekly;
    qint64 weekTotal = 0;
    for (int day = 0; day < 7; ++day) {
        const QDate date = monday.addDays(day);
        qint64 bytes = 0;
        if (date <= today) {
            for (qint64 hour : m_store.hourlyUsage(accountId, date.toString(Qt::ISODate)))
                bytes += hour;
        }
        weekTotal += bytes;
        weekly.append(QJsonObject{{QStringLiteral("day"), date.toString(Qt::ISODate)},
            {QStringLiteral("bytes"), double(bytes)}});
    }
    // The week's bytes shared out over a few well-known kinds of application.
    struct Share
    {
        const char *name;
        int percent;
    };
    const Share shares[] = {{"Chrome", 38}, {"YouTube", 27}, {"Telegram", 14}, {"Steam", 12}, {"Spotify", 9}};
    QJsonArray apps;
    for (const Share &share : shares)
        apps.append(QJsonObject{{QStringLiteral("name"), QLatin1String(share.name)},
            {QStringLiteral("bytes"), double(weekTotal * share.percent / 100)},
            {QStringLiteral("percent"), share.percent}});
    return QJsonObject{
        {QStringLiteral("weekly"), weekly},
        {QStringLiteral("week_total_bytes"), double(weekTotal)},
        {QStringLiteral("download_bytes"), double(weekTotal * 72 / 100)},
        {QStringLiteral("upload_bytes"), double(weekTotal - weekTotal * 72 / 100)},
        {QStringLiteral("apps"), apps},
    };
}
