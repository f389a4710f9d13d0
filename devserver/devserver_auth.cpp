// Accounts and sign-in: login, registration, e-mail codes, logout, password
// reset and change, account deletion, and the device allowance at sign-in.
#include "devserver.h"

#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QRegularExpression>

namespace {

constexpr int kCodeLifetimeSeconds = 10 * 60;
constexpr int kCodeResendSeconds = 60;
constexpr int kMinimumPasswordLength = 8;

const char kDemoEmail[] = "demo@quillet.dev";
const char kDemoPassword[] = "Quillet-demo-2026";
const char kTrialEmail[] = "trial@quillet.dev";
const char kTrialPassword[] = "Quillet-trial-2026";
const char kDemoInviteCode[] = "QUILLET26";

// Event texts are ones the client already knows, so it shows them translated.
const char kKickedMessage[] = "您已被踢下线。";
const char kQuotaKickMessage[] = "设备额度已满，系统会自动下线最早登录的设备，请重新登录。";

QJsonObject sessionEvent(const QString &type, const QString &message, const QString &reason)
{
    return QJsonObject {
        {QStringLiteral("type"), type},
        {QStringLiteral("message"), message},
        {QStringLiteral("reason"), reason},
    };
}

bool isValidEmail(const QString &email);

// The error key for an e-mail and new password that cannot make an account, or empty.
QString credentialsProblem(const QString &email, const QString &password)
{
    if (!isValidEmail(email))
        return QStringLiteral("valid email is required");
    if (password.size() < kMinimumPasswordLength)
        return QStringLiteral("password must be at least 8 characters");
    return QString();
}

bool isValidEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    return pattern.match(email).hasMatch();
}

// The client names one purpose in several ways ("register" when asking for a
// code, "reg" when checking it); codes are filed under one word per purpose.
QString normalizedPurpose(const QString &purpose)
{
    const QString word = purpose.trimmed().toLower();
    if (word.isEmpty())
        return QStringLiteral("auth");
    if (word == QLatin1String("reg") || word == QLatin1String("register") || word == QLatin1String("signup")
        || word == QLatin1String("registration"))
        return QStringLiteral("register");
    if (word == QLatin1String("login") || word == QLatin1String("signin"))
        return QStringLiteral("login");
    if (word == QLatin1String("reset") || word == QLatin1String("reset-password")
        || word == QLatin1String("reset_password") || word == QLatin1String("forgot"))
        return QStringLiteral("reset");
    return word;
}

// A code filed under "auth" (no purpose given) serves every purpose.
QStringList acceptedPurposes(const QString &purpose)
{
    const QString normalized = normalizedPurpose(purpose);
    if (normalized == QLatin1String("auth"))
        return {normalized};
    return {normalized, QStringLiteral("auth")};
}

bool isSixDigitCode(const QString &code)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{6}$"));
    return pattern.match(code).hasMatch();
}

QString submittedCode(const DevRequest &request)
{
    const QString code = request.text(QStringLiteral("code"));
    return code.isEmpty() ? request.text(QStringLiteral("verification_code")) : code;
}

DevServerStore::Device deviceOf(const DevRequest &request)
{
    DevServerStore::Device device;
    device.id = request.text(QStringLiteral("device_id"));
    if (device.id.isEmpty())
        device.id = QString::fromUtf8(request.header("x-tarn-device-id")).trimmed();
    device.name = request.text(QStringLiteral("device_name"));
    device.platform = request.text(QStringLiteral("device_platform"));
    if (device.platform.isEmpty())
        device.platform = QString::fromUtf8(request.header("x-tarn-client-platform")).trimmed();
    device.location = request.text(QStringLiteral("device_location"));
    return device;
}

} // namespace

void DevServer::addAccountRoutes()
{
    using namespace Backend::Path;
    addRoute("POST", QLatin1String(kLogin), Access::Public, [this](const DevRequest &r) { return login(r); });
    addRoute(
        "POST", QLatin1String(kRegister), Access::Public, [this](const DevRequest &r) { return registerAccount(r); });
    addRoute("POST", QLatin1String(kSendCode), Access::Public, [this](const DevRequest &r) { return sendCode(r); });
    addRoute("POST", QLatin1String(kVerifyCode), Access::Public, [this](const DevRequest &r) { return verifyCode(r); });
    addRoute("POST", QLatin1String(kLogout), Access::Token, [this](const DevRequest &r) { return logout(r); });
    addRoute("POST", QLatin1String(kResetPassword), Access::Public,
        [this](const DevRequest &r) { return resetPassword(r); });
    addRoute("POST", QLatin1String(kAccountPassword), Access::Token,
        [this](const DevRequest &r) { return changePassword(r); });
    addRoute(
        "POST", QLatin1String(kAccountDelete), Access::Token, [this](const DevRequest &r) { return deleteAccount(r); });
}

void DevServer::seedDemoData()
{
    struct Demo
    {
        const char *email;
        const char *password;
        const char *name;
        bool member;
    };
    const Demo demos[] = {
        {kDemoEmail, kDemoPassword, "Demo", true},
        {kTrialEmail, kTrialPassword, "Trial", false},
    };
    // Re-applied on every start so a kept data directory still signs in as documented.
    qint64 memberId = -1;
    for (const Demo &demo : demos) {
        const QString email = QLatin1String(demo.email);
        qint64 id = -1;
        if (const auto existing = m_store.accountByEmail(email)) {
            id = existing->id;
            m_store.setPassword(id, QLatin1String(demo.password));
            m_store.setDisabled(id, false);
        } else {
            // The account without membership was invited by the member.
            id = m_store.createAccount(
                email, QLatin1String(demo.password), QLatin1String(demo.name), demo.member ? -1 : memberId);
        }
        if (id < 0)
            continue;
        if (demo.member) {
            memberId = id;
            const auto plan = planById(QStringLiteral("pro-yearly"));
            m_store.setMembership(id, plan->id, plan->name, m_store.now().addDays(90));
            m_store.setInviteCode(id, QLatin1String(kDemoInviteCode));
        } else {
            m_store.setMembership(id, QString(), QString(), QDateTime());
            m_store.setTrialClaimDate(id, QString());
        }
        seedDemoProfile(id, demo.member);
    }
}

DevReply DevServer::signedInAnswer(const DevServerStore::Account &account, const DevRequest &request)
{
    QString replaced;
    const QString token = m_store.createSession(account.id, deviceOf(request), &replaced);
    if (token.isEmpty())
        return DevReply::error(500, QStringLiteral("cannot create session: %1").arg(m_store.lastError()));
    if (!replaced.isEmpty())
        closeStreamsForToken(replaced);
    enforceDeviceQuota(account, token);
    // Sign-in answers are never sealed: the client has no token to open them with yet.
    DevReply reply = DevReply::json({{QStringLiteral("token"), token}, {QStringLiteral("user"), userJson(account)}});
    reply.encryptable = false;
    return reply;
}

DevReply DevServer::login(const DevRequest &request)
{
    const QString email = request.text(QStringLiteral("email")).toLower();
    if (!isValidEmail(email))
        return DevReply::error(400, QStringLiteral("valid email is required"));
    const auto account = m_store.accountByEmail(email);
    const QString code = submittedCode(request);

    if (!code.isEmpty()) {
        if (!account)
            return DevReply::error(404, QStringLiteral("email does not exist"));
        if (!m_store.codeMatches(email, acceptedPurposes(QStringLiteral("login")), code))
            // Not 400: the client reads 400 on the login path as a wrong password.
            return DevReply::error(422, QStringLiteral("invalid or expired verification code"));
        m_store.consumeCodes(email, acceptedPurposes(QStringLiteral("login")));
    } else {
        // Passwords are taken exactly as typed.
        const QString password = request.json.value(QStringLiteral("password")).toString();
        if (!account || password.isEmpty() || !m_store.checkPassword(account->id, password))
            return DevReply::error(401, QStringLiteral("invalid credentials"));
    }
    if (account->disabled)
        return DevReply::error(403, QStringLiteral("account disabled"));
    return signedInAnswer(*account, request);
}

DevReply DevServer::registerAccount(const DevRequest &request)
{
    const QString email = request.text(QStringLiteral("email")).toLower();
    const QString password = request.json.value(QStringLiteral("password")).toString();
    if (const QString problem = credentialsProblem(email, password); !problem.isEmpty())
        return DevReply::error(400, problem);
    if (m_store.accountByEmail(email))
        return DevReply::error(409, QStringLiteral("email already exists"));

    const QString code = submittedCode(request);
    if (code.isEmpty())
        return DevReply::error(400, QStringLiteral("email verification is required"));
    if (!m_store.codeMatches(email, acceptedPurposes(QStringLiteral("register")), code))
        return DevReply::error(400, QStringLiteral("invalid or expired verification code"));

    qint64 referredBy = -1;
    const QString inviteCode = request.text(QStringLiteral("invite_code"));
    if (!inviteCode.isEmpty()) {
        const auto inviter = m_store.accountByInviteCode(inviteCode);
        if (!inviter)
            return DevReply::error(400, QStringLiteral("invalid invite code"));
        referredBy = inviter->id;
    }

    QString name = request.text(QStringLiteral("name"));
    if (name.isEmpty())
        name = email.section(QLatin1Char('@'), 0, 0);
    const qint64 id = m_store.createAccount(email, password, name, referredBy);
    if (id < 0)
        return DevReply::error(500, QStringLiteral("cannot create account"));
    m_store.consumeCodes(email, acceptedPurposes(QStringLiteral("register")));
    return signedInAnswer(*m_store.accountById(id), request);
}

DevReply DevServer::sendCode(const DevRequest &request)
{
    const QString email = request.text(QStringLiteral("email")).toLower();
    if (!isValidEmail(email))
        return DevReply::error(400, QStringLiteral("valid email is required"));
    QString purposeText = request.text(QStringLiteral("use"));
    if (purposeText.isEmpty())
        purposeText = request.text(QStringLiteral("purpose"));
    const QString purpose = normalizedPurpose(purposeText);

    const bool exists = m_store.accountByEmail(email).has_value();
    if (purpose == QLatin1String("register") && exists)
        return DevReply::error(409, QStringLiteral("email already exists"));
    if ((purpose == QLatin1String("login") || purpose == QLatin1String("reset")) && !exists)
        return DevReply::error(404, QStringLiteral("email does not exist"));

    const QDateTime now = m_store.now();
    const auto previous = m_store.latestCode(email, purpose);
    if (previous && previous->createdAt.isValid() && previous->createdAt.secsTo(now) < kCodeResendSeconds)
        return DevReply::error(429, QStringLiteral("verification code resend too frequently"));

    DevServerStore::Code code;
    code.email = email;
    code.purpose = purpose;
    code.code = DevCrypto::randomDigits(6);
    code.createdAt = now;
    code.expiresAt = now.addSecs(kCodeLifetimeSeconds);
    if (!m_store.storeCode(code))
        return DevReply::error(500, QStringLiteral("cannot store verification code"));

    // No mail goes out: the code is logged and readable through /dev/mailbox.
    qInfo().noquote() << QStringLiteral("[mail] %1 %2 %3").arg(email, purpose, code.code);
    Q_EMIT mailSent(email, purpose, code.code);
    return DevReply::json({
        {QStringLiteral("sent"), true},
        {QStringLiteral("email"), email},
        {QStringLiteral("purpose"), purpose},
        {QStringLiteral("expires_in"), kCodeLifetimeSeconds},
        {QStringLiteral("resend_after"), kCodeResendSeconds},
    });
}

DevReply DevServer::verifyCode(const DevRequest &request)
{
    const QString email = request.text(QStringLiteral("email")).toLower();
    if (!isValidEmail(email))
        return DevReply::error(400, QStringLiteral("valid email is required"));
    const QString code = submittedCode(request);
    if (!isSixDigitCode(code))
        return DevReply::error(400, QStringLiteral("valid email verification code is required"));
    QString purpose = request.text(QStringLiteral("use"));
    if (purpose.isEmpty())
        purpose = request.text(QStringLiteral("purpose"));
    // Checking does not use the code up: registration or reset sends it again.
    if (!m_store.codeMatches(email, acceptedPurposes(purpose), code))
        return DevReply::error(400, QStringLiteral("invalid or expired verification code"));
    return DevReply::json({{QStringLiteral("valid"), true}, {QStringLiteral("verified"), true}});
}

DevReply DevServer::logout(const DevRequest &request)
{
    m_store.revokeSession(request.token);
    closeStreamsForToken(request.token);
    return DevReply::json({{QStringLiteral("ok"), true}});
}

void DevServer::enforceDeviceQuota(const DevServerStore::Account &account, const QString &newToken)
{
    const QList<DevServerStore::Session> sessions = m_store.sessionsForAccount(account.id);
    qsizetype excess = sessions.size() - signInQuota(account);
    // Oldest sign-in first: the device signed in longest ago makes room.
    for (const DevServerStore::Session &session : sessions) {
        if (excess <= 0)
            break;
        if (session.token == newToken)
            continue;
        QJsonObject event = sessionEvent(QStringLiteral("device_revoked"), QString::fromUtf8(kQuotaKickMessage),
            QStringLiteral("device limit exceeded"));
        event.insert(QStringLiteral("device_id"), deviceIdOf(session));
        endSession(session.token, event);
        --excess;
    }
}

DevReply DevServer::resetPassword(const DevRequest &request)
{
    const QString email = request.text(QStringLiteral("email")).toLower();
    const QString password = request.json.value(QStringLiteral("password")).toString();
    if (const QString problem = credentialsProblem(email, password); !problem.isEmpty())
        return DevReply::error(400, problem);
    const auto account = m_store.accountByEmail(email);
    if (!account)
        return DevReply::error(404, QStringLiteral("email does not exist"));
    const QString code = submittedCode(request);
    if (code.isEmpty())
        return DevReply::error(400, QStringLiteral("email verification is required"));
    if (!m_store.codeMatches(email, acceptedPurposes(QStringLiteral("reset")), code))
        return DevReply::error(400, QStringLiteral("invalid or expired verification code"));
    if (!m_store.setPassword(account->id, password))
        return DevReply::error(500, QStringLiteral("cannot store password"));
    m_store.consumeCodes(email, acceptedPurposes(QStringLiteral("reset")));
    endAccountSessions(account->id, QString(),
        sessionEvent(
            QStringLiteral("session_revoked"), QString::fromUtf8(kKickedMessage), QStringLiteral("password reset")));
    DevReply reply = DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("reset"), true}});
    reply.encryptable = false; // asked without a token
    return reply;
}

DevReply DevServer::changePassword(const DevRequest &request)
{
    // Passwords are taken exactly as typed.
    const QString current = request.json.value(QStringLiteral("current_password")).toString();
    const QString next = request.json.value(QStringLiteral("new_password")).toString();
    // 400, not 401: a wrong password must not read as an ended session.
    if (current.isEmpty() || !m_store.checkPassword(request.accountId, current))
        return DevReply::error(400, QStringLiteral("current password is incorrect"));
    if (next.size() < kMinimumPasswordLength)
        return DevReply::error(400, QStringLiteral("new password must be at least 8 characters"));
    if (!m_store.setPassword(request.accountId, next))
        return DevReply::error(500, QStringLiteral("cannot store password"));
    // Every device signs in again with the new password, this one included.
    endAccountSessions(request.accountId, request.token,
        sessionEvent(
            QStringLiteral("session_revoked"), QString::fromUtf8(kKickedMessage), QStringLiteral("password changed")));
    return DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("password_changed"), true}});
}

DevReply DevServer::deleteAccount(const DevRequest &request)
{
    endAccountSessions(request.accountId, request.token,
        sessionEvent(
            QStringLiteral("session_revoked"), QString::fromUtf8(kKickedMessage), QStringLiteral("account deleted")));
    if (!m_store.deleteAccount(request.accountId))
        return DevReply::error(500, QStringLiteral("cannot delete account: %1").arg(m_store.lastError()));
    return DevReply::json({{QStringLiteral("ok"), true}, {QStringLiteral("deleted"), true}});
}
