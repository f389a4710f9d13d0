// The inbox, the support chat with its automatic agent, support media and
// diagnostic-log uploads.
#include "devserver.h"

#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace {

constexpr qsizetype kMediaLimitBytes = 4 * 1024 * 1024;
constexpr qsizetype kDiagnosticLogLimitBytes = 1024 * 1024;
constexpr qsizetype kChatTextLimit = 4000;
constexpr int kAgentReplyDelayMs = 600;

struct DemoNotice
{
    const char *category;
    const char *title;
    const char *body;
    const char *link;
    int hoursAgo;
    bool read;
};

// Oldest first; listed newest first.
const DemoNotice kDemoNotices[] = {
    {"系统通知", "节点维护通知", "东京 2 号节点将于本周六 02:00-04:00 维护，期间会自动切换到同地区的其他节点。", "", 72, true},
    {"活动优惠", "邀请好友得时长", "每邀请一位好友注册并完成首单，双方各得 7 天会员时长。", "https://quillet.invalid/invite", 30, false},
    {"账户消息", "会员到期提醒", "会员到期前 3 天会提醒续费，续费后时长自动顺延。", "", 8, false},
    {"系统通知", "欢迎使用岚舟", "账号已就绪。遇到连接问题时，可以在「设置 → 关于」上传诊断日志。", "", 1, false},
};

const char kAgentGreeting[] = "你好，这里是岚舟在线客服。请描述你遇到的问题，我们会尽快回复。";

QJsonObject supportContactJson()
{
    return QJsonObject {
        {QStringLiteral("email"), QStringLiteral("support@quillet.dev")},
        {QStringLiteral("telegram"), QStringLiteral("@quillet_support")},
        {QStringLiteral("website"), QStringLiteral("https://quillet.invalid/help")},
    };
}

QString mediaKind(const QString &contentType)
{
    if (contentType.startsWith(QLatin1String("image/")))
        return QStringLiteral("image");
    if (contentType.startsWith(QLatin1String("video/")))
        return QStringLiteral("video");
    return QStringLiteral("file");
}

struct FormFile
{
    QString name;
    QString contentType;
    QByteArray data;
    bool found = false;
};

QByteArray headerParameter(const QByteArray &header, const QByteArray &name)
{
    const QByteArray key = name + "=\"";
    const qsizetype at = header.indexOf(key);
    if (at < 0)
        return QByteArray();
    const qsizetype start = at + key.size();
    const qsizetype end = header.indexOf('"', start);
    return end < 0 ? QByteArray() : header.mid(start, end - start);
}

// The part named "file" of a multipart/form-data body.
FormFile formFile(const QByteArray &contentType, const QByteArray &body)
{
    FormFile file;
    const qsizetype boundaryAt = contentType.indexOf("boundary=");
    if (boundaryAt < 0)
        return file;
    QByteArray boundary = contentType.mid(boundaryAt + 9).trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;
    qsizetype at = body.indexOf(delimiter);
    while (at >= 0) {
        const qsizetype partStart = at + delimiter.size();
        if (body.mid(partStart, 2) == "--")
            break;
        const qsizetype next = body.indexOf("\r\n" + delimiter, partStart);
        if (next < 0)
            break;
        const QByteArray part = body.mid(partStart, next - partStart);
        const qsizetype headEnd = part.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const QByteArray head = part.left(headEnd);
            if (headerParameter(head, "name") == "file") {
                file.found = true;
                file.name = QString::fromUtf8(headerParameter(head, "filename"));
                const qsizetype typeAt = head.toLower().indexOf("content-type:");
                if (typeAt >= 0) {
                    const qsizetype lineEnd = head.indexOf("\r\n", typeAt);
                    file.contentType =
                        QString::fromLatin1(head.mid(typeAt + 13, lineEnd < 0 ? -1 : lineEnd - typeAt - 13).trimmed());
                }
                file.data = part.mid(headEnd + 4);
                return file;
            }
        }
        at = next + 2;
    }
    return file;
}

} // namespace

void DevServer::addSupportRoutes()
{
    using namespace Backend::Path;
    addRoute("GET", QLatin1String(kMessages), Access::Token, [this](const DevRequest &r) { return listMessages(r); });
    addRoute("POST", QLatin1String(kMessagesRead), Access::Token,
        [this](const DevRequest &r) { return markMessagesRead(r); });
    addRoute("GET", QLatin1String(kSupportChat), Access::Token, [this](const DevRequest &r) {
        if (!ensureSupportSchema())
            return DevReply::error(500, QStringLiteral("cannot prepare support storage"));
        return DevReply::json({{QStringLiteral("conversation"), supportConversationJson(r.accountId)},
            {QStringLiteral("contact"), supportContactJson()}});
    });
    addRoute("POST", QLatin1String(kSupportChat), Access::Token,
        [this](const DevRequest &r) { return postSupportChat(r); });
    addRoute("POST", QLatin1String(kSupportMedia), Access::Token,
        [this](const DevRequest &r) { return uploadSupportMedia(r); }, Body::Any);
    addRoute("POST", QLatin1String(kDiagnosticLogs), Access::Token,
        [this](const DevRequest &r) { return storeDiagnosticLog(r); });
}

bool DevServer::ensureSupportSchema()
{
    const QStringList statements {
        QStringLiteral("CREATE TABLE IF NOT EXISTS messages ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " category TEXT NOT NULL DEFAULT '',"
                       " title TEXT NOT NULL DEFAULT '',"
                       " body TEXT NOT NULL DEFAULT '',"
                       " link TEXT NOT NULL DEFAULT '',"
                       " created_at TEXT NOT NULL,"
                       " read INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS support_messages ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " sender TEXT NOT NULL,"
                       " text TEXT NOT NULL DEFAULT '',"
                       " attachments TEXT NOT NULL DEFAULT '[]',"
                       " created_at TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS support_media ("
                       " id TEXT PRIMARY KEY,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " name TEXT NOT NULL DEFAULT '',"
                       " content_type TEXT NOT NULL DEFAULT '',"
                       " size INTEGER NOT NULL DEFAULT 0,"
                       " data BLOB,"
                       " created_at TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS diagnostic_logs ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " device_id TEXT NOT NULL DEFAULT '',"
                       " device_model TEXT NOT NULL DEFAULT '',"
                       " platform TEXT NOT NULL DEFAULT '',"
                       " app_version TEXT NOT NULL DEFAULT '',"
                       " network_env TEXT NOT NULL DEFAULT '',"
                       " file_name TEXT NOT NULL DEFAULT '',"
                       " log TEXT NOT NULL,"
                       " created_at TEXT NOT NULL)"),
    };
    for (const QString &statement : statements) {
        QSqlQuery query(m_store.database());
        if (!query.exec(statement))
            return false;
    }
    return true;
}

// --- inbox ----------------------------------------------------------------------

QJsonArray DevServer::messageItemsJson(qint64 accountId)
{
    QJsonArray items;
    if (!ensureSupportSchema())
        return items;
    QSqlQuery count(m_store.database());
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM messages WHERE account_id = ?"));
    count.addBindValue(accountId);
    if (count.exec() && count.next() && count.value(0).toInt() == 0) {
        const QDateTime now = m_store.now();
        for (const DemoNotice &notice : kDemoNotices) {
            QSqlQuery insert(m_store.database());
            insert.prepare(QStringLiteral("INSERT INTO messages (account_id, category, title, body, link, created_at, "
                                          "read) VALUES (?, ?, ?, ?, ?, ?, ?)"));
            insert.addBindValue(accountId);
            insert.addBindValue(QString::fromUtf8(notice.category));
            insert.addBindValue(QString::fromUtf8(notice.title));
            insert.addBindValue(QString::fromUtf8(notice.body));
            insert.addBindValue(QString::fromUtf8(notice.link));
            insert.addBindValue(now.addSecs(-3600 * notice.hoursAgo).toString(Qt::ISODate));
            insert.addBindValue(notice.read ? 1 : 0);
            insert.exec();
        }
    }
    QSqlQuery query(m_store.database());
    query.prepare(QStringLiteral("SELECT id, category, title, body, link, created_at, read FROM messages "
                                 "WHERE account_id = ? ORDER BY id DESC"));
    query.addBindValue(accountId);
    if (!query.exec())
        return items;
    while (query.next()) {
        QJsonObject item {
            {QStringLiteral("id"), QStringLiteral("msg-%1").arg(query.value(0).toLongLong())},
            {QStringLiteral("category"), localized(query.value(1).toString())},
            {QStringLiteral("title"), localized(query.value(2).toString())},
            {QStringLiteral("body"), localized(query.value(3).toString())},
            {QStringLiteral("created_at"), query.value(5).toString()},
            {QStringLiteral("read"), query.value(6).toInt() != 0},
        };
        if (!query.value(4).toString().isEmpty())
            item.insert(QStringLiteral("link"), query.value(4).toString());
        items.append(item);
    }
    return items;
}

QJsonObject DevServer::messagesSectionJson(qint64 accountId)
{
    const QJsonArray items = messageItemsJson(accountId);
    QJsonArray categories;
    for (const QJsonValue &item : items) {
        const QJsonValue category = item.toObject().value(QStringLiteral("category"));
        if (!categories.contains(category))
            categories.append(category);
    }
    return QJsonObject {{QStringLiteral("items"), items}, {QStringLiteral("categories"), categories}};
}

DevReply DevServer::listMessages(const DevRequest &request)
{
    // The list goes out as "notices" without categories: the client reads
    // that shape too and gathers the categories itself.
    const QJsonArray items = messageItemsJson(request.accountId);
    int unread = 0;
    for (const QJsonValue &item : items)
        unread += item.toObject().value(QStringLiteral("read")).toBool() ? 0 : 1;
    return DevReply::json({{QStringLiteral("notices"), items}, {QStringLiteral("unread_count"), unread}});
}

DevReply DevServer::markMessagesRead(const DevRequest &request)
{
    const QJsonValue ids = request.json.value(QStringLiteral("ids"));
    if (!ids.isArray())
        return DevReply::error(400, QStringLiteral("ids are required"));
    if (!ensureSupportSchema())
        return DevReply::error(500, QStringLiteral("cannot prepare support storage"));
    int updated = 0;
    for (const QJsonValue &id : ids.toArray()) {
        QString text = id.toVariant().toString().trimmed();
        if (text.startsWith(QLatin1String("msg-")))
            text = text.mid(4);
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (!ok)
            continue;
        QSqlQuery query(m_store.database());
        query.prepare(QStringLiteral("UPDATE messages SET read = 1 WHERE id = ? AND account_id = ? AND read = 0"));
        query.addBindValue(number);
        query.addBindValue(request.accountId);
        if (query.exec())
            updated += query.numRowsAffected();
    }
    return DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("updated"), updated}});
}

// --- support chat -------------------------------------------------------------------

bool DevServer::addSupportMessage(qint64 accountId, const QString &sender, const QString &text,
    const QJsonArray &attachments)
{
    QSqlQuery insert(m_store.database());
    insert.prepare(QStringLiteral(
        "INSERT INTO support_messages (account_id, sender, text, attachments, created_at) VALUES (?, ?, ?, ?, ?)"));
    insert.addBindValue(accountId);
    insert.addBindValue(sender);
    insert.addBindValue(text);
    insert.addBindValue(QString::fromUtf8(QJsonDocument(attachments).toJson(QJsonDocument::Compact)));
    insert.addBindValue(m_store.now().toString(Qt::ISODate));
    return insert.exec();
}

QJsonObject DevServer::supportConversationJson(qint64 accountId)
{
    QJsonArray messages;
    auto read = [&] {
        messages = QJsonArray();
        QSqlQuery query(m_store.database());
        query.prepare(QStringLiteral("SELECT id, sender, text, attachments, created_at FROM support_messages "
                                     "WHERE account_id = ? ORDER BY id"));
        query.addBindValue(accountId);
        if (!query.exec())
            return;
        while (query.next()) {
            // The agent's stored greeting is demo content; what users wrote is never touched.
            const QString sender = query.value(1).toString();
            const QString text = query.value(2).toString();
            messages.append(QJsonObject {
                {QStringLiteral("id"), QStringLiteral("chat-%1").arg(query.value(0).toLongLong())},
                {QStringLiteral("sender"), sender},
                {QStringLiteral("text"), sender == QLatin1String("agent") ? localized(text) : text},
                {QStringLiteral("attachments"),
                    QJsonDocument::fromJson(query.value(3).toString().toUtf8()).array()},
                {QStringLiteral("created_at"), query.value(4).toString()},
            });
        }
    };
    read();
    if (messages.isEmpty() && addSupportMessage(accountId, QStringLiteral("agent"), QString::fromUtf8(kAgentGreeting), {}))
        read();
    return QJsonObject {
        {QStringLiteral("id"), QStringLiteral("conv-%1").arg(accountId)},
        {QStringLiteral("status"), QStringLiteral("open")},
        {QStringLiteral("messages"), messages},
    };
}

DevReply DevServer::postSupportChat(const DevRequest &request)
{
    const QString text = request.text(QStringLiteral("text"));
    const QJsonValue attachmentsValue = request.json.value(QStringLiteral("attachments"));
    const QJsonArray attachments = attachmentsValue.isArray() ? attachmentsValue.toArray() : QJsonArray();
    if (text.isEmpty() && attachments.isEmpty())
        return DevReply::error(400, QStringLiteral("subject and message are required"));
    if (text.size() > kChatTextLimit)
        return DevReply::error(400, QStringLiteral("message too long"));
    if (!ensureSupportSchema() || !addSupportMessage(request.accountId, QStringLiteral("user"), text, attachments))
        return DevReply::error(500, QStringLiteral("cannot store message"));

    // The agent answers a moment later and announces it on the event stream.
    const qint64 accountId = request.accountId;
    // Stored in the service's own language, read in the reader's.
    const QString quoted = text.isEmpty() ? QStringLiteral("附件") : text.left(40);
    const QString reply = QStringLiteral("已收到：「%1」。客服正在处理，一般会在 5 分钟内回复你。").arg(quoted);
    QTimer::singleShot(kAgentReplyDelayMs, this, [this, accountId, reply] {
        if (!m_store.isOpen() || !m_store.accountById(accountId))
            return;
        if (addSupportMessage(accountId, QStringLiteral("agent"), reply, {}))
            pushEvent(accountId, QJsonObject {{QStringLiteral("type"), QStringLiteral("support_updated")}});
    });
    return DevReply::json({{QStringLiteral("ok"), true},
        {QStringLiteral("conversation"), supportConversationJson(request.accountId)},
        {QStringLiteral("contact"), supportContactJson()}});
}

DevReply DevServer::uploadSupportMedia(const DevRequest &request)
{
    // Refused before the body is even looked at, as a real front server would.
    if (request.body.size() > kMediaLimitBytes + 64 * 1024)
        return DevReply::error(413, QStringLiteral("file too large"));
    const FormFile file = formFile(request.header("content-type"), request.body);
    if (!file.found)
        return DevReply::error(400, QStringLiteral("file is required"));
    if (file.data.isEmpty())
        return DevReply::error(400, QStringLiteral("file is empty"));
    if (file.data.size() > kMediaLimitBytes)
        return DevReply::error(413, QStringLiteral("file too large"));
    if (!ensureSupportSchema())
        return DevReply::error(500, QStringLiteral("cannot prepare support storage"));

    const QString id = QStringLiteral("media-") + DevCrypto::randomHex(6);
    const QString contentType = file.contentType.isEmpty() ? QStringLiteral("application/octet-stream") : file.contentType;
    QSqlQuery insert(m_store.database());
    insert.prepare(QStringLiteral("INSERT INTO support_media (id, account_id, name, content_type, size, data, "
                                  "created_at) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(id);
    insert.addBindValue(request.accountId);
    insert.addBindValue(file.name);
    insert.addBindValue(contentType);
    insert.addBindValue(qint64(file.data.size()));
    insert.addBindValue(file.data);
    insert.addBindValue(m_store.now().toString(Qt::ISODate));
    if (!insert.exec())
        return DevReply::error(500, QStringLiteral("cannot store file"));
    return DevReply::json({{QStringLiteral("attachment"),
        QJsonObject {
            {QStringLiteral("id"), id},
            {QStringLiteral("name"), file.name},
            {QStringLiteral("size"), qint64(file.data.size())},
            {QStringLiteral("content_type"), contentType},
            {QStringLiteral("kind"), mediaKind(contentType)},
            {QStringLiteral("url"), QStringLiteral("%1%2/%3").arg(baseUrl(), QLatin1String(Backend::Path::kSupportMedia), id)},
        }}});
}

// --- diagnostic logs ----------------------------------------------------------------

DevReply DevServer::storeDiagnosticLog(const DevRequest &request)
{
    const QString log = request.json.value(QStringLiteral("log")).toString();
    if (log.trimmed().isEmpty())
        return DevReply::error(400, QStringLiteral("log is required"));
    if (log.toUtf8().size() > kDiagnosticLogLimitBytes)
        return DevReply::error(413, QStringLiteral("log too large"));
    if (!ensureSupportSchema())
        return DevReply::error(500, QStringLiteral("cannot prepare support storage"));
    QSqlQuery insert(m_store.database());
    insert.prepare(QStringLiteral("INSERT INTO diagnostic_logs (account_id, device_id, device_model, platform, "
                                  "app_version, network_env, file_name, log, created_at) "
                                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(request.accountId);
    // The optional fields may be missing or null: they are stored as defaults.
    for (const char *key : {"device_id", "device_model", "platform", "app_version", "network_env", "file_name"}) {
        const QString value = request.text(QLatin1String(key));
        if (!value.isEmpty())
            insert.addBindValue(value);
        else if (qstrcmp(key, "file_name") == 0)
            insert.addBindValue(QStringLiteral("diagnostic.log"));
        else
            insert.addBindValue(QStringLiteral(""));
    }
    insert.addBindValue(log);
    insert.addBindValue(m_store.now().toString(Qt::ISODate));
    if (!insert.exec())
        return DevReply::error(500, QStringLiteral("cannot store log"));
    return DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("id"), insert.lastInsertId().toLongLong()}});
}
