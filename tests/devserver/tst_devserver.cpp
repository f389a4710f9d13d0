#include "client/api/backendcontract.h"
#include "devserver/devserverrunner.h"
#include "testenvironment.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <openssl/evp.h>

namespace {

struct Answer
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    qint64 elapsedMs = 0;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    bool isJsonObject() const { return QJsonDocument::fromJson(body).isObject(); }
    QString errorText() const { return json().value(QStringLiteral("error")).toString(); }
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

// Opens an envelope with OpenSSL directly, without the server's code.
QByteArray openEnvelope(const QJsonObject &envelope, const QString &token)
{
    const QByteArray key
        = QCryptographicHash::hash(QByteArray(Backend::kPayloadKeyLabel) + token.toUtf8(), QCryptographicHash::Sha256);
    const QByteArray nonce = QByteArray::fromBase64(envelope.value(QStringLiteral("nonce")).toString().toLatin1());
    const QByteArray payload = QByteArray::fromBase64(envelope.value(QStringLiteral("payload")).toString().toLatin1());
    if (payload.size() < 17 || nonce.isEmpty())
        return {};
    const QByteArray cipher = payload.left(payload.size() - 16);
    QByteArray tag = payload.right(16);

    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    QByteArray plain(cipher.size(), Qt::Uninitialized);
    int written = 0;
    int finalBytes = 0;
    const bool ok = EVP_DecryptInit_ex(context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) == 1
        && EVP_DecryptInit_ex(context, nullptr, nullptr, reinterpret_cast<const unsigned char *>(key.constData()),
               reinterpret_cast<const unsigned char *>(nonce.constData()))
            == 1
        && EVP_DecryptUpdate(context, reinterpret_cast<unsigned char *>(plain.data()), &written,
               reinterpret_cast<const unsigned char *>(cipher.constData()), int(cipher.size()))
            == 1
        && EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, 16, tag.data()) == 1
        && EVP_DecryptFinal_ex(context, reinterpret_cast<unsigned char *>(plain.data()) + written, &finalBytes) == 1;
    EVP_CIPHER_CTX_free(context);
    return ok ? plain.left(written + finalBytes) : QByteArray();
}

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class DevServerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void signIn_data();
    void signIn();
    void codeSignInUsesTheCodeUp();
    void registration_data();
    void registration();
    void sendCodeMailboxAndResendLimit();
    void verifyCodeAcrossPurposeWordsAndExpiry();
    void tokenProtectedRoutes_data();
    void tokenProtectedRoutes();
    void unknownPathsAndMethods();
    void echoReportsHeadersQueryAndBody();

    void envelopeSwitches_data();
    void envelopeSwitches();
    void envelopeDecryptsToThePlainAnswer();

    void faultsAsSeenByQt_data();
    void faultsAsSeenByQt();
    void garbageIsNotHttp();
    void delayDoesNotBlockOtherRequests();
    void faultsThroughDevRoutes();
    void requestCounters();
    void developmentRoutesNeedDevelopmentMode();

    void diagnosticLogFieldsAreOptional_data();
    void diagnosticLogFieldsAreOptional();
    void eventStream();
    void eventStreamRejectsBadTokens_data();
    void eventStreamRejectsBadTokens();
    void twoServersSideBySide();
    void dataDirectoryKeepsAccountsAndSessions();
    void programEndsOnSigterm();

private:
    Answer send(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
        const Headers &headers = Headers(), const QString &baseUrl = QString());
    Answer postJson(const QString &path, const QJsonObject &body, const Headers &headers = Headers());
    QString signIn(const QString &email, const QString &password);
    QString freshCode(const QString &email, const QString &purpose);

    TestEnvironment m_env;
    QNetworkAccessManager m_network;
    std::unique_ptr<DevServerRunner> m_server;
    int m_addressCounter = 0;
};

void DevServerTest::initTestCase()
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_server = std::make_unique<DevServerRunner>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
    QVERIFY(m_server->port() != 0);
    QCOMPARE(m_server->baseUrl(), QStringLiteral("http://127.0.0.1:%1").arg(m_server->port()));
}

void DevServerTest::init()
{
    m_server->clearFaults();
    m_server->setEncryption(false);
    m_server->resetRequestCounts();
    m_network.clearConnectionCache();
}

Answer DevServerTest::send(const QByteArray &method, const QString &path, const QByteArray &body,
    const Headers &headers, const QString &baseUrl)
{
    QNetworkRequest request(QUrl((baseUrl.isEmpty() ? m_server->baseUrl() : baseUrl) + path));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);

    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    Answer answer;
    answer.elapsedMs = clock.elapsed();
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.error = reply->error();
    answer.body = reply->readAll();
    reply->deleteLater();
    return answer;
}

Answer DevServerTest::postJson(const QString &path, const QJsonObject &body, const Headers &headers)
{
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

QString DevServerTest::signIn(const QString &email, const QString &password)
{
    const Answer answer = postJson(QLatin1String(Backend::Path::kLogin),
        {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}});
    return answer.json().value(QStringLiteral("token")).toString();
}

QString DevServerTest::freshCode(const QString &email, const QString &purpose)
{
    const Answer answer = postJson(
        QLatin1String(Backend::Path::kSendCode), {{QStringLiteral("email"), email}, {QStringLiteral("use"), purpose}});
    if (answer.status != 200)
        return {};
    return m_server->lastMailCode(email);
}

// --- accounts ----------------------------------------------------------------

void DevServerTest::signIn_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("member");

    QTest::newRow("demo member") << "demo@quillet.dev"
                                 << "Quillet-demo-2026" << 200 << "" << true;
    QTest::newRow("address case and blanks") << " DEMO@Quillet.dev "
                                             << "Quillet-demo-2026" << 200 << "" << true;
    QTest::newRow("trial without membership") << "trial@quillet.dev"
                                              << "Quillet-trial-2026" << 200 << "" << false;
    QTest::newRow("wrong password") << "demo@quillet.dev"
                                    << "quillet-demo-2026" << 401 << "invalid credentials" << false;
    QTest::newRow("password is not trimmed") << "demo@quillet.dev"
                                             << " Quillet-demo-2026" << 401 << "invalid credentials" << false;
    QTest::newRow("unknown address") << "nobody@quillet.dev"
                                     << "Quillet-demo-2026" << 401 << "invalid credentials" << false;
    QTest::newRow("not an address") << "demo"
                                    << "Quillet-demo-2026" << 400 << "valid email is required" << false;
}

void DevServerTest::signIn()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(bool, member);

    const Answer answer = postJson(QLatin1String(Backend::Path::kLogin),
        {{QStringLiteral("email"), email}, {QStringLiteral("password"), password},
            {QStringLiteral("device_id"), QStringLiteral("dev-%1").arg(++m_addressCounter)},
            {QStringLiteral("device_platform"), QStringLiteral("Windows")}});
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.errorText(), error);
    if (status != 200)
        return;
    const QJsonObject json = answer.json();
    QCOMPARE(json.value(QStringLiteral("token")).toString().size(), 64);
    const QJsonObject user = json.value(QStringLiteral("user")).toObject();
    QCOMPARE(user.value(QStringLiteral("email")).toString(), email.trimmed().toLower());
    QCOMPARE(user.value(QStringLiteral("membership_active")).toBool(), member);
    for (const char *key : {"id", "name", "active_plan_id", "active_plan_name", "membership_label", "plan_type",
             "plan_expires_at", "selected_node_id"})
        QVERIFY2(user.contains(QLatin1String(key)), key);
    if (member) {
        QVERIFY(!user.value(QStringLiteral("active_plan_id")).toString().isEmpty());
        QVERIFY(QDateTime::fromString(user.value(QStringLiteral("plan_expires_at")).toString(), Qt::ISODate)
            > QDateTime::currentDateTimeUtc());
    }
}

void DevServerTest::codeSignInUsesTheCodeUp()
{
    const QString code = freshCode(QStringLiteral("demo@quillet.dev"), QStringLiteral("login"));
    QCOMPARE(code.size(), 6);
    const QJsonObject body {{QStringLiteral("email"), QStringLiteral("demo@quillet.dev")},
        {QStringLiteral("code"), code}, {QStringLiteral("verification_code"), code}};
    const Answer first = postJson(QLatin1String(Backend::Path::kLogin), body);
    QCOMPARE(first.status, 200);
    QVERIFY(!first.json().value(QStringLiteral("token")).toString().isEmpty());

    const Answer again = postJson(QLatin1String(Backend::Path::kLogin), body);
    // Not 400, which the client reads on the login path as a wrong password.
    QCOMPARE(again.status, 422);
    QCOMPARE(again.errorText(), QStringLiteral("invalid or expired verification code"));

    const Answer unknown = postJson(QLatin1String(Backend::Path::kLogin),
        {{QStringLiteral("email"), QStringLiteral("ghost@quillet.dev")},
            {QStringLiteral("code"), QStringLiteral("123456")}});
    QCOMPARE(unknown.status, 404);
    QCOMPARE(unknown.errorText(), QStringLiteral("email does not exist"));
}

void DevServerTest::registration_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("codeChoice"); // "fresh", "none", "wrong"
    QTest::addColumn<QString>("inviteCode");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("ok") << "new-%1@example.com"
                        << "long-enough"
                        << "fresh"
                        << "" << 200 << "";
    QTest::newRow("short password") << "new-%1@example.com"
                                    << "1234567"
                                    << "fresh"
                                    << "" << 400 << "password must be at least 8 characters";
    QTest::newRow("bad address") << "new-%1.example.com"
                                 << "long-enough"
                                 << "none"
                                 << "" << 400 << "valid email is required";
    QTest::newRow("taken address") << "demo@quillet.dev"
                                   << "long-enough"
                                   << "none"
                                   << "" << 409 << "email already exists";
    QTest::newRow("no code") << "new-%1@example.com"
                             << "long-enough"
                             << "none"
                             << "" << 400 << "email verification is required";
    QTest::newRow("wrong code") << "new-%1@example.com"
                                << "long-enough"
                                << "wrong"
                                << "" << 400 << "invalid or expired verification code";
    QTest::newRow("unknown invite") << "new-%1@example.com"
                                    << "long-enough"
                                    << "fresh"
                                    << "NOPE0000" << 400 << "invalid invite code";
}

void DevServerTest::registration()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QString, codeChoice);
    QFETCH(QString, inviteCode);
    QFETCH(int, status);
    QFETCH(QString, error);

    const QString address = email.contains(QLatin1String("%1")) ? email.arg(++m_addressCounter) : email;
    QString code;
    if (codeChoice == QLatin1String("fresh"))
        code = freshCode(address, QStringLiteral("register"));
    else if (codeChoice == QLatin1String("wrong"))
        code = freshCode(address, QStringLiteral("register")) == QLatin1String("000000") ? QStringLiteral("111111")
                                                                                         : QStringLiteral("000000");
    QCOMPARE(code.isEmpty(), codeChoice == QLatin1String("none"));

    const Answer answer = postJson(QLatin1String(Backend::Path::kRegister),
        {{QStringLiteral("email"), address}, {QStringLiteral("password"), password},
            {QStringLiteral("name"), QStringLiteral("  ")}, {QStringLiteral("code"), code},
            {QStringLiteral("invite_code"), inviteCode}});
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.errorText(), error);
    if (status != 200)
        return;
    const QJsonObject user = answer.json().value(QStringLiteral("user")).toObject();
    QCOMPARE(user.value(QStringLiteral("name")).toString(), address.section(QLatin1Char('@'), 0, 0));
    QCOMPARE(user.value(QStringLiteral("membership_active")).toBool(), false);
    QVERIFY(!signIn(address, password).isEmpty());
}

void DevServerTest::sendCodeMailboxAndResendLimit()
{
    const QString address = QStringLiteral("mailbox-%1@example.com").arg(++m_addressCounter);
    const QJsonObject body {{QStringLiteral("email"), address}, {QStringLiteral("use"), QStringLiteral("register")}};
    QTest::ignoreMessage(QtInfoMsg,
        QRegularExpression(QStringLiteral("^\\[mail\\] %1 register \\d{6}$").arg(QRegularExpression::escape(address))));
    QCOMPARE(postJson(QLatin1String(Backend::Path::kSendCode), body).status, 200);

    const Answer mailbox = send("GET", QStringLiteral("/dev/mailbox?email=%1").arg(address));
    QCOMPARE(mailbox.status, 200);
    const QJsonObject mail = mailbox.json();
    QCOMPARE(mail.value(QStringLiteral("email")).toString(), address);
    QCOMPARE(mail.value(QStringLiteral("purpose")).toString(), QStringLiteral("register"));
    QCOMPARE(mail.value(QStringLiteral("code")).toString(), m_server->lastMailCode(address));

    const Answer tooSoon = postJson(QLatin1String(Backend::Path::kSendCode), body);
    QCOMPARE(tooSoon.status, 429);
    QCOMPARE(tooSoon.errorText(), QStringLiteral("verification code resend too frequently"));
    QCOMPARE(m_server->lastMailCode(address), mail.value(QStringLiteral("code")).toString());

    m_server->run([](DevServer &server) { server.store().advanceClock(61); });
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[mail\\] ")));
    QCOMPARE(postJson(QLatin1String(Backend::Path::kSendCode), body).status, 200);

    QCOMPARE(send("GET", QStringLiteral("/dev/mailbox?email=nobody-here@example.com")).status, 404);

    const Answer taken = postJson(QLatin1String(Backend::Path::kSendCode),
        {{QStringLiteral("email"), QStringLiteral("demo@quillet.dev")},
            {QStringLiteral("use"), QStringLiteral("register")}});
    QCOMPARE(taken.status, 409);
    QCOMPARE(taken.errorText(), QStringLiteral("email already exists"));
    const Answer missing = postJson(QLatin1String(Backend::Path::kSendCode),
        {{QStringLiteral("email"), QStringLiteral("ghost@quillet.dev")},
            {QStringLiteral("use"), QStringLiteral("reset")}});
    QCOMPARE(missing.status, 404);
    QCOMPARE(missing.errorText(), QStringLiteral("email does not exist"));
    const Answer invalid = postJson(QLatin1String(Backend::Path::kSendCode), {{QStringLiteral("email"), "a@b"}});
    QCOMPARE(invalid.errorText(), QStringLiteral("valid email is required"));
}

void DevServerTest::verifyCodeAcrossPurposeWordsAndExpiry()
{
    const QString address = QStringLiteral("verify-%1@example.com").arg(++m_addressCounter);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[mail\\] ")));
    const QString code = freshCode(address, QStringLiteral("register"));
    QVERIFY(!code.isEmpty());
    const auto verify = [&](const QString &purpose, const QString &candidate) {
        return postJson(QLatin1String(Backend::Path::kVerifyCode),
            {{QStringLiteral("email"), address}, {QStringLiteral("use"), purpose},
                {QStringLiteral("code"), candidate}});
    };
    // Asked for as "register", checked as "reg": one purpose.
    const Answer ok = verify(QStringLiteral("reg"), code);
    QCOMPARE(ok.status, 200);
    QCOMPARE(ok.json().value(QStringLiteral("verified")).toBool(), true);
    QCOMPARE(ok.json().value(QStringLiteral("valid")).toBool(), true);
    QCOMPARE(verify(QStringLiteral("reg"), code).status, 200); // checking does not use it up

    const Answer otherPurpose = verify(QStringLiteral("reset"), code);
    QCOMPARE(otherPurpose.status, 400);
    QCOMPARE(otherPurpose.errorText(), QStringLiteral("invalid or expired verification code"));
    QCOMPARE(verify(QStringLiteral("reg"), QStringLiteral("12a")).errorText(),
        QStringLiteral("valid email verification code is required"));

    m_server->run([](DevServer &server) { server.store().advanceClock(11 * 60); });
    QCOMPARE(verify(QStringLiteral("reg"), code).errorText(), QStringLiteral("invalid or expired verification code"));
}

void DevServerTest::tokenProtectedRoutes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("tokenChoice"); // "none", "bogus", "revoked", "valid"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("bootstrap without token") << QByteArray("GET") << "/api/v1/bootstrap"
                                             << "none" << 401 << "authentication required";
    QTest::newRow("bootstrap unknown token") << QByteArray("GET") << "/api/v1/bootstrap"
                                             << "bogus" << 401 << "invalid token";
    QTest::newRow("bootstrap revoked token") << QByteArray("GET") << "/api/v1/bootstrap"
                                             << "revoked" << 401 << "invalid token";
    QTest::newRow("bootstrap valid token") << QByteArray("GET") << "/api/v1/bootstrap"
                                           << "valid" << 200 << "";
    QTest::newRow("logout without token") << QByteArray("POST") << "/api/v1/auth/logout"
                                          << "none" << 401 << "authentication required";
    QTest::newRow("echo without token") << QByteArray("GET") << "/api/v1/echo"
                                        << "none" << 200 << "";
    QTest::newRow("echo unknown token") << QByteArray("GET") << "/api/v1/echo"
                                        << "bogus" << 401 << "invalid token";
    QTest::newRow("ping ignores tokens") << QByteArray("GET") << "/api/v1/ping"
                                         << "bogus" << 200 << "";
}

void DevServerTest::tokenProtectedRoutes()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QString, tokenChoice);
    QFETCH(int, status);
    QFETCH(QString, error);

    Headers headers;
    if (tokenChoice == QLatin1String("bogus")) {
        headers << qMakePair(QByteArray("Authorization"), QByteArray("Bearer 0123456789abcdef"));
    } else if (tokenChoice != QLatin1String("none")) {
        const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
        QVERIFY(!token.isEmpty());
        headers << qMakePair(QByteArray("Authorization"), "Bearer " + token.toUtf8());
        if (tokenChoice == QLatin1String("revoked"))
            QCOMPARE(send("POST", QLatin1String(Backend::Path::kLogout), "{}", headers).status, 200);
    }
    const Answer answer = send(method, path, method == "POST" ? QByteArray("{}") : QByteArray(), headers);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.errorText(), error);
    if (path == QLatin1String("/api/v1/bootstrap") && status == 200)
        QCOMPARE(answer.json().value(QStringLiteral("user")).toObject().value(QStringLiteral("email")).toString(),
            QStringLiteral("demo@quillet.dev"));
}

void DevServerTest::unknownPathsAndMethods()
{
    const Answer missing = send("GET", QStringLiteral("/api/v1/no-such-thing"));
    QCOMPARE(missing.status, 404);
    QCOMPARE(missing.errorText(), QStringLiteral("not found"));
    const Answer wrongMethod = send("GET", QLatin1String(Backend::Path::kLogin));
    QCOMPARE(wrongMethod.status, 405);
    QCOMPARE(wrongMethod.errorText(), QStringLiteral("method not allowed"));
    const Answer badJson = send("POST", QLatin1String(Backend::Path::kLogin), "{\"email\": ");
    QCOMPARE(badJson.status, 400);
    QCOMPARE(badJson.errorText(), QStringLiteral("invalid json body"));
}

void DevServerTest::echoReportsHeadersQueryAndBody()
{
    const Answer post = send("POST", QStringLiteral("/api/v1/echo?platform=windows&routing_mode=smart"),
        "{\"a\":[1,2]}", {{"X-Tarn-Client-Platform", "windows"}, {"Accept-Language", "zh-TW"}});
    QCOMPARE(post.status, 200);
    const QJsonObject echo = post.json();
    QCOMPARE(echo.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    QCOMPARE(echo.value(QStringLiteral("path")).toString(), QStringLiteral("/api/v1/echo"));
    QCOMPARE(echo.value(QStringLiteral("query")).toObject(),
        object("{\"platform\":\"windows\",\"routing_mode\":\"smart\"}"));
    const QJsonObject headers = echo.value(QStringLiteral("headers")).toObject();
    QCOMPARE(headers.value(QStringLiteral("x-tarn-client-platform")).toString(), QStringLiteral("windows"));
    QCOMPARE(headers.value(QStringLiteral("accept-language")).toString(), QStringLiteral("zh-TW"));
    QCOMPARE(headers.value(QStringLiteral("content-type")).toString(), QStringLiteral("application/json"));
    QCOMPARE(echo.value(QStringLiteral("body")).toObject(), object("{\"a\":[1,2]}"));

    const Answer text = send("POST", QStringLiteral("/api/v1/echo"), "plain words", {{"Content-Type", "text/plain"}});
    QCOMPARE(text.json().value(QStringLiteral("body")).toString(), QStringLiteral("plain words"));
}

// --- envelopes -----------------------------------------------------------------

void DevServerTest::envelopeSwitches_data()
{
    QTest::addColumn<QString>("switchOn"); // "none", "global", "token", "other token", "route", "other route"
    QTest::addColumn<bool>("askForEnvelope");
    QTest::addColumn<bool>("encrypted");

    QTest::newRow("switched off") << "none" << true << false;
    QTest::newRow("global") << "global" << true << true;
    QTest::newRow("global, client did not ask") << "global" << false << false;
    QTest::newRow("this token") << "token" << true << true;
    QTest::newRow("another token") << "other token" << true << false;
    QTest::newRow("this route") << "route" << true << true;
    QTest::newRow("another route") << "other route" << true << false;
}

void DevServerTest::envelopeSwitches()
{
    QFETCH(QString, switchOn);
    QFETCH(bool, askForEnvelope);
    QFETCH(bool, encrypted);

    const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    QVERIFY(!token.isEmpty());
    const QString route = QLatin1String(Backend::Path::kBootstrap);
    if (switchOn == QLatin1String("global"))
        m_server->setEncryption(true);
    else if (switchOn == QLatin1String("token"))
        m_server->setEncryption(true, token);
    else if (switchOn == QLatin1String("other token"))
        m_server->setEncryption(true, QStringLiteral("someone-else"));
    else if (switchOn == QLatin1String("route"))
        m_server->setEncryption(true, QString(), route);
    else if (switchOn == QLatin1String("other route"))
        m_server->setEncryption(true, QString(), QStringLiteral("/api/v1/echo"));

    Headers headers {{"Authorization", "Bearer " + token.toUtf8()}};
    if (askForEnvelope)
        headers << qMakePair(QByteArray("X-Tarn-Encrypted"), QByteArray("1"));
    const Answer answer = send("GET", route, QByteArray(), headers);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.json().value(QStringLiteral("encrypted")).toBool(), encrypted);
    QCOMPARE(answer.json().contains(QStringLiteral("user")), !encrypted);

    // Failures stay readable whatever the switches say.
    const Answer failure
        = send("GET", route, QByteArray(), {{"Authorization", "Bearer nope"}, {"X-Tarn-Encrypted", "1"}});
    QCOMPARE(failure.errorText(), QStringLiteral("invalid token"));
}

void DevServerTest::diagnosticLogFieldsAreOptional_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("only the log") << QByteArray(R"({"log":"line one"})") << 200;
    QTest::newRow("log and a device") << QByteArray(R"({"log":"line","device_id":"d-1"})") << 200;
    QTest::newRow("null fields") << QByteArray(R"({"log":"line","file_name":null,"platform":null})") << 200;
    QTest::newRow("every field") << QByteArray(R"({"log":"l","device_id":"d","device_model":"m","platform":"Windows",)"
                                               R"("app_version":"1","build_number":"","network_env":"e",)"
                                               R"("file_name":"f.log"})")
                                 << 200;
    QTest::newRow("no log") << QByteArray(R"({"device_id":"d-1"})") << 400;
}

// Missing optional fields get defaults: bad input is a 4xx, never a 500.
void DevServerTest::diagnosticLogFieldsAreOptional()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    const Answer answer = send("POST", QLatin1String(Backend::Path::kDiagnosticLogs), body,
                               {{"Authorization", "Bearer " + token.toUtf8()}, {"Content-Type", "application/json"}});
    QVERIFY2(answer.status == status, answer.body.constData());
}

void DevServerTest::envelopeDecryptsToThePlainAnswer()
{
    const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    const Headers headers {{"Authorization", "Bearer " + token.toUtf8()}, {"X-Tarn-Encrypted", "1"}};
    const Answer plain = send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(), headers);
    QVERIFY(plain.json().contains(QStringLiteral("user")));

    m_server->setEncryption(true);
    const Answer sealed = send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(), headers);
    const QJsonObject envelope = sealed.json();
    QCOMPARE(envelope.value(QStringLiteral("alg")).toString(), QStringLiteral("AES-256-GCM"));
    QCOMPARE(QByteArray::fromBase64(envelope.value(QStringLiteral("nonce")).toString().toLatin1()).size(), 12);
    const QByteArray opened = openEnvelope(envelope, token);
    QVERIFY(!opened.isEmpty());
    QCOMPARE(QJsonDocument::fromJson(opened).object(), plain.json());

    QVERIFY(openEnvelope(envelope, token + QLatin1Char('x')).isEmpty());
    // A fresh nonce every time.
    const Answer again = send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(), headers);
    QVERIFY(again.json().value(QStringLiteral("nonce")) != envelope.value(QStringLiteral("nonce")));
}

// --- faults --------------------------------------------------------------------

void DevServerTest::faultsAsSeenByQt_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("jsonBody");
    QTest::addColumn<int>("requestsSeen");

    using Mode = DevServer::FaultMode;
    const int closed = QNetworkReply::RemoteHostClosedError;
    QTest::newRow("status") << int(Mode::Status) << 1 << QByteArray("GET") << 503
                            << int(QNetworkReply::ServiceUnavailableError) << true << 1;
    QTest::newRow("close GET") << int(Mode::Close) << 1 << QByteArray("GET") << 200 << closed << false << 1;
    QTest::newRow("close POST") << int(Mode::Close) << 1 << QByteArray("POST") << 200 << closed << false << 1;
    // Qt re-sends a request whose connection closed before any answer once,
    // and one answered with non-HTTP bytes three times, before it gives up.
    QTest::newRow("drop") << int(Mode::Drop) << 2 << QByteArray("GET") << 0 << closed << false << 2;
    QTest::newRow("drop once is absorbed")
        << int(Mode::Drop) << 1 << QByteArray("GET") << 200 << int(QNetworkReply::NoError) << true << 2;
    QTest::newRow("garbage") << int(Mode::Garbage) << 4 << QByteArray("POST") << 0 << closed << false << 4;
    QTest::newRow("malformed") << int(Mode::Malformed) << 1 << QByteArray("GET") << 200 << int(QNetworkReply::NoError)
                               << false << 1;
}

void DevServerTest::faultsAsSeenByQt()
{
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(QByteArray, method);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(bool, jsonBody);
    QFETCH(int, requestsSeen);

    const QString route = method == "GET" ? QStringLiteral("/api/v1/ping") : QStringLiteral("/api/v1/echo");
    DevServer::Fault fault = DevServer::Fault::ofMode(DevServer::FaultMode(mode), count);
    fault.status = 503;
    fault.error = QStringLiteral("maintenance");
    m_server->setFault(route, fault);

    const Answer answer = send(method, route, method == "POST" ? QByteArray("{}") : QByteArray());
    QCOMPARE(answer.status, status);
    QCOMPARE(int(answer.error), error);
    QCOMPARE(answer.isJsonObject(), jsonBody);
    if (DevServer::FaultMode(mode) == DevServer::FaultMode::Status)
        QCOMPARE(answer.errorText(), QStringLiteral("maintenance"));
    QCOMPARE(m_server->requestCount(route), requestsSeen);

    // Used up: the next request is answered normally.
    const Answer next = send(method, route, method == "POST" ? QByteArray("{}") : QByteArray());
    QCOMPARE(next.status, 200);
    QCOMPARE(next.error, QNetworkReply::NoError);
    QVERIFY(next.isJsonObject());
}

void DevServerTest::garbageIsNotHttp()
{
    m_server->setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::ofMode(DevServer::FaultMode::Garbage));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /api/v1/ping HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 5000) {
        socket.waitForReadyRead(200);
        received += socket.readAll();
    }
    received += socket.readAll();
    QVERIFY(!received.isEmpty());
    QVERIFY(!received.startsWith("HTTP/"));
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
}

void DevServerTest::delayDoesNotBlockOtherRequests()
{
    m_server->setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::delayed(1500));
    QNetworkRequest request(QUrl(m_server->baseUrl() + QStringLiteral("/api/v1/ping")));
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *slow = m_network.get(request);
    QSignalSpy slowFinished(slow, &QNetworkReply::finished);

    const Answer quick = send("GET", QStringLiteral("/api/v1/echo"));
    QCOMPARE(quick.status, 200);
    QVERIFY2(quick.elapsedMs < 1000, QByteArray::number(quick.elapsedMs).constData());
    QVERIFY(!slow->isFinished());

    QVERIFY(slowFinished.wait(5000));
    QVERIFY(clock.elapsed() >= 1400);
    QCOMPARE(slow->error(), QNetworkReply::NoError);
    QCOMPARE(QJsonDocument::fromJson(slow->readAll()).object(), object("{\"ok\":true}"));
    slow->deleteLater();

    // A client that gives up first leaves nothing behind for the late answer.
    m_server->setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::delayed(300));
    QNetworkReply *abandoned = m_network.get(request);
    QTimer::singleShot(50, abandoned, &QNetworkReply::abort);
    QSignalSpy abandonedFinished(abandoned, &QNetworkReply::finished);
    QVERIFY(abandonedFinished.wait(5000));
    QCOMPARE(abandoned->error(), QNetworkReply::OperationCanceledError);
    abandoned->deleteLater();
    QTest::qWait(400);
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).status, 200);
}

void DevServerTest::faultsThroughDevRoutes()
{
    const Answer set = postJson(QStringLiteral("/dev/faults"),
        {{QStringLiteral("route"), QStringLiteral("/api/v1/ping")}, {QStringLiteral("mode"), QStringLiteral("status")},
            {QStringLiteral("status"), 502}, {QStringLiteral("error"), QStringLiteral("upstream")},
            {QStringLiteral("count"), 2}});
    QCOMPARE(set.status, 200);
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).status, 502);
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).errorText(), QStringLiteral("upstream"));
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).status, 200);

    QCOMPARE(postJson(QStringLiteral("/dev/faults"),
                 {{QStringLiteral("route"), QStringLiteral("/api/v1/ping")},
                     {QStringLiteral("mode"), QStringLiteral("close")}, {QStringLiteral("count"), 5}})
                 .status,
        200);
    QCOMPARE(send("DELETE", QStringLiteral("/dev/faults")).status, 200);
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).status, 200);

    const Answer badMode = postJson(QStringLiteral("/dev/faults"),
        {{QStringLiteral("route"), QStringLiteral("/x")}, {QStringLiteral("mode"), QStringLiteral("melt")}});
    QCOMPARE(badMode.status, 400);
    QCOMPARE(badMode.errorText(), QStringLiteral("unknown fault mode"));

    // The switch itself cannot be faulted away.
    m_server->setFault(QStringLiteral("/dev/faults/clear"), DevServer::Fault::ofMode(DevServer::FaultMode::Close));
    QCOMPARE(send("POST", QStringLiteral("/dev/faults/clear"), "{}").status, 200);
}

void DevServerTest::requestCounters()
{
    for (int i = 0; i < 3; ++i)
        send("GET", QStringLiteral("/api/v1/ping?attempt=%1").arg(i));
    m_server->setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::withStatus(500));
    send("GET", QStringLiteral("/api/v1/ping"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ping")), 4);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/echo")), 0);

    const Answer stats = send("GET", QStringLiteral("/dev/stats?route=/api/v1/ping"));
    QCOMPARE(stats.json().value(QStringLiteral("count")).toInt(), 4);
    m_server->resetRequestCounts();
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ping")), 0);
}

void DevServerTest::developmentRoutesNeedDevelopmentMode()
{
    DevServer::Options options;
    options.developmentMode = false;
    options.demoData = false;
    DevServerRunner plain(options);
    QVERIFY(plain.isRunning());
    const QString base = plain.baseUrl();

    QCOMPARE(send("GET", QStringLiteral("/dev/mailbox?email=a@b.c"), QByteArray(), Headers(), base).status, 404);
    QCOMPARE(send("GET", QStringLiteral("/dev/stats"), QByteArray(), Headers(), base).status, 404);
    plain.setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::withStatus(503));
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping"), QByteArray(), Headers(), base).status, 200);
    // No demo accounts either.
    const Answer login = send("POST", QLatin1String(Backend::Path::kLogin),
        "{\"email\":\"demo@quillet.dev\",\"password\":\"Quillet-demo-2026\"}", Headers(), base);
    QCOMPARE(login.status, 401);
}

// --- event stream and instances -----------------------------------------------------

void DevServerTest::eventStream()
{
    const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    QVERIFY(!token.isEmpty());

    QWebSocket socket;
    QSignalSpy messages(&socket, &QWebSocket::textMessageReceived);
    QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/ws").arg(m_server->port())));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    socket.open(request);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
    QCOMPARE(object(messages.at(0).at(0).toString().toUtf8()).value(QStringLiteral("type")).toString(),
        QStringLiteral("connected"));

    QCOMPARE(m_server->pushEvent(token, object("{\"type\":\"membership_updated\"}")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 5000);
    QCOMPARE(object(messages.at(1).at(0).toString().toUtf8()), object("{\"type\":\"membership_updated\"}"));

    QCOMPARE(m_server->pushEvent(QStringLiteral("demo@quillet.dev"), object("{\"type\":\"message_updated\"}")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 3, 5000);
    QCOMPARE(m_server->pushEvent(QStringLiteral("trial@quillet.dev"), object("{\"type\":\"x\"}")), 0);

    socket.sendTextMessage(QStringLiteral("{\"type\":\"ping\"}"));
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 4, 5000);
    QCOMPARE(object(messages.at(3).at(0).toString().toUtf8()), object("{\"type\":\"pong\"}"));

    // Signing out ends the stream of that session.
    QCOMPARE(send("POST", QLatin1String(Backend::Path::kLogout), "{}", {{"Authorization", "Bearer " + token.toUtf8()}})
                 .status,
        200);
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, 5000);
    QCOMPARE(m_server->pushEvent(token, object("{\"type\":\"x\"}")), 0);
}

void DevServerTest::eventStreamRejectsBadTokens_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("refusal"); // empty: accepted

    QTest::newRow("token in query") << "query"
                                    << "";
    QTest::newRow("no token") << "none"
                              << "authentication required";
    QTest::newRow("unknown token") << "bogus"
                                   << "invalid token";
    QTest::newRow("wrong path") << "path"
                                << "not found";
}

void DevServerTest::eventStreamRejectsBadTokens()
{
    QFETCH(QString, how);
    QFETCH(QString, refusal);

    const QString token = signIn(QStringLiteral("trial@quillet.dev"), QStringLiteral("Quillet-trial-2026"));
    QString url = QStringLiteral("ws://127.0.0.1:%1/api/v1/ws").arg(m_server->port());
    if (how == QLatin1String("query") || how == QLatin1String("path"))
        url += QStringLiteral("?token=") + token;
    if (how == QLatin1String("bogus"))
        url += QStringLiteral("?token=abc");
    if (how == QLatin1String("path"))
        url.replace(QLatin1String("/api/v1/ws"), QLatin1String("/api/v1/other"));

    QWebSocket socket;
    QSignalSpy messages(&socket, &QWebSocket::textMessageReceived);
    QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
    socket.open(QUrl(url));
    if (refusal.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
        QCOMPARE(m_server->pushEvent(token, object("{\"type\":\"device_updated\"}")), 1);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 5000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, 5000);
        QCOMPARE(messages.size(), 0);
        QCOMPARE(socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QCOMPARE(socket.closeReason(), refusal);
    }
}

void DevServerTest::twoServersSideBySide()
{
    DevServerRunner other;
    QVERIFY(other.isRunning());
    QVERIFY(other.port() != m_server->port());

    const QString token = signIn(QStringLiteral("demo@quillet.dev"), QStringLiteral("Quillet-demo-2026"));
    const Headers headers {{"Authorization", "Bearer " + token.toUtf8()}};
    QCOMPARE(send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(), headers).status, 200);
    const Answer elsewhere
        = send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(), headers, other.baseUrl());
    QCOMPARE(elsewhere.status, 401);
    QCOMPARE(elsewhere.errorText(), QStringLiteral("invalid token"));

    other.setFault(QStringLiteral("/api/v1/ping"), DevServer::Fault::withStatus(503));
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping")).status, 200);
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping"), QByteArray(), Headers(), other.baseUrl()).status, 503);
    QCOMPARE(other.requestCount(QStringLiteral("/api/v1/ping")), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/v1/ping")), 1);
}

void DevServerTest::dataDirectoryKeepsAccountsAndSessions()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DevServer::Options options;
    options.dataDir = dir.filePath(QStringLiteral("state"));

    QString token;
    {
        DevServerRunner first(options);
        QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
        const Answer login = send("POST", QLatin1String(Backend::Path::kLogin),
            "{\"email\":\"demo@quillet.dev\",\"password\":\"Quillet-demo-2026\"}", Headers(), first.baseUrl());
        token = login.json().value(QStringLiteral("token")).toString();
        QVERIFY(!token.isEmpty());
    }
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("state/devserver.sqlite"))));

    DevServerRunner second(options);
    QVERIFY(second.isRunning());
    const Answer bootstrap = send("GET", QLatin1String(Backend::Path::kBootstrap), QByteArray(),
        {{"Authorization", "Bearer " + token.toUtf8()}}, second.baseUrl());
    QCOMPARE(bootstrap.status, 200);

    // A data directory that cannot be created is reported, not crashed on.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    options.dataDir = dir.filePath(QStringLiteral("file/sub"));
    DevServerRunner broken(options);
    QVERIFY(!broken.isRunning());
    QVERIFY(!broken.errorString().isEmpty());
    QVERIFY(broken.baseUrl().isEmpty());
}

void DevServerTest::programEndsOnSigterm()
{
#ifndef Q_OS_UNIX
    QSKIP("SIGTERM is a POSIX signal");
#else
    QTemporaryDir dir;
    const QString portFile = dir.filePath(QStringLiteral("port"));
    QProcess program;
    program.start(QStringLiteral(QUILLET_DEVSERVER_PROGRAM),
        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--dev"), QStringLiteral("--demo"),
            QStringLiteral("--port-file"), portFile});
    QVERIFY(program.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(portFile).size() > 0, 10000);
    QFile file(portFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(QString::fromLatin1(file.readAll().trimmed()));
    QCOMPARE(send("GET", QStringLiteral("/api/v1/ping"), QByteArray(), Headers(), base).status, 200);

    QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine() || program.bytesAvailable() > 0, 5000);
    const QByteArray banner = program.readAllStandardOutput();
    QVERIFY2(banner.contains("quillet-devserver listening on " + base.toLatin1()), banner.constData());
    QVERIFY(banner.contains("demo@quillet.dev / Quillet-demo-2026"));
    QVERIFY(banner.contains("trial@quillet.dev / Quillet-trial-2026"));

    program.terminate();
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
#endif
}

QTEST_GUILESS_MAIN(DevServerTest)
#include "tst_devserver.moc"
