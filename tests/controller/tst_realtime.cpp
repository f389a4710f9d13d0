#include "api/apierrors.h"
#include "app/startup.h"
#include "controller/appcontroller.h"
#include "curlstandin.h"
#include "devserver/devserverrunner.h"
#include "model/diagnosticupload.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"
#include "testenvironment.h"
#include "testaccounts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

const QString kMessagesRoute = QStringLiteral("/api/v1/messages");
const QString kBootstrapRoute = QStringLiteral("/api/v1/bootstrap");
const QString kChatRoute = QStringLiteral("/api/v1/support/chat");

bool streamOpen(const AppController &controller)
{
    return controller.eventSocket() && controller.eventSocket()->state() == QAbstractSocket::ConnectedState;
}

QVariantMap section(const AppController &controller, const QString &name)
{
    return controller.experience().value(name).toMap();
}

QVariantList messageItems(const AppController &controller)
{
    return section(controller, QStringLiteral("messages")).value(QStringLiteral("items")).toList();
}

int unreadCount(const AppController &controller)
{
    int unread = 0;
    for (const QVariant &item : messageItems(controller))
        unread += item.toMap().value(QStringLiteral("read")).toBool() ? 0 : 1;
    return unread;
}

QVariantList chatMessages(const AppController &controller)
{
    return section(controller, QStringLiteral("support"))
        .value(QStringLiteral("conversation"))
        .toMap()
        .value(QStringLiteral("messages"))
        .toList();
}

int chatCount(const AppController &controller, const QString &sender)
{
    int count = 0;
    for (const QVariant &message : chatMessages(controller))
        count += message.toMap().value(QStringLiteral("sender")).toString() == sender ? 1 : 0;
    return count;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// An office proxy on loopback that wants credentials for every request.
class AuthenticatingProxy : public QTcpServer
{
public:
    AuthenticatingProxy()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->readAll();
                    ++requests;
                    socket->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                  "Proxy-Authenticate: Basic realm=\"office\"\r\n"
                                  "Content-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost);
    }
    int requests = 0;
};

// A relay in front of the backend that passes everything through, but cuts a
// stream a while after it opened ("drop") or, once it is open, silently stops
// passing its bytes ("swallow", a half-open connection after a NAT timeout).
class StreamRelay : public QTcpServer
{
public:
    enum class Mode { Drop, Swallow };
    StreamRelay(quint16 upstreamPort, Mode mode, int dropAfterMs = 300)
        : m_upstreamPort(upstreamPort), m_mode(mode), m_dropAfterMs(dropAfterMs)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection())
                relay(client);
        });
        listen(QHostAddress::LocalHost);
    }
    QList<qint64> dialTimes; // ms since the relay started, one per stream handshake
    QElapsedTimer clock;

private:
    void relay(QTcpSocket *client)
    {
        if (!clock.isValid())
            clock.start();
        auto *upstream = new QTcpSocket(client);
        auto stream = std::make_shared<bool>(false);
        auto passing = std::make_shared<bool>(true);
        connect(client, &QTcpSocket::readyRead, client, [=] {
            const QByteArray bytes = client->readAll();
            if (!*stream && bytes.contains("GET /api/v1/ws")) {
                *stream = true;
                dialTimes << clock.elapsed();
                if (m_mode == Mode::Drop)
                    QTimer::singleShot(m_dropAfterMs, client, [client] { client->abort(); });
                else
                    QTimer::singleShot(m_dropAfterMs, client, [passing] { *passing = false; });
            }
            if (*passing)
                upstream->write(bytes);
        });
        connect(upstream, &QTcpSocket::readyRead, client, [=] {
            const QByteArray bytes = upstream->readAll();
            if (*passing)
                client->write(bytes);
        });
        connect(client, &QTcpSocket::disconnected, client, [=] {
            upstream->abort();
            client->deleteLater();
        });
        connect(upstream, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
    }

    quint16 m_upstreamPort;
    Mode m_mode;
    int m_dropAfterMs;
};

} // namespace

// The event stream, the inbox, the support chat and the diagnostic upload,
// against the development backend.
class RealtimeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void streamOpensAfterBootstrapAndStaysOnReload();
    void pushedSessionEndForcesLogout_data();
    void pushedSessionEndForcesLogout();
    void deviceQuotaSignsOutTheOldestDevice();
    void eventActions_data();
    void eventActions();
    void systemProxyNeverReachesTheStream_data();
    void systemProxyNeverReachesTheStream();
    void bootstrapKeepsSupportChat_data();
    void bootstrapKeepsSupportChat();
    void droppingRelayIsDialledByBackoff();
    void silentStreamIsDroppedAndRedialled();
    void networkReturnDialsAtOnce();
    void reconnectBacksOffAcrossServerRestart();
    void refusedStreamEndsStaleSession();
    void bootstrapDuringPendingReconnectWaits();
    void messagesReadOptimisticallyAndAllRead();
    void supportRefreshGateAndLoadingFlag();
    void supportSendGetsAgentReplyByEvent();
    void supportSendIgnoresSecondPressWhileInFlight();
    void supportUpload_data();
    void supportUpload();
    void supportUploadKeepsTokenOffCommandLine();
    void supportUploadRefusesLinks_data();
    void supportUploadRefusesLinks();
    void eventDuringRefreshRunsItAgain_data();
    void eventDuringRefreshRunsItAgain();
    void diagnosticUploadSendsTailAndKeepsNewLines();
    void diagnosticUploadAlwaysFinishes_data();
    void diagnosticUploadAlwaysFinishes();
    void clearCachedLogsRemovesFiles();
    void logsNeverHoldSecrets();

private:
    std::unique_ptr<AppController> signedIn(const QString &email = QString(), const QString &password = QString());
    int storedDiagnosticLogs(QString *lastLog = nullptr);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<DevServerRunner> m_server;
    QByteArray m_originalPath;
    QString m_lastSignInTrouble; // why the last signedIn() gave up
};

void RealtimeTest::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    m_originalPath = qgetenv("PATH");
}

void RealtimeTest::init()
{
    TestEnvironment::clearSettings();
    store().setValue(QStringLiteral("settings/language"), QStringLiteral("zh-Hans"));
    qputenv("TARN_API_BASE_URL", m_server->baseUrl().toUtf8());
    m_server->clearFaults();
    m_server->resetRequestCounts();
    QDir(m_env->logDirectory()).removeRecursively();
}

void RealtimeTest::cleanup()
{
    m_server->clearFaults();
    qputenv("PATH", m_originalPath);
}

std::unique_ptr<AppController> RealtimeTest::signedIn(const QString &email, const QString &password)
{
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(fastTimings());
    controller->signIn(email.isEmpty() ? kMemberEmail : email, password.isEmpty() ? kMemberPassword : password);
    if (!QTest::qWaitFor([&] { return controller->loggedIn() && !controller->busy(); }, 15000)) {
        m_lastSignInTrouble = QStringLiteral("not signed in: %1").arg(controller->apiError());
        return nullptr;
    }
    if (!QTest::qWaitFor([&] { return streamOpen(*controller) && !controller->networkLoading(); }, 10000)) {
        m_lastSignInTrouble = QStringLiteral("stream %1, signed in %2")
                                  .arg(controller->eventSocket() ? controller->eventSocket()->errorString()
                                                                 : QStringLiteral("none"))
                                  .arg(controller->loggedIn());
        return nullptr;
    }
    return controller;
}

int RealtimeTest::storedDiagnosticLogs(QString *lastLog)
{
    int count = 0;
    m_server->run([&](DevServer &server) {
        QSqlQuery query(server.store().database());
        if (!query.exec(QStringLiteral("SELECT log FROM diagnostic_logs ORDER BY id")))
            return;
        while (query.next()) {
            ++count;
            if (lastLog)
                *lastLog = query.value(0).toString();
        }
    });
    return count;
}

// --- the event stream -------------------------------------------------------------------

void RealtimeTest::streamOpensAfterBootstrapAndStaysOnReload()
{
    auto controller = signedIn();
    QVERIFY(controller);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ws")), 1);
    QCOMPARE(controller->eventStreamToken(), controller->authToken());
    // The server took the stream as this session's.
    int sockets = 0;
    const QString token = controller->authToken();
    m_server->run([&](DevServer &server) {
        sockets = server.streamSocketCount(server.store().sessionByToken(token)->accountId);
    });
    QCOMPARE(sockets, 1);

    // A bootstrap applied while the stream is open leaves the socket alone.
    QWebSocket *socket = controller->eventSocket();
    controller->loadBootstrap();
    QTest::qWait(200);
    QCOMPARE(controller->eventSocket(), socket);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ws")), 1);

    // Signing out closes it.
    controller->signOut();
    QVERIFY(!controller->eventSocket());
    QVERIFY(controller->eventStreamToken().isEmpty());
    QVERIFY(!controller->eventReconnectTimer()->isActive());
}

void RealtimeTest::pushedSessionEndForcesLogout_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("dialogMessage");

    QTest::newRow("device revoked with message")
        << R"({"type":"device_revoked","message":"设备额度已满，系统会自动下线最早登录的设备，请重新登录。"})"
        << "设备额度已满，系统会自动下线最早登录的设备，请重新登录。";
    QTest::newRow("upper case, no message") << R"({"type":"SESSION_EXPIRED"})" << "您已被踢下线。";
    QTest::newRow("rich text message stays text") << R"({"type":"kicked_out","message":"  <b>bye</b>  "})"
                                                   << "<b>bye</b>";
}

void RealtimeTest::pushedSessionEndForcesLogout()
{
    QFETCH(QString, event);
    QFETCH(QString, dialogMessage);
    auto controller = signedIn();
    QVERIFY(controller);
    const QJsonObject object = QJsonDocument::fromJson(event.toUtf8()).object();
    QCOMPARE(m_server->pushEvent(controller->authToken(), object), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 5000);
    QVERIFY(controller->sessionKickDialogVisible());
    QCOMPARE(controller->sessionKickDialogMessage(), dialogMessage);
    QVERIFY(!controller->eventSocket());
    QVERIFY(!controller->eventReconnectTimer()->isActive());
}

void RealtimeTest::deviceQuotaSignsOutTheOldestDevice()
{
    // Without a membership the account has one device slot.
    auto controller = signedIn(kTrialEmail, kTrialPassword);
    QVERIFY(controller);

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(m_server->baseUrl() + QStringLiteral("/api/v1/auth/login")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("email"), kTrialEmail},
                                                      {QStringLiteral("password"), kTrialPassword},
                                                      {QStringLiteral("device_id"), QStringLiteral("other-device")}})
                                .toJson();
    std::unique_ptr<QNetworkReply> reply(network.post(request, body));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 5000);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);

    QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 5000);
    QVERIFY(controller->sessionKickDialogVisible());
    QCOMPARE(controller->sessionKickDialogMessage(),
             QStringLiteral("设备额度已满，系统会自动下线最早登录的设备，请重新登录。"));
}

void RealtimeTest::eventActions_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<int>("bootstraps");
    QTest::addColumn<int>("messageLists");
    QTest::addColumn<int>("chats");

    QTest::newRow("message_updated refreshes only messages") << "" << R"({"type":"message_updated"})" << 0 << 1 << 0;
    QTest::newRow("support_updated refreshes the chat") << "" << R"({"type":"support_updated"})" << 0 << 0 << 1;
    QTest::newRow("payment_updated reloads quietly") << "" << R"({"type":"Payment_Updated"})" << 1 << 0 << 0;
    QTest::newRow("order_updated reloads quietly") << "" << R"({"type":"order_updated"})" << 1 << 0 << 0;
    QTest::newRow("plain text frame does nothing") << "" << "hello there" << 0 << 0 << 0;
    QTest::newRow("unknown type does nothing") << "" << R"({"type":"weather_report"})" << 0 << 0 << 0;
    QTest::newRow("JSON array does nothing") << "" << R"(["message_updated"])" << 0 << 0 << 0;
    QTest::newRow("given type without JSON") << "message_updated" << "not json" << 0 << 1 << 0;
    QTest::newRow("connected resets only") << "" << R"({"type":"connected"})" << 0 << 0 << 0;
}

void RealtimeTest::eventActions()
{
    QFETCH(QString, type);
    QFETCH(QString, payload);
    QFETCH(int, bootstraps);
    QFETCH(int, messageLists);
    QFETCH(int, chats);
    auto controller = signedIn();
    QVERIFY(controller);
    m_server->resetRequestCounts();

    if (type.isEmpty() && payload.startsWith(QLatin1Char('{')))
        QCOMPARE(m_server->pushEvent(controller->authToken(), QJsonDocument::fromJson(payload.toUtf8()).object()), 1);
    else
        controller->handleRealtimeEvent(type, payload);
    QTest::qWait(600);
    QTRY_VERIFY(!controller->networkLoading());
    QCOMPARE(m_server->requestCount(kBootstrapRoute), bootstraps);
    QCOMPARE(m_server->requestCount(kMessagesRoute), messageLists);
    QCOMPARE(m_server->requestCount(kChatRoute), chats);
    QVERIFY(controller->loggedIn());
    QVERIFY(streamOpen(*controller));
}

void RealtimeTest::systemProxyNeverReachesTheStream_data()
{
    QTest::addColumn<bool>("authenticating");
    QTest::newRow("proxy answers 407") << true;
    QTest::newRow("proxy port refuses") << false;
}

// The system proxy is set for the whole process, as an office PC has it (one
// that wants credentials, or one that is gone): the stream is made to go
// straight to the backend, and the session stays. (Qt may skip a proxy for
// loopback by itself, so the socket's own setting is checked as well; the
// error rule that no proxy error ends a session has its rows of its own.)
void RealtimeTest::systemProxyNeverReachesTheStream()
{
    QFETCH(bool, authenticating);
    AuthenticatingProxy proxy;
    const quint16 port = proxy.serverPort();
    if (!authenticating)
        proxy.close(); // nothing listens there any more
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), port));
    const auto restore = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); });

    auto controller = signedIn();
    QVERIFY2(controller, qPrintable(m_lastSignInTrouble));
    QCOMPARE(controller->eventSocket()->proxy().type(), QNetworkProxy::NoProxy);
    QTest::qWait(300);
    QVERIFY(controller->loggedIn());
    QVERIFY(!controller->sessionKickDialogVisible());
    QVERIFY(streamOpen(*controller));
    QCOMPARE(proxy.requests, 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ws")), 1);
}

void RealtimeTest::bootstrapKeepsSupportChat_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("payment event") << "payment";
    QTest::newRow("blocking reload") << "reload";
    QTest::newRow("profile visit") << "profile";
}

// The bootstrap carries no support chat: reloading it must not take the open
// conversation off the screen.
void RealtimeTest::bootstrapKeepsSupportChat()
{
    QFETCH(QString, trigger);
    auto controller = signedIn();
    QVERIFY(controller);
    controller->refreshSupportChat();
    QTRY_VERIFY(!chatMessages(*controller).isEmpty());
    const int shown = chatMessages(*controller).size();
    m_server->resetRequestCounts();
    if (trigger == QLatin1String("payment"))
        controller->handleRealtimeEvent(QString(), QStringLiteral(R"({"type":"payment_updated"})"));
    else if (trigger == QLatin1String("reload"))
        controller->loadBootstrap();
    else
        controller->navigate(QStringLiteral("profile"));
    QTRY_VERIFY(m_server->requestCount(kBootstrapRoute) >= 1);
    QTRY_VERIFY(!controller->networkLoading());
    QTest::qWait(200);
    QCOMPARE(chatMessages(*controller).size(), shown);
    QVERIFY(!section(*controller, QStringLiteral("support")).value(QStringLiteral("contact")).toMap().isEmpty());
    // The sections the bootstrap does carry were refreshed.
    QVERIFY(controller->experience().contains(QStringLiteral("billing")));
}

// A server (or a middle box) that accepts the stream and drops it 300 ms later:
// the client must not dial faster than its back-off, nor reload more than once
// per reconnect.
void RealtimeTest::droppingRelayIsDialledByBackoff()
{
    StreamRelay relay(QUrl(m_server->baseUrl()).port(), StreamRelay::Mode::Drop);
    QVERIFY(relay.isListening());
    qputenv("TARN_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1").arg(relay.serverPort()).toUtf8());
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(fastTimings());
    controller->signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!relay.dialTimes.isEmpty(), 10000);
    const int bootstrapsBefore = m_server->requestCount(kBootstrapRoute);

    QTest::qWait(12000);
    QVERIFY(controller->loggedIn());
    const QList<qint64> dials = relay.dialTimes;
    // 1 s, 2 s, 4 s after each 300 ms connection: at most five dials in 12 s.
    QVERIFY2(dials.size() <= 5, qPrintable(QStringLiteral("%1 dials").arg(dials.size())));
    QVERIFY(dials.size() >= 3);
    for (int i = 1; i < dials.size(); ++i) {
        const qint64 gap = dials.at(i) - dials.at(i - 1);
        QVERIFY2(gap >= (1000 << (i - 1)), qPrintable(QStringLiteral("dial %1 came %2 ms after the one before").arg(i).arg(gap)));
    }
    const int bootstraps = m_server->requestCount(kBootstrapRoute) - bootstrapsBefore;
    QVERIFY2(bootstraps <= dials.size(), qPrintable(QStringLiteral("%1 bootstraps for %2 dials").arg(bootstraps).arg(dials.size())));
}

// A half-open connection (the relay stops passing bytes once the stream is
// open): the keep-alive notices and the stream is dialled again.
void RealtimeTest::silentStreamIsDroppedAndRedialled()
{
    StreamRelay relay(QUrl(m_server->baseUrl()).port(), StreamRelay::Mode::Swallow);
    QVERIFY(relay.isListening());
    qputenv("TARN_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1").arg(relay.serverPort()).toUtf8());
    auto controller = std::make_unique<AppController>();
    controller->setApiTimingsForTesting(fastTimings());
    controller->setEventKeepAliveForTesting(400, 300);
    controller->signIn(kMemberEmail, kMemberPassword);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(*controller), 10000);
    QCOMPARE(relay.dialTimes.size(), 1);
    // Ping at 400 ms, no answer by 700 ms, redial after the 1 s back-off.
    QTRY_VERIFY_WITH_TIMEOUT(relay.dialTimes.size() >= 2, 8000);
    QVERIFY(controller->loggedIn());
    QVERIFY(!controller->sessionKickDialogVisible());
}

void RealtimeTest::networkReturnDialsAtOnce()
{
    auto controller = signedIn();
    QVERIFY(controller);
    // A stream that answers its ping stays as it is.
    QWebSocket *socket = controller->eventSocket();
    controller->onNetworkReturned();
    QTest::qWait(300);
    QCOMPARE(controller->eventSocket(), socket);
    QVERIFY(streamOpen(*controller));

    controller->eventSocket()->abort();
    QTRY_VERIFY(controller->eventReconnectTimer()->isActive());
    m_server->resetRequestCounts();
    controller->onNetworkReturned();
    QVERIFY(!controller->eventReconnectTimer()->isActive());
    QVERIFY(controller->eventSocket());
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(*controller), 900); // well before the back-off
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ws")), 1);

    // Signed out, nothing dials.
    controller->signOut();
    controller->onNetworkReturned();
    QVERIFY(!controller->eventSocket());
}

void RealtimeTest::reconnectBacksOffAcrossServerRestart()
{
    // A server of its own with its data on disk, so the session outlives the restart.
    QTemporaryDir data;
    DevServer::Options options;
    options.dataDir = data.path();
    DevServerRunner server(options);
    QVERIFY(server.isRunning());
    qputenv("TARN_API_BASE_URL", server.baseUrl().toUtf8());
    auto controller = signedIn();
    QVERIFY(controller);
    QCOMPARE(controller->eventReconnectBackoffMs(), 1000);

    options.port = server.port();
    server.stop();
    QTimer *timer = controller->eventReconnectTimer();
    for (int delay : {1000, 2000, 4000}) {
        QTRY_VERIFY_WITH_TIMEOUT(timer->isActive() && timer->interval() == delay, delay + 4000);
        QVERIFY(!controller->eventSocket() || !streamOpen(*controller));
    }
    // Failed dials reload the bootstrap at most once per waiting period.
    QVERIFY(controller->loggedIn());

    QVERIFY(server.start(options));
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(*controller), 10000);
    // The server's greeting does not start the back-off over: only a
    // connection that stays up for a while does (a server that accepts and
    // drops at once greets too).
    QTest::qWait(300);
    QVERIFY(controller->eventReconnectBackoffMs() > 1000);
    QVERIFY(controller->loggedIn());
    QVERIFY(!timer->isActive());
}

void RealtimeTest::refusedStreamEndsStaleSession()
{
    auto controller = signedIn();
    QVERIFY(controller);
    const QString token = controller->authToken();
    m_server->run([&](DevServer &server) { server.store().revokeSession(token); });
    // The connection drops; the redial is refused with the server's reason.
    controller->eventSocket()->abort();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->loggedIn(), 5000);
    QVERIFY(controller->sessionKickDialogVisible());
    QCOMPARE(controller->sessionKickDialogMessage(), QStringLiteral("您已被踢下线。"));
    QVERIFY(!controller->eventReconnectTimer()->isActive());
}

void RealtimeTest::bootstrapDuringPendingReconnectWaits()
{
    auto controller = signedIn();
    QVERIFY(controller);
    controller->eventSocket()->abort();
    QTRY_VERIFY(controller->eventReconnectTimer()->isActive());
    m_server->resetRequestCounts();
    // An applied bootstrap does not dial past the waiting reconnect.
    controller->loadBootstrap();
    QCOMPARE(m_server->requestCount(kBootstrapRoute), 1);
    QVERIFY(!controller->eventSocket());
    QVERIFY(controller->eventReconnectTimer()->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(*controller), 5000);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ws")), 1);
}

// --- the inbox --------------------------------------------------------------------------

void RealtimeTest::messagesReadOptimisticallyAndAllRead()
{
    auto controller = signedIn();
    QVERIFY(controller);
    // The bootstrap already brings the inbox, so the badge shows at once.
    QVERIFY(unreadCount(*controller) > 0);

    controller->navigate(QStringLiteral("messages"));
    QTRY_COMPARE(m_server->requestCount(kMessagesRoute), 1);
    QTRY_VERIFY(!controller->networkLoading());
    // The server sends its list as "notices" without categories.
    const QVariantMap messages = section(*controller, QStringLiteral("messages"));
    QVERIFY(messages.contains(QStringLiteral("notices")));
    QCOMPARE(messageItems(*controller).size(), messages.value(QStringLiteral("notices")).toList().size());
    QVERIFY(messages.value(QStringLiteral("categories")).toList().size() >= 2);

    const int unread = unreadCount(*controller);
    QString unreadId;
    for (const QVariant &item : messageItems(*controller)) {
        if (!item.toMap().value(QStringLiteral("read")).toBool())
            unreadId = item.toMap().value(QStringLiteral("id")).toString();
    }
    QSignalSpy changed(controller.get(), &AppController::experienceChanged);
    controller->markMessagesRead({unreadId});
    // Marked before the server has answered.
    QCOMPARE(unreadCount(*controller), unread - 1);
    QCOMPARE(changed.count(), 1);
    QTRY_COMPARE(m_server->requestCount(kMessagesRoute), 2);
    QTRY_VERIFY(!controller->networkLoading());
    QCOMPARE(unreadCount(*controller), unread - 1);

    // "全部已读": every listed id.
    QVariantList all;
    for (const QVariant &item : messageItems(*controller))
        all << item.toMap().value(QStringLiteral("id"));
    controller->markMessagesRead(all);
    QCOMPARE(unreadCount(*controller), 0);
    QTRY_COMPARE(m_server->requestCount(kMessagesRoute), 3);
    QTRY_VERIFY(!controller->networkLoading());
    QCOMPARE(unreadCount(*controller), 0);

    // Already read: nothing changes here, the request and the refresh still go out.
    changed.clear();
    controller->markMessagesRead({unreadId});
    QCOMPARE(changed.count(), 0);
    QTRY_COMPARE(m_server->requestCount(kMessagesRoute), 4);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/messages/read")), 3);
}

// --- the support chat -------------------------------------------------------------------

void RealtimeTest::supportRefreshGateAndLoadingFlag()
{
    auto controller = signedIn();
    QVERIFY(controller);
    m_server->setFault(kChatRoute, DevServer::Fault::delayed(300));
    controller->refreshSupportChat();
    QVERIFY(section(*controller, QStringLiteral("support")).value(QStringLiteral("loading")).toBool());
    controller->refreshSupportChat();
    QTRY_VERIFY(!section(*controller, QStringLiteral("support")).value(QStringLiteral("loading")).toBool());
    QTest::qWait(100);
    // Never two at once: the second ask waits for the first and runs after it.
    QCOMPARE(m_server->requestCount(kChatRoute), 2);
    QCOMPARE(chatCount(*controller, QStringLiteral("agent")), 1); // the greeting
    QVERIFY(!section(*controller, QStringLiteral("support")).value(QStringLiteral("contact")).toMap().isEmpty());

    // A failed refresh keeps what was shown.
    m_server->setFault(kChatRoute, DevServer::Fault::withStatus(500, QStringLiteral("boom"), 2));
    controller->refreshSupportChat();
    QTRY_VERIFY_WITH_TIMEOUT(!section(*controller, QStringLiteral("support")).value(QStringLiteral("loading")).toBool(),
                             5000);
    QCOMPARE(chatCount(*controller, QStringLiteral("agent")), 1);

    // Signed out: refused with its message.
    controller->signOut();
    controller->refreshSupportChat();
    QCOMPARE(controller->apiError(), QStringLiteral("请先登录后再查看在线客服。"));
}

void RealtimeTest::supportSendGetsAgentReplyByEvent()
{
    auto controller = signedIn();
    QVERIFY(controller);
    controller->refreshSupportChat();
    QTRY_VERIFY(!chatMessages(*controller).isEmpty());
    const int agentBefore = chatCount(*controller, QStringLiteral("agent"));

    controller->sendSupportChatMessage(QStringLiteral("  无法连接东京节点  "));
    const QVariantList messages = chatMessages(*controller);
    QCOMPARE(messages.last().toMap().value(QStringLiteral("text")).toString(), QStringLiteral("无法连接东京节点"));
    QCOMPARE(chatCount(*controller, QStringLiteral("agent")), agentBefore);
    m_server->resetRequestCounts();
    // The reply arrives by "support_updated"; nothing here asks for it.
    QTRY_COMPARE_WITH_TIMEOUT(chatCount(*controller, QStringLiteral("agent")), agentBefore + 1, 5000);
    QCOMPARE(m_server->requestCount(kChatRoute), 1);

    // An empty message is the server's to refuse.
    controller->sendSupportChatMessage(QStringLiteral("   "));
    QCOMPARE(controller->apiError(), QStringLiteral("请输入消息内容，或先添加图片/视频。"));
}

void RealtimeTest::supportSendIgnoresSecondPressWhileInFlight()
{
    auto controller = signedIn();
    QVERIFY(controller);
    controller->refreshSupportChat();
    QTRY_VERIFY(!chatMessages(*controller).isEmpty());
    const int before = chatCount(*controller, QStringLiteral("user"));
    m_server->setFault(kChatRoute, DevServer::Fault::delayed(300));
    // A second press lands while the first send waits in its nested loop.
    QTimer::singleShot(50, controller.get(),
                       [&] { controller->sendSupportChatMessage(QStringLiteral("double click")); });
    controller->sendSupportChatMessage(QStringLiteral("double click"));
    QTest::qWait(400);
    controller->refreshSupportChat();
    QTRY_VERIFY(!section(*controller, QStringLiteral("support")).value(QStringLiteral("loading")).toBool());
    QCOMPARE(chatCount(*controller, QStringLiteral("user")), before + 1);
}

void RealtimeTest::supportUpload_data()
{
    QTest::addColumn<qint64>("size"); // -1: no such file
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("error");

    QTest::newRow("small file with awkward name") << qint64(2048) << true << "";
    QTest::newRow("over the server's limit") << qint64(4 * 1024 * 1024 + 1) << false
                                             << Api::friendlyErrorMessage(QStringLiteral("file too large"), 413);
    QTest::newRow("missing file") << qint64(-1) << false << "未找到要上传的文件。";
}

void RealtimeTest::supportUpload()
{
    QFETCH(qint64, size);
    QFETCH(bool, accepted);
    QFETCH(QString, error);
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        QSKIP("no curl on the search path");
    auto controller = signedIn();
    QVERIFY(controller);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("截图;type=text,1.png"));
    if (size >= 0)
        QVERIFY(writeFile(path, QByteArray(size, 'x')));
    const QVariantMap attachment = controller->uploadSupportMedia(QUrl::fromLocalFile(path).toString());
    QCOMPARE(!attachment.isEmpty(), accepted);
    if (accepted) {
        QCOMPARE(attachment.value(QStringLiteral("name")).toString(), QFileInfo(path).fileName());
        QCOMPARE(attachment.value(QStringLiteral("size")).toLongLong(), size);
        QVERIFY(!attachment.value(QStringLiteral("id")).toString().isEmpty());
        QVERIFY(controller->apiError().isEmpty());
        // The attachment goes with the next message.
        controller->sendSupportChatMessage(QString(), {attachment});
        QCOMPARE(chatMessages(*controller).last().toMap().value(QStringLiteral("attachments")).toList().size(), 1);
    } else {
        QCOMPARE(controller->apiError(), error);
    }
    QVERIFY(controller->loggedIn());
    QVERIFY(!controller->networkLoading());
}

void RealtimeTest::supportUploadKeepsTokenOffCommandLine()
{
    const QString realCurl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (realCurl.isEmpty())
        QSKIP("no curl on the search path");
    auto controller = signedIn();
    QVERIFY(controller);

    QTemporaryDir bin;
    const QString script = curlRecorderScript(realCurl);
    QVERIFY(writeFile(bin.filePath(QStringLiteral("curl")), script.toUtf8()));
    QFile(bin.filePath(QStringLiteral("curl")))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + m_originalPath);

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("clip.mp4")), QByteArray(1000, 'v')));
    const QVariantMap attachment = controller->uploadSupportMedia(dir.filePath(QStringLiteral("clip.mp4")));
    QVERIFY2(!attachment.isEmpty(), qPrintable(controller->apiError()));

    const QString log = QString::fromUtf8(fileBytes(bin.filePath(QStringLiteral("calls.log"))));
    QVERIFY2(log.contains(QLatin1String("arg:-K\n")), qPrintable(log));
    QVERIFY(log.contains(QLatin1String("config-mode:600\n")));
    QVERIFY2(!log.contains(controller->authToken()), "the token reached curl's command line");
    QVERIFY(!log.contains(QLatin1String("Authorization"), Qt::CaseInsensitive));
    const qsizetype at = log.indexOf(QLatin1String("config-path:"));
    const QString configPath = log.mid(at + 12).section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(!QFile::exists(configPath), "the credentials file outlived curl");
}

void RealtimeTest::supportUploadRefusesLinks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link named like a picture to a private file") << "symlink";
    QTest::newRow("link to a directory") << "dirlink";
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("windows shortcut") << "shortcut";
}

// Only the file the user picked goes out: never what a link or a shortcut
// points at, never a pipe or a device.
void RealtimeTest::supportUploadRefusesLinks()
{
    QFETCH(QString, kind);
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        QSKIP("no curl on the search path");
    auto controller = signedIn();
    QVERIFY(controller);
    QTemporaryDir dir;
    const QString secret = dir.filePath(QStringLiteral("id_private"));
    QVERIFY(writeFile(secret, "private key material\n"));
    QString path = dir.filePath(QStringLiteral("screenshot.png"));
    if (kind == QLatin1String("symlink")) {
        QVERIFY(QFile::link(secret, path));
    } else if (kind == QLatin1String("dirlink")) {
        QVERIFY(QFile::link(dir.path(), path));
    } else if (kind == QLatin1String("fifo")) {
        QProcess mkfifo;
        mkfifo.start(QStringLiteral("mkfifo"), {path});
        if (!mkfifo.waitForFinished(5000) || mkfifo.exitCode() != 0)
            QSKIP("no mkfifo here");
    } else {
        path = dir.filePath(QStringLiteral("screenshot.png.lnk"));
        QVERIFY(writeFile(path, QByteArray("L\0\0\0", 4) + QByteArray(200, '\1')));
    }
    m_server->resetRequestCounts();
    const QVariantMap attachment = controller->uploadSupportMedia(QUrl::fromLocalFile(path).toString());
    QVERIFY(attachment.isEmpty());
    QCOMPARE(controller->apiError(), QStringLiteral("只能上传文件本身，不能上传快捷方式、链接或特殊文件。"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/support/media")), 0);
}

void RealtimeTest::eventDuringRefreshRunsItAgain_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("route");
    QTest::newRow("support_updated twice") << R"({"type":"support_updated"})" << kChatRoute;
    QTest::newRow("message_updated twice") << R"({"type":"message_updated"})" << kMessagesRoute;
}

// A change announced while its section is being read is not lost: the read
// runs once more when the first one is back (and only once, however many came).
void RealtimeTest::eventDuringRefreshRunsItAgain()
{
    QFETCH(QString, event);
    QFETCH(QString, route);
    auto controller = signedIn();
    QVERIFY(controller);
    m_server->setFault(route, DevServer::Fault::delayed(400));
    m_server->resetRequestCounts();
    controller->handleRealtimeEvent(QString(), event);
    QTest::qWait(100);
    controller->handleRealtimeEvent(QString(), event);
    controller->handleRealtimeEvent(QString(), event);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(route), 2, 5000);
    QTRY_VERIFY(!controller->networkLoading());
    QTest::qWait(500);
    QCOMPARE(m_server->requestCount(route), 2);
    if (route == kChatRoute) {
        QVERIFY(!section(*controller, QStringLiteral("support")).value(QStringLiteral("loading")).toBool());
        QVERIFY(!chatMessages(*controller).isEmpty());
    }
}

// --- diagnostics ------------------------------------------------------------------------

void RealtimeTest::diagnosticUploadSendsTailAndKeepsNewLines()
{
    auto controller = signedIn();
    QVERIFY(controller);
    const QString path = DiagnosticLog::desktopDiagnosticLogPath();
    QVERIFY(path.startsWith(m_env->logDirectory()));

    // 600 KiB of numbered lines.
    QByteArray log;
    for (int line = 0; log.size() < 600 * 1024; ++line)
        log += QStringLiteral("[2026-01-01T00:00:00] line %1 of the old log\n").arg(line, 6, 10, QLatin1Char('0')).toUtf8();
    QVERIFY(writeFile(path, log));
    const int before = storedDiagnosticLogs();

    // A line written while the upload is on its way stays behind.
    m_server->setFault(QStringLiteral("/api/v1/diagnostic-logs"), DevServer::Fault::delayed(300));
    controller->uploadDiagnosticLog();
    const QByteArray snapshot = fileBytes(path);
    QTimer::singleShot(100, controller.get(),
                       [&] { controller->engineController()->appendDiagnosticLog(QStringLiteral("written meanwhile\n")); });
    QTRY_COMPARE_WITH_TIMEOUT(controller->apiError(), QStringLiteral("日志已上传"), 5000);

    QString stored;
    QCOMPARE(storedDiagnosticLogs(&stored), before + 1);
    QCOMPARE(stored, QString::fromUtf8(snapshot.right(DiagnosticUpload::kUploadLimitBytes)).trimmed());
    QVERIFY(stored.endsWith(QLatin1String("Diagnostic upload requested from About version tap.")));
    // What was sent is gone; the start that did not fit and the line written
    // meanwhile stay.
    const QString firstLine = QStringLiteral("line 000000 of the old log");
    const QString lastOld = QString::fromUtf8(log).trimmed().section(QLatin1Char('\n'), -1);
    const QString left = QString::fromUtf8(fileBytes(path));
    QVERIFY2(left.contains(QLatin1String("written meanwhile")) && left.contains(firstLine)
                 && !left.contains(lastOld),
             qPrintable(left.right(400)));
    QVERIFY(!stored.contains(firstLine));

    // Uploaded again: the rest goes, nothing sent twice.
    controller->uploadDiagnosticLog();
    QTRY_COMPARE(storedDiagnosticLogs(&stored), before + 2);
    QVERIFY(stored.contains(QLatin1String("written meanwhile")));
    QVERIFY(stored.contains(firstLine));
    QVERIFY(!stored.contains(lastOld));
    QTRY_VERIFY(!QFile::exists(path));

    // Nothing new since: no log to send.
    controller->uploadDiagnosticLog();
    QCOMPARE(controller->apiError(), QStringLiteral("未发现日志"));
    QTest::qWait(100);
    QCOMPARE(storedDiagnosticLogs(), before + 2);

    controller->signOut();
    controller->uploadDiagnosticLog();
    QCOMPARE(controller->apiError(), QStringLiteral("请先登录后再上传日志。"));
}

void RealtimeTest::diagnosticUploadAlwaysFinishes_data()
{
    QTest::addColumn<int>("failures"); // answered 500 this many times
    QTest::addColumn<bool>("success");
    QTest::newRow("the same failure twice") << 2 << false;
    QTest::newRow("a failure, then success") << 1 << true;
}

// The About panel waits for the end of every upload: a second failure with
// the same text must end it too.
void RealtimeTest::diagnosticUploadAlwaysFinishes()
{
    QFETCH(int, failures);
    QFETCH(bool, success);
    auto controller = signedIn();
    QVERIFY(controller);
    QVERIFY(writeFile(DiagnosticLog::desktopDiagnosticLogPath(), "[t] something worth sending\n"));
    m_server->setFault(QStringLiteral("/api/v1/diagnostic-logs"),
                       DevServer::Fault::withStatus(500, QStringLiteral("cannot store log"), failures));
    QSignalSpy finished(controller.get(), &AppController::diagnosticUploadFinished);
    QVERIFY(finished.isValid());
    controller->uploadDiagnosticLog();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    const QString firstText = controller->apiError();
    controller->uploadDiagnosticLog();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
    QCOMPARE(finished.at(1).at(0).toBool(), success);
    if (!success)
        QCOMPARE(controller->apiError(), firstText);
    else
        QCOMPARE(finished.at(1).at(1).toString(), QStringLiteral("日志已上传"));
    // A refusal ends at once.
    controller->signOut();
    controller->uploadDiagnosticLog();
    QCOMPARE(finished.count(), 3);
    QCOMPARE(finished.at(2).at(1).toString(), QStringLiteral("请先登录后再上传日志。"));
}

void RealtimeTest::clearCachedLogsRemovesFiles()
{
    auto controller = std::make_unique<AppController>();
    const QString dir = DiagnosticLog::desktopLogDir();
    QCOMPARE(dir, m_env->logDirectory());
    QVERIFY(writeFile(QDir(dir).filePath(QStringLiteral("desktop-controller.log")), "a\n"));
    QVERIFY(writeFile(QDir(dir).filePath(QStringLiteral("sing-box.log")), "b\n"));
    QVERIFY(writeFile(QDir(dir).filePath(QStringLiteral("desktop.log")), "c\n"));
    controller->clearCachedLogs();
    QCOMPARE(controller->apiError(), QStringLiteral("缓存已清理"));
    QVERIFY(!QFile::exists(QDir(dir).filePath(QStringLiteral("desktop-controller.log"))));
    QVERIFY(!QFile::exists(QDir(dir).filePath(QStringLiteral("sing-box.log"))));
    QVERIFY(QFile::exists(QDir(dir).filePath(QStringLiteral("desktop.log"))));
    // Already gone counts as cleared.
    controller->clearCachedLogs();
    QCOMPARE(controller->apiError(), QStringLiteral("缓存已清理"));
}

namespace {

QStringList logTexts(const QString &root)
{
    QStringList texts;
    QDirIterator files(root, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        if (file.endsWith(QLatin1String(".log")))
            texts << QString::fromUtf8(fileBytes(file));
    }
    return texts;
}

} // namespace

void RealtimeTest::logsNeverHoldSecrets()
{
    // Qt's own messages go to desktop.log as in the program; the backend's
    // "[mail]" lines are its own log's (it runs in this process only here).
    Startup::g_startupLogPath = QDir(m_env->logDirectory()).filePath(QStringLiteral("desktop.log"));
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (!message.startsWith(QLatin1String("[mail]")))
                Startup::startupMessageHandler(type, context, message);
        });
    const auto restore = qScopeGuard([&] {
        qInstallMessageHandler(previous);
        Startup::g_startupLogPath.clear();
    });

    // Sign-in by password, then by e-mail code, a connection attempt, a chat
    // message, an upload; then no log file may hold a secret.
    auto controller = signedIn();
    QVERIFY(controller);
    const QString firstToken = controller->authToken();
    controller->signOut();
    QVERIFY(!controller->loggedIn());

    QCOMPARE(controller->sendVerificationCode(kMemberEmail, QStringLiteral("login")), QStringLiteral("sent"));
    const QString code = m_server->lastMailCode(kMemberEmail);
    QVERIFY(!code.isEmpty());
    controller->signInWithCode(kMemberEmail, code);
    QTRY_VERIFY_WITH_TIMEOUT(controller->loggedIn() && !controller->busy(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(streamOpen(*controller), 10000);
    const QString token = controller->authToken();

    controller->requestDashboardConnectionToggle();
    QTRY_VERIFY_WITH_TIMEOUT(controller->vpnPhase() == QLatin1String("failed")
                                 || controller->vpnPhase() == QLatin1String("connected")
                                 || controller->vpnPhase() == QLatin1String("disconnected"),
                             60000);
    controller->sendSupportChatMessage(QStringLiteral("hello"));
    controller->changePassword(QStringLiteral("wrong-current-password"), QStringLiteral("Another-pass-2026"));
    qWarning("a Qt message for desktop.log");
    QStringList texts = logTexts(m_env->root());
    QVERIFY(texts.size() >= 2);
    controller->uploadDiagnosticLog();
    QTRY_COMPARE_WITH_TIMEOUT(controller->apiError(), QStringLiteral("日志已上传"), 10000);
    QString uploaded;
    storedDiagnosticLogs(&uploaded);
    QVERIFY(uploaded.contains(QLatin1String("WebSocket desktop event stream connected.")));
    texts << uploaded << logTexts(m_env->root());

    const QStringList secrets{firstToken, token, kMemberPassword, code, QStringLiteral("wrong-current-password"),
                              QStringLiteral("Another-pass-2026")};
    for (const QString &text : std::as_const(texts)) {
        for (const QString &secret : secrets)
            QVERIFY2(!text.contains(secret), qPrintable(QStringLiteral("a log holds a secret: %1").arg(text.mid(text.indexOf(secret) - 200, 260))));
    }
}

QTEST_GUILESS_MAIN(RealtimeTest)
#include "tst_realtime.moc"
