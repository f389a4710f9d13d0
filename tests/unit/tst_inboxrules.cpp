#include "api/curlupload.h"
#include "model/diagnosticupload.h"
#include "model/eventstream.h"
#include "model/inbox.h"
#include "tunnel/diagnosticlog.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QVariantMap json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).toVariant().toMap();
}

} // namespace

// The pure rules behind the inbox, the support chat, the event stream and the
// diagnostic upload.
class InboxRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messagesNormalization_data();
    void messagesNormalization();
    void markRead_data();
    void markRead();
    void supportMerge_data();
    void supportMerge();
    void openableLinks_data();
    void openableLinks();
    void eventParsing_data();
    void eventParsing();
    void backoffSequence();
    void socketErrorVerdict_data();
    void socketErrorVerdict();
    void streamRequest_data();
    void streamRequest();
    void uploadRemainder_data();
    void uploadRemainder();
    void logTailAndRemoval();
    void uploadBodyKeys();
    void curlUploadArguments();
    void logDirectoryOverride();
};

void InboxRulesTest::messagesNormalization_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<int>("items");
    QTest::addColumn<QStringList>("categories");

    QTest::newRow("items and categories as sent")
        << R"({"items":[{"id":1,"category":"a"}],"categories":["x","y"]})" << 1 << QStringList{"x", "y"};
    QTest::newRow("notices, categories gathered in order, once")
        << R"({"notices":[{"id":1,"category":" b "},{"id":2,"category":"a"},{"id":3,"category":"b"},{"id":4}]})" << 4
        << QStringList{"b", "a"};
    QTest::newRow("empty items fall through to messages")
        << R"({"items":[],"messages":[{"id":1,"category":"x"}],"notices":[{"id":2}]})" << 1 << QStringList{"x"};
    QTest::newRow("records; tabs stand for categories") << R"({"records":[{"id":1}],"tabs":["t"]})" << 1 << QStringList{"t"};
    QTest::newRow("case-sensitive categories")
        << R"({"items":[{"category":"News"},{"category":"news"}]})" << 2 << QStringList{"News", "news"};
    QTest::newRow("nothing at all") << R"({"unread":0})" << 0 << QStringList{};
}

void InboxRulesTest::messagesNormalization()
{
    QFETCH(QString, section);
    QFETCH(int, items);
    QFETCH(QStringList, categories);
    const QVariantMap input = json(section.toUtf8());
    const QVariantMap normalized = Inbox::normalizedMessagesSection(input);
    QCOMPARE(normalized.value(QStringLiteral("items")).toList().size(), items);
    QCOMPARE(normalized.value(QStringLiteral("categories")).toStringList(), categories);
    // Other keys stay as sent.
    for (auto it = input.cbegin(); it != input.cend(); ++it) {
        if (it.key() != QLatin1String("items") && it.key() != QLatin1String("categories"))
            QCOMPARE(normalized.value(it.key()), it.value());
    }
}

void InboxRulesTest::markRead_data()
{
    QTest::addColumn<QVariantList>("ids");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("readFlags");

    QTest::newRow("one unread") << QVariantList{"m2"} << true << "110";
    QTest::newRow("number id matched as text") << QVariantList{3} << true << "101";
    QTest::newRow("trimmed ids, blanks ignored") << QVariantList{" m2 ", "", "3"} << true << "111";
    QTest::newRow("already read changes nothing") << QVariantList{"m1"} << false << "100";
    QTest::newRow("unknown id changes nothing") << QVariantList{"zz"} << false << "100";
}

void InboxRulesTest::markRead()
{
    QFETCH(QVariantList, ids);
    QFETCH(bool, changed);
    QFETCH(QString, readFlags);
    const QVariantMap section = json(R"({"items":[{"id":"m1","read":true},{"id":"m2","read":false},{"id":3}],"x":1})");
    bool didChange = !changed;
    const QVariantMap marked = Inbox::messagesMarkedRead(section, ids, &didChange);
    QCOMPARE(didChange, changed);
    QString flags;
    for (const QVariant &item : marked.value(QStringLiteral("items")).toList())
        flags += item.toMap().value(QStringLiteral("read")).toBool() ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(flags, readFlags);
    QCOMPARE(marked.value(QStringLiteral("x")).toInt(), 1);
    if (!changed)
        QCOMPARE(marked, section);
}

void InboxRulesTest::supportMerge_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<QString>("conversation");
    QTest::addColumn<QString>("contact");

    const QString oldChat = R"({"id":"old"})";
    const QString oldContact = R"({"email":"old@x"})";
    QTest::newRow("nested under data") << R"({"data":{"conversation":{"id":"c1"},"contact":{"email":"e@x"}}})"
                                       << R"({"id":"c1"})" << R"({"email":"e@x"})";
    QTest::newRow("payload holds the chat itself") << R"({"payload":{"chat_id":"c2","messages":[]}})"
                                                   << R"({"chat_id":"c2","messages":[]})" << oldContact;
    QTest::newRow("contact-only answer keeps the conversation") << R"({"data":{"email":"new@x"}})" << oldChat
                                                                << R"({"email":"new@x"})";
    QTest::newRow("session and channels") << R"({"session":{"id":"c4"},"channels":{"tg":"@q"}})" << R"({"id":"c4"})"
                                          << R"({"tg":"@q"})";
    QTest::newRow("empty data falls back to the answer") << R"({"data":{},"support_chat":{"id":"c5"}})"
                                                         << R"({"id":"c5"})" << oldContact;
    QTest::newRow("unrelated answer changes nothing") << R"({"ok":true})" << oldChat << oldContact;
    QTest::newRow("empty answer changes nothing") << R"({})" << oldChat << oldContact;
}

void InboxRulesTest::supportMerge()
{
    QFETCH(QString, response);
    QFETCH(QString, conversation);
    QFETCH(QString, contact);
    const QVariantMap section = json(R"({"loading":false,"conversation":{"id":"old"},"contact":{"email":"old@x"}})");
    const QVariantMap merged = Inbox::mergedSupportSection(section, json(response.toUtf8()));
    QCOMPARE(merged.value(QStringLiteral("conversation")).toMap(), json(conversation.toUtf8()));
    QCOMPARE(merged.value(QStringLiteral("contact")).toMap(), json(contact.toUtf8()));
    QCOMPARE(merged.value(QStringLiteral("loading")), QVariant(false));
}

void InboxRulesTest::openableLinks_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("openable");

    QTest::newRow("https") << "https://quillet.invalid/help" << true;
    QTest::newRow("http, padded") << "  http://example.com/a?b=1 " << true;
    QTest::newRow("upper-case scheme") << "HTTPS://example.com" << true;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("custom scheme") << "quillet://pay" << false;
    QTest::newRow("no host") << "https:///path" << false;
    QTest::newRow("relative") << "/api/v1/x" << false;
    QTest::newRow("empty") << "" << false;
}

void InboxRulesTest::openableLinks()
{
    QFETCH(QString, url);
    QFETCH(bool, openable);
    QCOMPARE(Inbox::isOpenableLink(url), openable);
}

void InboxRulesTest::eventParsing_data()
{
    QTest::addColumn<QString>("givenType");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("message");

    using A = EventStream::Action;
    QTest::newRow("connected") << "" << R"({"type":"connected"})" << int(A::ResetBackoff) << "";
    QTest::newRow("upper-case session expired") << "" << R"({"type":" SESSION_EXPIRED "})" << int(A::ForcedLogout) << "";
    QTest::newRow("revoked with message") << "" << R"({"type":"device_revoked","message":" bye "})" << int(A::ForcedLogout)
                                          << "bye";
    QTest::newRow("forced_logout") << "" << R"({"type":"forced_logout"})" << int(A::ForcedLogout) << "";
    QTest::newRow("session_revoked") << "" << R"({"type":"session_revoked"})" << int(A::ForcedLogout) << "";
    for (const char *type : {"payment_updated", "membership_updated", "order_updated", "bootstrap_updated", "device_updated"})
        QTest::newRow(type) << "" << QStringLiteral(R"({"type":"%1"})").arg(QLatin1String(type)) << int(A::ReloadBootstrap) << "";
    QTest::newRow("support") << "" << R"({"type":"support_updated"})" << int(A::RefreshSupport) << "";
    QTest::newRow("messages") << "" << R"({"type":"message_updated"})" << int(A::RefreshMessages) << "";
    QTest::newRow("plain text") << "" << "hello" << int(A::None) << "";
    QTest::newRow("no type") << "" << R"({"message":"x"})" << int(A::None) << "x";
    QTest::newRow("given type, no JSON") << "kicked_out" << "not json" << int(A::ForcedLogout) << "";
    QTest::newRow("given type, JSON without type") << "message_updated" << R"({"a":1})" << int(A::RefreshMessages) << "";
    QTest::newRow("JSON type wins") << "message_updated" << R"({"type":"support_updated"})" << int(A::RefreshSupport) << "";
    QTest::newRow("number type") << "" << R"({"type":7})" << int(A::None) << "";
}

void InboxRulesTest::eventParsing()
{
    QFETCH(QString, givenType);
    QFETCH(QString, payload);
    QFETCH(int, action);
    QFETCH(QString, message);
    const EventStream::Event event = EventStream::parseEvent(givenType, payload);
    QCOMPARE(int(event.action), action);
    QCOMPARE(event.message, message);
}

void InboxRulesTest::backoffSequence()
{
    QList<int> delays;
    int backoff = EventStream::kInitialBackoffMs;
    for (int i = 0; i < 9; ++i) {
        const int delay = EventStream::reconnectDelay(backoff);
        delays << delay;
        backoff = EventStream::nextBackoff(delay);
    }
    QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
    QCOMPARE(EventStream::reconnectDelay(0), 1000);
    QCOMPARE(EventStream::reconnectDelay(1000000), 60000);
    // Reset after a drop only when the connection had lasted.
    QCOMPARE(EventStream::backoffAfterDisconnect(16000, -1), 16000);
    QCOMPARE(EventStream::backoffAfterDisconnect(16000, 200), 16000);
    QCOMPARE(EventStream::backoffAfterDisconnect(16000, EventStream::kStableConnectionMs), 1000);
}

void InboxRulesTest::socketErrorVerdict_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("endsSession");

    using S = QAbstractSocket;
    QTest::newRow("proxy wants credentials") << int(S::ProxyAuthenticationRequiredError) << "Authentication required"
                                             << false;
    QTest::newRow("proxy refused") << int(S::ProxyConnectionRefusedError) << "Proxy connection refused" << false;
    QTest::newRow("proxy closed") << int(S::ProxyConnectionClosedError) << "Proxy connection closed prematurely"
                                  << false;
    QTest::newRow("proxy 407 through the handshake")
        << int(S::ConnectionRefusedError)
        << "QWebSocketPrivate::processHandshake: Unhandled http status code: 407 (Proxy Authentication Required)."
        << false;
    QTest::newRow("transport says unauthorized") << int(S::RemoteHostClosedError) << "unauthorized host closed"
                                                 << false;
    QTest::newRow("network down") << int(S::NetworkError) << "Network unreachable" << false;
    QTest::newRow("server refuses with 401")
        << int(S::ConnectionRefusedError)
        << "QWebSocketPrivate::processHandshake: Unhandled http status code: 401 (Unauthorized)." << true;
    QTest::newRow("server 403 naming the session")
        << int(S::ConnectionRefusedError) << "Unhandled http status code: 403 (session revoked)." << true;
    QTest::newRow("server 403 other") << int(S::ConnectionRefusedError)
                                      << "Unhandled http status code: 403 (Forbidden)." << false;
    QTest::newRow("server 502") << int(S::ConnectionRefusedError) << "Unhandled http status code: 502 (Bad Gateway)."
                                << false;
}

void InboxRulesTest::socketErrorVerdict()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QFETCH(bool, endsSession);
    QCOMPARE(EventStream::socketErrorEndsSession(QAbstractSocket::SocketError(error), text, true), endsSession);
    QVERIFY(!EventStream::socketErrorEndsSession(QAbstractSocket::SocketError(error), text, false));
}

void InboxRulesTest::streamRequest_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("url");

    QTest::newRow("https becomes wss") << "https://api.example.com/tarn-api" << "wss://api.example.com/tarn-api/api/v1/ws";
    QTest::newRow("http becomes ws") << " http://127.0.0.1:8080 " << "ws://127.0.0.1:8080/api/v1/ws";
    QTest::newRow("upper-case scheme") << "HTTPS://h" << "wss://h/api/v1/ws";
}

void InboxRulesTest::streamRequest()
{
    QFETCH(QString, base);
    QFETCH(QString, url);
    EventStream::StreamIdentity identity;
    identity.apiBaseUrl = base;
    identity.token = QStringLiteral("tok");
    identity.acceptLanguage = QStringLiteral("en-US,en;q=0.9");
    identity.platform = QStringLiteral("linux");
    identity.deviceId = QStringLiteral(" dev-1 ");
    identity.appVersion = QStringLiteral("1.2.3");
    identity.userAgent = QStringLiteral("Quillet/1.2.3");
    const QNetworkRequest request = EventStream::streamRequest(identity);
    QCOMPARE(request.url().toString(), url);
    QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer tok"));
    QCOMPARE(request.rawHeader("Accept-Language"), QByteArray("en-US,en;q=0.9"));
    QCOMPARE(request.rawHeader("X-Tarn-Client-Platform"), QByteArray("linux"));
    QCOMPARE(request.rawHeader("X-Tarn-Device-ID"), QByteArray("dev-1"));
    QCOMPARE(request.rawHeader("X-Tarn-App-Version"), QByteArray("1.2.3"));
    QCOMPARE(request.rawHeader("X-Tarn-Build"), QByteArray("1.2.3"));
    QCOMPARE(request.header(QNetworkRequest::UserAgentHeader).toString(), QStringLiteral("Quillet/1.2.3"));
    QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(), 1);
    QCOMPARE(request.attribute(QNetworkRequest::CacheLoadControlAttribute).toInt(), 0);
}

void InboxRulesTest::uploadRemainder_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QByteArray>("uploaded");
    QTest::addColumn<QByteArray>("remainder");

    QTest::newRow("nothing new") << QByteArray("a\nb\n") << QByteArray("a\nb\n") << QByteArray();
    QTest::newRow("lines appended since") << QByteArray("a\nb\nc\n") << QByteArray("a\nb\n") << QByteArray("c\n");
    // Only what was sent goes: the start of a long log that did not fit stays.
    QTest::newRow("tail of a longer file sent") << QByteArray("old\nb\nc\nd\n") << QByteArray("b\nc\n")
                                                << QByteArray("old\nd\n");
    QTest::newRow("tail sent, nothing new") << QByteArray("old\nolder\nb\nc\n") << QByteArray("b\nc\n")
                                            << QByteArray("old\nolder\n");
    QTest::newRow("file replaced meanwhile: all kept") << QByteArray("x\ny\n") << QByteArray("a\nb\n") << QByteArray("x\ny\n");
    QTest::newRow("nothing sent") << QByteArray("x\n") << QByteArray() << QByteArray("x\n");
}

void InboxRulesTest::uploadRemainder()
{
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, uploaded);
    QFETCH(QByteArray, remainder);
    QCOMPARE(DiagnosticUpload::remainderAfterUpload(current, uploaded), remainder);
}

void InboxRulesTest::logTailAndRemoval()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("desktop-controller.log"));
    const auto write = [&](const QByteArray &bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    // Exactly the limit: whole; one byte more: the last limit bytes.
    const QByteArray exact(DiagnosticUpload::kUploadLimitBytes, 'a');
    write(exact);
    QCOMPARE(DiagnosticUpload::readLogTail(path), exact);
    write("b" + exact);
    QCOMPARE(DiagnosticUpload::readLogTail(path), exact);
    QVERIFY(DiagnosticUpload::readLogTail(dir.filePath(QStringLiteral("missing"))).isEmpty());

    // Only the upload's own lines came after it: the file goes.
    write("[t] one\n[t] API Qt POST /api/v1/diagnostic-logs status=200 detail=success\n");
    QVERIFY(DiagnosticUpload::removeUploadedPart(path, "[t] one\n"));
    QVERIFY(!QFile::exists(path));
    // Real lines came after it: they stay, the upload's own lines go.
    write("[t] one\n[t] Diagnostic upload requested from About version tap.\n[t] two\n");
    QVERIFY(DiagnosticUpload::removeUploadedPart(path, "[t] one\n"));
    QFile left(path);
    QVERIFY(left.open(QIODevice::ReadOnly));
    QCOMPARE(left.readAll(), QByteArray("[t] two\n"));
    QVERIFY(DiagnosticUpload::hasDiagnosticContent("[t] two\n"));
    QVERIFY(!DiagnosticUpload::hasDiagnosticContent("[t] Diagnostic upload requested from About version tap.\n"));
}

void InboxRulesTest::uploadBodyKeys()
{
    DiagnosticUpload::UploadContext context;
    context.deviceId = QStringLiteral("dev");
    context.deviceName = QStringLiteral("box");
    context.platform = QStringLiteral("Linux");
    context.apiBaseUrl = QStringLiteral("http://h");
    context.vpnPhase = QStringLiteral("connected");
    context.nodeId = QStringLiteral("jp-1");
    context.engineRunning = true;
    const QVariantMap body = DiagnosticUpload::uploadBody(context, QStringLiteral("log text"));
    QCOMPARE(body.keys(), (QStringList{"app_version", "build_number", "device_id", "device_model", "file_name", "log",
                                       "network_env", "platform"}));
    QCOMPARE(body.value(QStringLiteral("app_version")).toString(), QStringLiteral("0.9.0"));
    QCOMPARE(body.value(QStringLiteral("network_env")).toString(),
             QStringLiteral("api=http://h; vpn_phase=connected; node=jp-1; running=true"));
    QVERIFY(body.value(QStringLiteral("device_model")).toString().endsWith(QLatin1String(" / box")));
    QCOMPARE(body.value(QStringLiteral("file_name")).toString(), QStringLiteral("quillet-desktop-diagnostic.log"));
}

void InboxRulesTest::curlUploadArguments()
{
    Api::CurlUploadRequest request;
    request.url = QStringLiteral("http://h/api/v1/support/media");
    request.acceptLanguage = QStringLiteral("zh-CN");
    request.userAgent = QStringLiteral("UA");
    request.filePath = QStringLiteral("/tmp/a;type=text/html,\"b\\.png");
    const QStringList withToken = Api::curlUploadArguments(request, QStringLiteral("/tmp/cfg"));
    QCOMPARE(withToken.mid(0, 7), (QStringList{"--http1.1", "-sS", "-L", "--noproxy", "*", "-X", "POST"}));
    QCOMPARE(withToken.at(withToken.indexOf(QStringLiteral("-F")) + 1),
             QStringLiteral("file=@\"/tmp/a;type=text/html,\\\"b\\\\.png\""));
    QCOMPARE(withToken.at(withToken.indexOf(QStringLiteral("--max-time")) + 1), QStringLiteral("60"));
    QCOMPARE(withToken.mid(withToken.size() - 3), (QStringList{request.url, "-K", "/tmp/cfg"}));
    const QStringList withoutToken = Api::curlUploadArguments(request, QString());
    QCOMPARE(withoutToken.last(), request.url);
    QVERIFY(!withoutToken.join(QLatin1Char(' ')).contains(QLatin1String("Authorization")));
}

void InboxRulesTest::logDirectoryOverride()
{
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("QUILLET_LOG_DIR");
    const QString logs = dir.filePath(QStringLiteral("nested/logs"));
    qputenv("QUILLET_LOG_DIR", logs.toLocal8Bit());
    QCOMPARE(DiagnosticLog::desktopLogDir(), logs);
    QCOMPARE(DiagnosticLog::desktopDiagnosticLogPath(), logs + QStringLiteral("/desktop-controller.log"));
    // Unwritable: no log at all rather than one beside the programs.
    QFile blocker(dir.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("QUILLET_LOG_DIR", dir.filePath(QStringLiteral("blocked/logs")).toLocal8Bit());
    QVERIFY(DiagnosticLog::desktopLogDir().isEmpty());
    qputenv("QUILLET_LOG_DIR", saved);
}

QTEST_GUILESS_MAIN(InboxRulesTest)
#include "tst_inboxrules.moc"
