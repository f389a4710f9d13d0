#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

// The development backend's storage: one SQLite database (a file in the data
// directory, or in memory), opened under a connection name of its own so that
// several servers can run in one process. Used only from the server's thread.
class DevServerStore
{
public:
    struct Account
    {
        qint64 id = -1;
        QString email;
        QString name;
        QDateTime createdAt;
        QString planId;
        QString planName;
        QDateTime expiresAt; // invalid: no membership
        QString selectedNodeId;
        QString inviteCode;
        qint64 referredBy = -1;
        bool disabled = false;
        QString trialClaimDate; // "yyyy-MM-dd" of the last daily-trial claim, or empty
    };

    struct Session
    {
        QString token;
        qint64 accountId = -1;
        QString deviceId;
        QString deviceName;
        QString platform;
        QString location;
        QDateTime createdAt;
        QDateTime lastSeen;
    };

    struct Device
    {
        QString id;
        QString name;
        QString platform;
        QString location;
    };

    // One entry of the node catalogue, in the server's own terms.
    struct Node
    {
        QString id;
        QString name;
        QString region;
        QString country;
        QString countryCode;
        QString flag;
        QString status = QStringLiteral("online");
        bool disabled = false;
        QStringList tags;
        bool featured = false;
        QJsonObject outbound; // a complete engine outbound; "server"/"server_port" are the endpoint
        QString host; // what the node is known as; follows the endpoint
    };

    struct Order
    {
        QString id;
        qint64 accountId = -1;
        QString planId;
        QString planName;
        qint64 amountCents = 0;
        QString status; // "pending", "paid", "active", "canceled"
        QDateTime createdAt;
        QDateTime paidAt;
        QString checkoutKey; // opens the order's checkout page without a bearer token
    };

    struct Code
    {
        QString email;
        QString purpose;
        QString code;
        QDateTime expiresAt;
        QDateTime createdAt;
    };

    DevServerStore();
    ~DevServerStore();
    DevServerStore(const DevServerStore &) = delete;
    DevServerStore &operator=(const DevServerStore &) = delete;

    // dataDir empty: an in-memory database. Creates the schema.
    bool open(const QString &dataDir, QString *error);
    void close();
    bool isOpen() const;
    QSqlDatabase database() const { return m_db; }
    QString lastError() const { return m_lastError; }

    // The store's clock; tests move it forward to expire codes and memberships.
    QDateTime now() const;
    void advanceClock(qint64 seconds) { m_clockOffsetSeconds += seconds; }

    std::optional<Account> accountById(qint64 id) const;
    std::optional<Account> accountByEmail(const QString &email) const;
    std::optional<Account> accountByInviteCode(const QString &code) const;
    // Returns the new id, or -1 (duplicate e-mail, database error).
    qint64 createAccount(const QString &email, const QString &password, const QString &name, qint64 referredBy = -1);
    bool checkPassword(qint64 accountId, const QString &password) const;
    bool setPassword(qint64 accountId, const QString &password);
    bool setMembership(qint64 accountId, const QString &planId, const QString &planName, const QDateTime &expiresAt);
    bool setDisabled(qint64 accountId, bool disabled);
    bool setSelectedNode(qint64 accountId, const QString &nodeId);
    bool setInviteCode(qint64 accountId, const QString &code);
    bool setTrialClaimDate(qint64 accountId, const QString &date);
    int referralCount(qint64 accountId) const;
    // Removes the account with its sessions, preferences, orders and usage.
    bool deleteAccount(qint64 accountId);

    // The account's stored preference sections; empty when none were stored.
    QJsonObject preferences(qint64 accountId) const;
    bool setPreferences(qint64 accountId, const QJsonObject &preferences);

    // A fresh token for the account; an earlier session of the same non-empty
    // device id is replaced (its token returned in *replacedToken).
    QString createSession(qint64 accountId, const Device &device, QString *replacedToken = nullptr);
    std::optional<Session> sessionByToken(const QString &token) const;
    void touchSession(const QString &token);
    bool revokeSession(const QString &token);
    // Oldest sign-in first.
    QList<Session> sessionsForAccount(qint64 accountId) const;

    // The catalogue in its stored order.
    QList<Node> nodes() const;
    std::optional<Node> nodeById(const QString &id) const;
    // Replaces the whole catalogue.
    bool replaceNodes(const QList<Node> &nodes);
    bool updateNode(const Node &node);

    // Newest first.
    QList<Order> ordersForAccount(qint64 accountId) const;
    bool addOrder(const Order &order);
    std::optional<Order> orderById(const QString &id) const;
    // Sets the status (and the payment time, when valid); false when no such order.
    bool setOrderStatus(const QString &id, const QString &status, const QDateTime &paidAt = QDateTime());

    // Traffic of one day ("yyyy-MM-dd"), one entry per hour.
    QList<qint64> hourlyUsage(qint64 accountId, const QString &day) const;
    bool addUsage(qint64 accountId, const QString &day, int hour, qint64 bytes);

    // Replaces any earlier code of the same e-mail and purpose.
    bool storeCode(const Code &code);
    std::optional<Code> latestCode(const QString &email, const QString &purpose = QString()) const;
    // A matching, unexpired code of one of the purposes.
    bool codeMatches(const QString &email, const QStringList &purposes, const QString &code) const;
    void consumeCodes(const QString &email, const QStringList &purposes);

private:
    bool exec(const QString &statement);
    bool createSchema();
    bool ensureColumn(const QString &table, const QString &column, const QString &definition);

    QSqlDatabase m_db;
    QString m_connectionName;
    QString m_lastError;
    qint64 m_clockOffsetSeconds = 0;
};
