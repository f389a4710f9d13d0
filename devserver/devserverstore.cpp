#include "devserverstore.h"

#include "devservercrypto.h"

#include <QAtomicInteger>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

QAtomicInteger<quint64> s_connectionCounter;

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFromText(const QString &text)
{
    if (text.isEmpty())
        return {};
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

// SQLite stores a null QString as NULL; the text columns are NOT NULL.
QString nonNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString normalizedEmail(const QString &email)
{
    return nonNull(email.trimmed().toLower());
}

QString placeholders(int count)
{
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

DevServerStore::Account accountFromQuery(const QSqlQuery &query)
{
    DevServerStore::Account account;
    account.id = query.value(0).toLongLong();
    account.email = query.value(1).toString();
    account.name = query.value(2).toString();
    account.createdAt = timeFromText(query.value(3).toString());
    account.planId = query.value(4).toString();
    account.planName = query.value(5).toString();
    account.expiresAt = timeFromText(query.value(6).toString());
    account.selectedNodeId = query.value(7).toString();
    account.inviteCode = query.value(8).toString();
    account.referredBy = query.value(9).isNull() ? -1 : query.value(9).toLongLong();
    account.disabled = query.value(10).toInt() != 0;
    account.trialClaimDate = query.value(11).toString();
    return account;
}

const char kAccountColumns[] = "id, email, name, created_at, plan_id, plan_name, expires_at, selected_node_id, "
                               "invite_code, referred_by, disabled, trial_claim_date";

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject objectFromText(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

DevServerStore::Node nodeFromQuery(const QSqlQuery &query)
{
    DevServerStore::Node node;
    node.id = query.value(0).toString();
    node.name = query.value(1).toString();
    node.region = query.value(2).toString();
    node.country = query.value(3).toString();
    node.countryCode = query.value(4).toString();
    node.flag = query.value(5).toString();
    node.status = query.value(6).toString();
    node.disabled = query.value(7).toInt() != 0;
    const QJsonArray tags = QJsonDocument::fromJson(query.value(8).toString().toUtf8()).array();
    for (const QJsonValue &tag : tags)
        node.tags << tag.toString();
    node.featured = query.value(9).toInt() != 0;
    node.outbound = objectFromText(query.value(10).toString());
    node.host = query.value(11).toString();
    return node;
}

const char kNodeColumns[] = "id, name, region, country, country_code, flag, status, disabled, tags, featured, "
                            "outbound, host";

void bindNode(QSqlQuery &query, const DevServerStore::Node &node)
{
    query.addBindValue(nonNull(node.name));
    query.addBindValue(nonNull(node.region));
    query.addBindValue(nonNull(node.country));
    query.addBindValue(nonNull(node.countryCode));
    query.addBindValue(nonNull(node.flag));
    query.addBindValue(nonNull(node.status));
    query.addBindValue(node.disabled ? 1 : 0);
    query.addBindValue(
        QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(node.tags)).toJson(QJsonDocument::Compact)));
    query.addBindValue(node.featured ? 1 : 0);
    query.addBindValue(jsonText(node.outbound));
    query.addBindValue(nonNull(node.host));
}

DevServerStore::Order orderFromQuery(const QSqlQuery &query)
{
    DevServerStore::Order order;
    order.id = query.value(0).toString();
    order.accountId = query.value(1).toLongLong();
    order.planId = query.value(2).toString();
    order.planName = query.value(3).toString();
    order.amountCents = query.value(4).toLongLong();
    order.status = query.value(5).toString();
    order.createdAt = timeFromText(query.value(6).toString());
    order.paidAt = timeFromText(query.value(7).toString());
    order.checkoutKey = query.value(8).toString();
    return order;
}

const char kOrderColumns[] =
    "id, account_id, plan_id, plan_name, amount_cents, status, created_at, paid_at, checkout_key";

DevServerStore::Session sessionFromQuery(const QSqlQuery &query)
{
    DevServerStore::Session session;
    session.token = query.value(0).toString();
    session.accountId = query.value(1).toLongLong();
    session.deviceId = query.value(2).toString();
    session.deviceName = query.value(3).toString();
    session.platform = query.value(4).toString();
    session.location = query.value(5).toString();
    session.createdAt = timeFromText(query.value(6).toString());
    session.lastSeen = timeFromText(query.value(7).toString());
    return session;
}

const char kSessionColumns[] = "token, account_id, device_id, device_name, platform, location, created_at, last_seen";

} // namespace

DevServerStore::DevServerStore()
    : m_connectionName(QStringLiteral("quillet-devserver-%1").arg(++s_connectionCounter))
{ }

DevServerStore::~DevServerStore()
{
    close();
}

bool DevServerStore::open(const QString &dataDir, QString *error)
{
    close();
    QString fileName = QStringLiteral(":memory:");
    if (!dataDir.isEmpty()) {
        QDir dir(dataDir);
        if (!dir.mkpath(QStringLiteral("."))) {
            m_lastError = QStringLiteral("cannot create data directory %1").arg(dir.absolutePath());
            if (error)
                *error = m_lastError;
            return false;
        }
        fileName = dir.absoluteFilePath(QStringLiteral("devserver.sqlite"));
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(fileName);
    if (!m_db.open()) {
        m_lastError = QStringLiteral("cannot open database %1: %2").arg(fileName, m_db.lastError().text());
        if (error)
            *error = m_lastError;
        close();
        return false;
    }
    if (!createSchema()) {
        if (error)
            *error = m_lastError;
        close();
        return false;
    }
    return true;
}

void DevServerStore::close()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool DevServerStore::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

QDateTime DevServerStore::now() const
{
    return QDateTime::currentDateTimeUtc().addSecs(m_clockOffsetSeconds);
}

bool DevServerStore::exec(const QString &statement)
{
    QSqlQuery query(m_db);
    if (query.exec(statement))
        return true;
    m_lastError = query.lastError().text();
    return false;
}

bool DevServerStore::createSchema()
{
    const QStringList statements {
        QStringLiteral("PRAGMA foreign_keys = ON"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS accounts ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " email TEXT NOT NULL UNIQUE COLLATE NOCASE,"
                       " password_salt TEXT NOT NULL,"
                       " password_hash TEXT NOT NULL,"
                       " name TEXT NOT NULL DEFAULT '',"
                       " created_at TEXT NOT NULL,"
                       " plan_id TEXT NOT NULL DEFAULT '',"
                       " plan_name TEXT NOT NULL DEFAULT '',"
                       " expires_at TEXT NOT NULL DEFAULT '',"
                       " selected_node_id TEXT NOT NULL DEFAULT '',"
                       " invite_code TEXT NOT NULL DEFAULT '',"
                       " referred_by INTEGER,"
                       " disabled INTEGER NOT NULL DEFAULT 0,"
                       " trial_claim_date TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sessions ("
                       " token TEXT PRIMARY KEY,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " device_id TEXT NOT NULL DEFAULT '',"
                       " device_name TEXT NOT NULL DEFAULT '',"
                       " platform TEXT NOT NULL DEFAULT '',"
                       " location TEXT NOT NULL DEFAULT '',"
                       " created_at TEXT NOT NULL,"
                       " last_seen TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS sessions_account ON sessions(account_id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS verification_codes ("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " email TEXT NOT NULL COLLATE NOCASE,"
                       " purpose TEXT NOT NULL,"
                       " code TEXT NOT NULL,"
                       " expires_at TEXT NOT NULL,"
                       " created_at TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS verification_codes_email ON verification_codes(email, purpose)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS preferences ("
                       " account_id INTEGER PRIMARY KEY REFERENCES accounts(id) ON DELETE CASCADE,"
                       " document TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS nodes ("
                       " position INTEGER NOT NULL,"
                       " id TEXT PRIMARY KEY,"
                       " name TEXT NOT NULL DEFAULT '',"
                       " region TEXT NOT NULL DEFAULT '',"
                       " country TEXT NOT NULL DEFAULT '',"
                       " country_code TEXT NOT NULL DEFAULT '',"
                       " flag TEXT NOT NULL DEFAULT '',"
                       " status TEXT NOT NULL DEFAULT '',"
                       " disabled INTEGER NOT NULL DEFAULT 0,"
                       " tags TEXT NOT NULL DEFAULT '[]',"
                       " featured INTEGER NOT NULL DEFAULT 0,"
                       " outbound TEXT NOT NULL DEFAULT '{}',"
                       " host TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS orders ("
                       " id TEXT PRIMARY KEY,"
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " plan_id TEXT NOT NULL DEFAULT '',"
                       " plan_name TEXT NOT NULL DEFAULT '',"
                       " amount_cents INTEGER NOT NULL DEFAULT 0,"
                       " status TEXT NOT NULL DEFAULT '',"
                       " created_at TEXT NOT NULL,"
                       " paid_at TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS orders_account ON orders(account_id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS usage ("
                       " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
                       " day TEXT NOT NULL,"
                       " hour INTEGER NOT NULL,"
                       " bytes INTEGER NOT NULL DEFAULT 0,"
                       " PRIMARY KEY (account_id, day, hour))"),
    };
    for (const QString &statement : statements) {
        if (!exec(statement)) {
            m_lastError = QStringLiteral("cannot create schema: %1").arg(m_lastError);
            return false;
        }
    }
    // A data directory from an older build lacks the newer columns.
    if (!ensureColumn(QStringLiteral("accounts"), QStringLiteral("trial_claim_date"),
            QStringLiteral("TEXT NOT NULL DEFAULT ''"))
        || !ensureColumn(QStringLiteral("orders"), QStringLiteral("checkout_key"),
            QStringLiteral("TEXT NOT NULL DEFAULT ''"))) {
        m_lastError = QStringLiteral("cannot update schema: %1").arg(m_lastError);
        return false;
    }
    return true;
}

bool DevServerStore::ensureColumn(const QString &table, const QString &column, const QString &definition)
{
    QSqlQuery info(m_db);
    if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        m_lastError = info.lastError().text();
        return false;
    }
    while (info.next()) {
        if (info.value(1).toString() == column)
            return true;
    }
    return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, column, definition));
}

std::optional<DevServerStore::Account> DevServerStore::accountById(qint64 id) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM accounts WHERE id = ?").arg(QLatin1String(kAccountColumns)));
    query.addBindValue(id);
    if (query.exec() && query.next())
        return accountFromQuery(query);
    return std::nullopt;
}

std::optional<DevServerStore::Account> DevServerStore::accountByEmail(const QString &email) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM accounts WHERE email = ?").arg(QLatin1String(kAccountColumns)));
    query.addBindValue(normalizedEmail(email));
    if (query.exec() && query.next())
        return accountFromQuery(query);
    return std::nullopt;
}

std::optional<DevServerStore::Account> DevServerStore::accountByInviteCode(const QString &code) const
{
    const QString trimmed = code.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM accounts WHERE invite_code = ? COLLATE NOCASE")
                      .arg(QLatin1String(kAccountColumns)));
    query.addBindValue(trimmed);
    if (query.exec() && query.next())
        return accountFromQuery(query);
    return std::nullopt;
}

qint64 DevServerStore::createAccount(
    const QString &email, const QString &password, const QString &name, qint64 referredBy)
{
    const QString salt = DevCrypto::randomHex(16);
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO accounts (email, password_salt, password_hash, name, created_at,"
                                 " invite_code, referred_by) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(normalizedEmail(email));
    query.addBindValue(salt);
    query.addBindValue(DevCrypto::passwordHash(salt, password));
    query.addBindValue(nonNull(name));
    query.addBindValue(timeText(now()));
    query.addBindValue(DevCrypto::randomHex(4).toUpper());
    query.addBindValue(referredBy > 0 ? QVariant(referredBy) : QVariant());
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return -1;
    }
    return query.lastInsertId().toLongLong();
}

bool DevServerStore::checkPassword(qint64 accountId, const QString &password) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT password_salt, password_hash FROM accounts WHERE id = ?"));
    query.addBindValue(accountId);
    if (!query.exec() || !query.next())
        return false;
    return DevCrypto::passwordHash(query.value(0).toString(), password) == query.value(1).toString();
}

bool DevServerStore::setPassword(qint64 accountId, const QString &password)
{
    const QString salt = DevCrypto::randomHex(16);
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET password_salt = ?, password_hash = ? WHERE id = ?"));
    query.addBindValue(salt);
    query.addBindValue(DevCrypto::passwordHash(salt, password));
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

bool DevServerStore::setMembership(
    qint64 accountId, const QString &planId, const QString &planName, const QDateTime &expiresAt)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET plan_id = ?, plan_name = ?, expires_at = ? WHERE id = ?"));
    query.addBindValue(nonNull(planId));
    query.addBindValue(nonNull(planName));
    query.addBindValue(nonNull(timeText(expiresAt)));
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

bool DevServerStore::setDisabled(qint64 accountId, bool disabled)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET disabled = ? WHERE id = ?"));
    query.addBindValue(disabled ? 1 : 0);
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

bool DevServerStore::setSelectedNode(qint64 accountId, const QString &nodeId)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET selected_node_id = ? WHERE id = ?"));
    query.addBindValue(nonNull(nodeId));
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

bool DevServerStore::setInviteCode(qint64 accountId, const QString &code)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET invite_code = ? WHERE id = ?"));
    query.addBindValue(nonNull(code.trimmed()));
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

bool DevServerStore::setTrialClaimDate(qint64 accountId, const QString &date)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE accounts SET trial_claim_date = ? WHERE id = ?"));
    query.addBindValue(nonNull(date));
    query.addBindValue(accountId);
    return query.exec() && query.numRowsAffected() == 1;
}

int DevServerStore::referralCount(qint64 accountId) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE referred_by = ?"));
    query.addBindValue(accountId);
    return query.exec() && query.next() ? query.value(0).toInt() : 0;
}

bool DevServerStore::deleteAccount(qint64 accountId)
{
    // Spelled out rather than left to ON DELETE CASCADE: that needs foreign
    // keys switched on, which a database file opened by another tool may not have.
    const QStringList statements {
        QStringLiteral("DELETE FROM sessions WHERE account_id = ?"),
        QStringLiteral("DELETE FROM preferences WHERE account_id = ?"),
        QStringLiteral("DELETE FROM orders WHERE account_id = ?"),
        QStringLiteral("DELETE FROM usage WHERE account_id = ?"),
        QStringLiteral("UPDATE accounts SET referred_by = NULL WHERE referred_by = ?"),
    };
    for (const QString &statement : statements) {
        QSqlQuery query(m_db);
        query.prepare(statement);
        query.addBindValue(accountId);
        if (!query.exec()) {
            m_lastError = query.lastError().text();
            return false;
        }
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM accounts WHERE id = ?"));
    query.addBindValue(accountId);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return false;
    }
    return query.numRowsAffected() == 1;
}

QJsonObject DevServerStore::preferences(qint64 accountId) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT document FROM preferences WHERE account_id = ?"));
    query.addBindValue(accountId);
    if (query.exec() && query.next())
        return objectFromText(query.value(0).toString());
    return {};
}

bool DevServerStore::setPreferences(qint64 accountId, const QJsonObject &preferences)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO preferences (account_id, document) VALUES (?, ?)"));
    query.addBindValue(accountId);
    query.addBindValue(jsonText(preferences));
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    return false;
}

QString DevServerStore::createSession(qint64 accountId, const Device &device, QString *replacedToken)
{
    if (replacedToken)
        replacedToken->clear();
    const QString deviceId = device.id.trimmed();
    if (!deviceId.isEmpty()) {
        QSqlQuery previous(m_db);
        previous.prepare(QStringLiteral("SELECT token FROM sessions WHERE account_id = ? AND device_id = ?"));
        previous.addBindValue(accountId);
        previous.addBindValue(deviceId);
        if (previous.exec() && previous.next()) {
            const QString oldToken = previous.value(0).toString();
            revokeSession(oldToken);
            if (replacedToken)
                *replacedToken = oldToken;
        }
    }
    const QString token = DevCrypto::randomHex(32);
    const QString stamp = timeText(now());
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO sessions (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1String(kSessionColumns)));
    query.addBindValue(token);
    query.addBindValue(accountId);
    query.addBindValue(nonNull(deviceId));
    query.addBindValue(nonNull(device.name.trimmed()));
    query.addBindValue(nonNull(device.platform.trimmed()));
    query.addBindValue(nonNull(device.location.trimmed()));
    query.addBindValue(stamp);
    query.addBindValue(stamp);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return {};
    }
    return token;
}

std::optional<DevServerStore::Session> DevServerStore::sessionByToken(const QString &token) const
{
    if (token.isEmpty())
        return std::nullopt;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM sessions WHERE token = ?").arg(QLatin1String(kSessionColumns)));
    query.addBindValue(token);
    if (query.exec() && query.next())
        return sessionFromQuery(query);
    return std::nullopt;
}

void DevServerStore::touchSession(const QString &token)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE sessions SET last_seen = ? WHERE token = ?"));
    query.addBindValue(timeText(now()));
    query.addBindValue(token);
    query.exec();
}

bool DevServerStore::revokeSession(const QString &token)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM sessions WHERE token = ?"));
    query.addBindValue(token);
    return query.exec() && query.numRowsAffected() > 0;
}

QList<DevServerStore::Session> DevServerStore::sessionsForAccount(qint64 accountId) const
{
    QList<Session> sessions;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM sessions WHERE account_id = ? ORDER BY created_at, rowid")
                      .arg(QLatin1String(kSessionColumns)));
    query.addBindValue(accountId);
    if (query.exec()) {
        while (query.next())
            sessions << sessionFromQuery(query);
    }
    return sessions;
}

QList<DevServerStore::Node> DevServerStore::nodes() const
{
    QList<Node> nodes;
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT %1 FROM nodes ORDER BY position, id").arg(QLatin1String(kNodeColumns)))) {
        while (query.next())
            nodes << nodeFromQuery(query);
    }
    return nodes;
}

std::optional<DevServerStore::Node> DevServerStore::nodeById(const QString &id) const
{
    if (id.trimmed().isEmpty())
        return std::nullopt;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM nodes WHERE id = ?").arg(QLatin1String(kNodeColumns)));
    query.addBindValue(id.trimmed());
    if (query.exec() && query.next())
        return nodeFromQuery(query);
    return std::nullopt;
}

bool DevServerStore::replaceNodes(const QList<Node> &nodes)
{
    if (!m_db.transaction()) {
        m_lastError = m_db.lastError().text();
        return false;
    }
    bool ok = exec(QStringLiteral("DELETE FROM nodes"));
    for (int position = 0; ok && position < nodes.size(); ++position) {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("INSERT INTO nodes (position, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                          .arg(QLatin1String(kNodeColumns)));
        query.addBindValue(position);
        query.addBindValue(nonNull(nodes.at(position).id.trimmed()));
        bindNode(query, nodes.at(position));
        ok = query.exec();
        if (!ok)
            m_lastError = query.lastError().text();
    }
    if (ok)
        return m_db.commit();
    m_db.rollback();
    return false;
}

bool DevServerStore::updateNode(const Node &node)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE nodes SET name = ?, region = ?, country = ?, country_code = ?, flag = ?,"
                                 " status = ?, disabled = ?, tags = ?, featured = ?, outbound = ?, host = ?"
                                 " WHERE id = ?"));
    bindNode(query, node);
    query.addBindValue(nonNull(node.id));
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return false;
    }
    return query.numRowsAffected() == 1;
}

QList<DevServerStore::Order> DevServerStore::ordersForAccount(qint64 accountId) const
{
    QList<Order> orders;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM orders WHERE account_id = ? ORDER BY created_at DESC, rowid DESC")
                      .arg(QLatin1String(kOrderColumns)));
    query.addBindValue(accountId);
    if (query.exec()) {
        while (query.next())
            orders << orderFromQuery(query);
    }
    return orders;
}

bool DevServerStore::addOrder(const Order &order)
{
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("INSERT INTO orders (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(QLatin1String(kOrderColumns)));
    query.addBindValue(nonNull(order.id));
    query.addBindValue(order.accountId);
    query.addBindValue(nonNull(order.planId));
    query.addBindValue(nonNull(order.planName));
    query.addBindValue(order.amountCents);
    query.addBindValue(nonNull(order.status));
    query.addBindValue(nonNull(timeText(order.createdAt.isValid() ? order.createdAt : now())));
    query.addBindValue(nonNull(timeText(order.paidAt)));
    query.addBindValue(nonNull(order.checkoutKey));
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    return false;
}

std::optional<DevServerStore::Order> DevServerStore::orderById(const QString &id) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM orders WHERE id = ?").arg(QLatin1String(kOrderColumns)));
    query.addBindValue(nonNull(id));
    if (query.exec() && query.next())
        return orderFromQuery(query);
    return std::nullopt;
}

bool DevServerStore::setOrderStatus(const QString &id, const QString &status, const QDateTime &paidAt)
{
    QSqlQuery query(m_db);
    if (paidAt.isValid()) {
        query.prepare(QStringLiteral("UPDATE orders SET status = ?, paid_at = ? WHERE id = ?"));
        query.addBindValue(nonNull(status));
        query.addBindValue(nonNull(timeText(paidAt)));
    } else {
        query.prepare(QStringLiteral("UPDATE orders SET status = ? WHERE id = ?"));
        query.addBindValue(nonNull(status));
    }
    query.addBindValue(nonNull(id));
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return false;
    }
    return query.numRowsAffected() == 1;
}

QList<qint64> DevServerStore::hourlyUsage(qint64 accountId, const QString &day) const
{
    QList<qint64> hours(24, 0);
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT hour, bytes FROM usage WHERE account_id = ? AND day = ?"));
    query.addBindValue(accountId);
    query.addBindValue(nonNull(day));
    if (query.exec()) {
        while (query.next()) {
            const int hour = query.value(0).toInt();
            if (hour >= 0 && hour < 24)
                hours[hour] = query.value(1).toLongLong();
        }
    }
    return hours;
}

bool DevServerStore::addUsage(qint64 accountId, const QString &day, int hour, qint64 bytes)
{
    if (hour < 0 || hour > 23 || bytes < 0)
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO usage (account_id, day, hour, bytes) VALUES (?, ?, ?, ?)"
                                 " ON CONFLICT (account_id, day, hour) DO UPDATE SET bytes = bytes + excluded.bytes"));
    query.addBindValue(accountId);
    query.addBindValue(nonNull(day));
    query.addBindValue(hour);
    query.addBindValue(bytes);
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    return false;
}

bool DevServerStore::storeCode(const Code &code)
{
    consumeCodes(code.email, {code.purpose});
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO verification_codes (email, purpose, code, expires_at, created_at)"
                                 " VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(normalizedEmail(code.email));
    query.addBindValue(nonNull(code.purpose));
    query.addBindValue(nonNull(code.code));
    query.addBindValue(nonNull(timeText(code.expiresAt)));
    query.addBindValue(nonNull(timeText(code.createdAt)));
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    return false;
}

std::optional<DevServerStore::Code> DevServerStore::latestCode(const QString &email, const QString &purpose) const
{
    QSqlQuery query(m_db);
    if (purpose.isEmpty()) {
        query.prepare(QStringLiteral("SELECT email, purpose, code, expires_at, created_at FROM verification_codes"
                                     " WHERE email = ? ORDER BY id DESC LIMIT 1"));
        query.addBindValue(normalizedEmail(email));
    } else {
        query.prepare(QStringLiteral("SELECT email, purpose, code, expires_at, created_at FROM verification_codes"
                                     " WHERE email = ? AND purpose = ? ORDER BY id DESC LIMIT 1"));
        query.addBindValue(normalizedEmail(email));
        query.addBindValue(nonNull(purpose));
    }
    if (!query.exec() || !query.next())
        return std::nullopt;
    Code code;
    code.email = query.value(0).toString();
    code.purpose = query.value(1).toString();
    code.code = query.value(2).toString();
    code.expiresAt = timeFromText(query.value(3).toString());
    code.createdAt = timeFromText(query.value(4).toString());
    return code;
}

bool DevServerStore::codeMatches(const QString &email, const QStringList &purposes, const QString &code) const
{
    if (code.trimmed().isEmpty() || purposes.isEmpty())
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT expires_at FROM verification_codes"
                                 " WHERE email = ? AND code = ? AND purpose IN (%1)")
                      .arg(placeholders(int(purposes.size()))));
    query.addBindValue(normalizedEmail(email));
    query.addBindValue(code.trimmed());
    for (const QString &purpose : purposes)
        query.addBindValue(nonNull(purpose));
    if (!query.exec())
        return false;
    const QDateTime current = now();
    while (query.next()) {
        const QDateTime expiresAt = timeFromText(query.value(0).toString());
        if (expiresAt.isValid() && expiresAt > current)
            return true;
    }
    return false;
}

void DevServerStore::consumeCodes(const QString &email, const QStringList &purposes)
{
    if (purposes.isEmpty())
        return;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM verification_codes WHERE email = ? AND purpose IN (%1)")
                      .arg(placeholders(int(purposes.size()))));
    query.addBindValue(normalizedEmail(email));
    for (const QString &purpose : purposes)
        query.addBindValue(nonNull(purpose));
    query.exec();
}
