#pragma once

#include "devserver/devserverhttp.h"
#include "devserver/devserverstore.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
class QWebSocket;

// Quillet's local development backend: real HTTP on 127.0.0.1 (Qt HttpServer),
// the event WebSocket on the same port, SQLite storage, the encrypted answer
// envelope and, in development mode, fault injection and test hooks under
// "/dev/". Lives on one thread; DevServerRunner drives it from another.
class DevServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        quint16 port = 0; // 0: any free port
        QString dataDir; // empty: in-memory database
        bool developmentMode = true; // "/dev/" routes and faults
        bool demoData = true; // the two demo accounts
        // Where the catalogue's nodes point; each gets a loopback port that
        // nothing listens on until a test moves it (setNodeEndpoint).
        QString nodeHost = QStringLiteral("127.0.0.1");
        // Engine configuration templates ("server_config_template_smart.json",
        // "..._global.json" or "server_config_template.json"); empty: the
        // source tree's tests/data. Without one a built-in document is served.
        QString configTemplateDir;
        // Above 0: a generated catalogue of this many nodes over some forty
        // countries in place of the eight demo nodes, each on a loopback
        // address of its own (127.1.x.y) that answers ping (for scale tests).
        int demoNodes = 0;
    };

    // A membership plan as sold; devices is the number of devices signed in at once.
    struct Plan
    {
        QString id;
        QString name;
        QString price;
        QString billing;
        QString description;
        int devices = 0;
        bool featured = false;
        qint64 amountCents = 0;
        int days = 0;
    };

    enum class FaultMode {
        Status, // answer `status` with {"error": error}
        Delay, // wait delayMs, then answer normally
        Close, // send the header block, then close before the body (Qt reports RemoteHostClosedError at once)
        Drop, // close before any byte (Qt silently re-sends such a request once on a new connection)
        Garbage, // bytes that are not HTTP, then close (Qt re-sends up to three times, then reports
                 // RemoteHostClosedError)
        Malformed, // 200 with a body that is not JSON
    };

    struct Fault
    {
        FaultMode mode = FaultMode::Status;
        int status = 503;
        QString error;
        int delayMs = 0;
        int count = 1; // how many of the next requests it hits

        static Fault withStatus(int status, const QString &error = QString(), int count = 1);
        static Fault delayed(int delayMs, int count = 1);
        static Fault ofMode(FaultMode mode, int count = 1);
    };

    // Who may call a route.
    enum class Access {
        Public, // no token looked at
        OptionalToken, // a token, when sent, must be valid
        Token, // a valid bearer token is required
        Development, // only in development mode; no token
    };

    // What a route accepts as body: a JSON object (or nothing), or anything.
    enum class Body { Json, Any };

    using Handler = std::function<DevReply(const DevRequest &)>;

    explicit DevServer(QObject *parent = nullptr);
    ~DevServer() override;

    bool start(const Options &options);
    void stop();
    bool isListening() const;
    QString errorString() const { return m_errorString; }
    const Options &options() const { return m_options; }
    quint16 port() const { return m_port; }
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    // Adds a route; method is upper case ("GET", "POST", "DELETE"), path has no query.
    // A Json route answers 400 "invalid json body" to a JSON-typed body that is no object.
    void addRoute(
        const QByteArray &method, const QString &path, Access access, Handler handler, Body body = Body::Json);

    // Faults queue per route (path without query) and hit the next requests in order.
    void setFault(const QString &route, const Fault &fault);
    void clearFaults();
    static bool faultModeFromString(const QString &text, FaultMode *mode);

    int requestCount(const QString &route) const;
    QHash<QString, int> requestCounts() const { return m_requestCounts; }
    void resetRequestCounts();

    // No token and no route: the global switch (switching it off also clears
    // every token and route switch). Otherwise the switch of that token and/or
    // that route (path without query).
    void setEncryption(bool enabled, const QString &token = QString(), const QString &route = QString());
    bool encryptionApplies(const QString &token, const QString &route) const;

    // The newest verification code sent to the address, or empty.
    QString lastMailCode(const QString &email) const;

    // Sends the event as a text frame to every stream socket of the account
    // (or of the session token, or of the account with that e-mail address
    // when the text contains "@"). Returns the number of sockets reached.
    int pushEvent(qint64 accountId, const QJsonObject &event);
    int pushEvent(const QString &tokenOrEmail, const QJsonObject &event);
    int streamSocketCount(qint64 accountId) const;

    DevServerStore &store() { return m_store; }

    // Keys that replace the bootstrap's connectivity settings (tests shorten
    // the connection time-outs or point the probe elsewhere).
    void setConnectivityOverride(const QJsonObject &values) { m_connectivityOverride = values; }

    // The user map of sign-in, registration and bootstrap answers.
    QJsonObject userJson(const DevServerStore::Account &account) const;

    static const QList<Plan> &plans();
    static std::optional<Plan> planById(const QString &id);
    bool membershipActive(const DevServerStore::Account &account) const;
    // Devices shown as the allowance: the plan's, 1 for another active
    // membership (the daily trial), 0 without one.
    int deviceLimit(const DevServerStore::Account &account) const;
    // Sessions kept at sign-in: the allowance, but at least the new one.
    int signInQuota(const DevServerStore::Account &account) const;
    // The id a session's device is listed and revoked under.
    static QString deviceIdOf(const DevServerStore::Session &session);

    // The node catalogue. Endpoint and status changes take effect at once
    // for every later answer (bootstrap, node list, engine configuration).
    bool setNodeEndpoint(const QString &nodeId, const QString &host, quint16 port);
    bool setNodeStatus(const QString &nodeId, const QString &status, bool disabled);
    QJsonObject nodeJson(const QString &nodeId) const; // the raw record, empty when unknown
    QJsonArray nodesJson() const;
    QJsonArray nodeCountriesJson() const;

Q_SIGNALS:
    void mailSent(const QString &email, const QString &purpose, const QString &code);

private:
    struct Route
    {
        QByteArray method;
        QString path;
        Access access = Access::Public;
        Handler handler;
        Body body = Body::Json;
    };

    struct StreamClient
    {
        QPointer<QWebSocket> socket;
        QString token;
        qint64 accountId = -1;
    };

    // devserver.cpp: HTTP plumbing
    void handleHttp(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    DevReply route(DevRequest request);
    void writeReply(QHttpServerResponder &responder, const DevReply &reply);
    bool takeFault(const QString &path, Fault *fault);
    void applyFault(const Fault &fault, const DevRequest &request, std::shared_ptr<QHttpServerResponder> responder);

    // devserver.cpp: event stream
    void acceptWebSockets();
    void closeStreamsForToken(const QString &token);
    // Revokes the session; its stream sockets get the event (when not empty)
    // and are closed.
    void endSession(const QString &token, const QJsonObject &event);
    // Ends every session of the account; the one of exceptToken is ended
    // without the event (its own client knows why).
    void endAccountSessions(qint64 accountId, const QString &exceptToken, const QJsonObject &event);

    // devserver_auth.cpp
    void addAccountRoutes();
    void seedDemoData();
    DevReply login(const DevRequest &request);
    DevReply registerAccount(const DevRequest &request);
    DevReply sendCode(const DevRequest &request);
    DevReply verifyCode(const DevRequest &request);
    DevReply logout(const DevRequest &request);
    DevReply resetPassword(const DevRequest &request);
    DevReply changePassword(const DevRequest &request);
    DevReply deleteAccount(const DevRequest &request);
    DevReply signedInAnswer(const DevServerStore::Account &account, const DevRequest &request);
    void enforceDeviceQuota(const DevServerStore::Account &account, const QString &newToken);

    // devserver_account.cpp
    void addProfileRoutes();
    void seedDemoProfile(qint64 accountId, bool member);
    DevReply bootstrap(const DevRequest &request);
    DevReply savePreferences(const DevRequest &request);
    DevReply listDevices(const DevRequest &request);
    DevReply revokeDevice(const DevRequest &request);
    QJsonObject preferencesJson(qint64 accountId) const;
    QJsonObject trialJson(const DevServerStore::Account &account) const;
    QJsonObject dashboardJson(const DevServerStore::Account &account) const;
    QJsonObject billingJson(const DevServerStore::Account &account) const;
    QJsonObject inviteJson(const DevServerStore::Account &account) const;
    QJsonObject devicesJson(const DevServerStore::Account &account, const QString &currentToken) const;
    QJsonObject connectivityJson() const;

    // devserver_nodes.cpp
    void addNodeRoutes();
    bool seedNodes();
    // devserver_demonodes.cpp
    static QList<DevServerStore::Node> generatedNodes(int count);
    DevReply selectNode(const DevRequest &request);
    DevReply listNodes(const DevRequest &request);
    DevReply engineConfig(const DevRequest &request);
    std::optional<DevServerStore::Node> effectiveNode(const DevServerStore::Account &account) const;

    // devserver_billing.cpp
    void addBillingRoutes();
    DevReply listOrders(const DevRequest &request);
    DevReply checkout(const DevRequest &request);
    DevReply confirmPayment(const DevRequest &request);
    DevReply cancelOrder(const DevRequest &request);
    DevReply claimTrial(const DevRequest &request);
    DevReply checkoutPage(const DevRequest &request);
    DevReply checkoutPageAction(const DevRequest &request, bool pay);
    // The order of this account, or a 404 answer in *failure.
    std::optional<DevServerStore::Order> ownOrder(const DevRequest &request, DevReply *failure) const;
    DevReply checkoutAnswer(const DevServerStore::Order &order) const;
    // Pays (membership extended by the plan) or cancels a pending order and
    // tells the account's event streams.
    void settleOrder(const DevServerStore::Order &order, bool paid);
    QJsonObject orderJson(const DevServerStore::Order &order) const;
    // devserver_support.cpp
    void addSupportRoutes();
    bool ensureSupportSchema();
    QJsonArray messageItemsJson(qint64 accountId); // seeds the demo notices on first use
    QJsonObject messagesSectionJson(qint64 accountId);
    DevReply listMessages(const DevRequest &request);
    DevReply markMessagesRead(const DevRequest &request);
    bool addSupportMessage(qint64 accountId, const QString &sender, const QString &text, const QJsonArray &attachments);
    QJsonObject supportConversationJson(qint64 accountId);
    DevReply postSupportChat(const DevRequest &request);
    DevReply uploadSupportMedia(const DevRequest &request);
    DevReply storeDiagnosticLog(const DevRequest &request);

    // devserver_speed.cpp
    void addSpeedRoutes();
    static DevReply probeDownload(const DevRequest &request);
    bool ensureSpeedSchema();
    DevReply runSpeedTest(const DevRequest &request);
    QJsonObject speedSectionJson(qint64 accountId);
    QJsonObject trafficSectionJson(qint64 accountId) const;

    // devserver_dev.cpp
    void addDevelopmentRoutes();
    DevReply echo(const DevRequest &request) const;

    Options m_options;
    QString m_errorString;
    quint16 m_port = 0;
    std::unique_ptr<QHttpServer> m_http;
    DevServerStore m_store;
    QJsonObject m_connectivityOverride;

    QList<Route> m_routes;
    QHash<QString, QList<Fault>> m_faults;
    QHash<QString, int> m_requestCounts;

    bool m_encryptAll = false;
    QSet<QString> m_encryptedTokens;
    QSet<QString> m_encryptedRoutes;

    QList<StreamClient> m_streams;

    // Demo content in the language of the request being answered (its Accept-Language).
    QString word(const char *source) const;
    QString localized(const QString &stored) const;
    QString m_requestLanguage = QStringLiteral("zh-Hans");
};
