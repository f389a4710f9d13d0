#include "appcontroller.h"

#include "api/backendcontract.h"
#include "api/orderedjson.h"
#include "model/membershiprules.h"
#include "platform/platform.h"
#include "tunnel/singboxprocessmanager.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QSettings>
#include <QTimer>

namespace {

const char *const kSessionKeys[] = {
    "session/token",          "session/email",           "session/selectedNodeId", "session/nodeSelectionMode",
    "session/selectedPlanId", "session/activePlanName",  "session/membershipLabel", "session/planType",
    "session/planExpiresAt",  "session/membershipActive",
};

const QString kDeviceLocation = QStringLiteral("当前网络");

bool plausibleEmailAndCode(const QString &email, const QString &code)
{
    const QString trimmedEmail = email.trimmed();
    return !trimmedEmail.isEmpty() && trimmedEmail.contains(QLatin1Char('@')) && code.trimmed().size() == 6;
}

QString purposeOrDefault(const QString &purpose)
{
    const QString trimmed = purpose.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("auth") : trimmed;
}

} // namespace

void AppController::restoreStoredSession()
{
    const QString token = m_store->value(QStringLiteral("session/token")).toString();
    if (token.isEmpty())
        return;
    m_authToken = token;
    m_authEmail = m_store->value(QStringLiteral("session/email")).toString();
    m_selectedNodeId = m_store->value(QStringLiteral("session/selectedNodeId"), m_selectedNodeId).toString();
    m_nodeSelectionMode = m_store->value(QStringLiteral("session/nodeSelectionMode"), m_nodeSelectionMode).toString();
    m_selectedPlanId = m_store->value(QStringLiteral("session/selectedPlanId")).toString();
    m_activePlanName = m_store->value(QStringLiteral("session/activePlanName")).toString();
    m_membershipLabel = m_store->value(QStringLiteral("session/membershipLabel")).toString();
    m_planType = m_store->value(QStringLiteral("session/planType")).toString();
    m_planExpiresAt = m_store->value(QStringLiteral("session/planExpiresAt")).toString();
    m_hasActiveMembership = m_store->value(QStringLiteral("session/membershipActive")).toBool();
    m_loggedIn = true;
    m_currentPage = QStringLiteral("connect");
    m_statusText = QStringLiteral("加载中...");
}

void AppController::persistLocalAuthSession()
{
    if (m_authToken.trimmed().isEmpty()) {
        clearPersistedLocalAuthSession();
        return;
    }
    m_store->setValue(QStringLiteral("session/token"), m_authToken);
    m_store->setValue(QStringLiteral("session/email"), m_authEmail);
    m_store->setValue(QStringLiteral("session/selectedNodeId"), m_selectedNodeId);
    m_store->setValue(QStringLiteral("session/nodeSelectionMode"), m_nodeSelectionMode);
    m_store->setValue(QStringLiteral("session/selectedPlanId"), m_selectedPlanId);
    m_store->setValue(QStringLiteral("session/activePlanName"), m_activePlanName);
    m_store->setValue(QStringLiteral("session/membershipLabel"), m_membershipLabel);
    m_store->setValue(QStringLiteral("session/planType"), m_planType);
    m_store->setValue(QStringLiteral("session/planExpiresAt"), m_planExpiresAt);
    m_store->setValue(QStringLiteral("session/membershipActive"), m_hasActiveMembership);
}

void AppController::clearPersistedLocalAuthSession()
{
    for (const char *key : kSessionKeys)
        m_store->remove(QString::fromLatin1(key));
}

void AppController::clearLocalAuthSession(const QString &message)
{
    endConnectionWithSession();
    stopEventStream();
    m_signingOut = false;
    // A sign-in waiting for its bootstrap never hears back from the ended
    // session: it must not stay busy.
    setBusy(false);
    // The watched order belongs to this account: forgotten with it, so the
    // next account never polls it with its own token.
    stopPendingOrderPolling();
    setBackendOffline(false);
    const QString status = message.trimmed().isEmpty() ? QStringLiteral("已退出登录") : message.trimmed();
    m_statusText = status;
    resetLocalAccountState();
    m_trialClaimStatus.clear();
    m_serverConfig.clear();
    m_serverConfigNodeId.clear();
    Q_EMIT nodesChanged();
    Q_EMIT nodeCountriesChanged();
    Q_EMIT plansChanged();
    Q_EMIT dashboardChanged();
    Q_EMIT preferencesChanged();
    Q_EMIT experienceChanged();
    Q_EMIT supportChanged();
    Q_EMIT trialClaimStatusChanged();
    Q_EMIT selectedNodeChanged();
    Q_EMIT currentPlanChanged();
    Q_EMIT statusTextChanged();
    setVpnPhase(QStringLiteral("disconnected"), status);
    Q_EMIT loggedInChanged();
    Q_EMIT authChanged();
    updateApiError(QString());
    rebuildConfigPreview();
    setCurrentPage(QStringLiteral("auth"));
}

void AppController::resetLocalAccountState()
{
    // Sign-out, forced logout, a server change: the session ends here.
    advanceSessionGeneration();
    clearPersistedLocalAuthSession();
    m_loggedIn = false;
    m_authEmail.clear();
    m_authToken.clear();
    m_selectedNodeId = QStringLiteral("hk-smart");
    m_nodeSelectionMode = QStringLiteral("smart");
    m_selectedPlanId.clear();
    m_activePlanName.clear();
    m_membershipLabel.clear();
    m_planType.clear();
    m_planExpiresAt.clear();
    m_hasActiveMembership = false;
    restoreCatalogueDefaults();
    resetRuntimeTrafficState(false);
    m_experience.clear();
    m_support.clear();
    m_bootstrapReady = false;
}

void AppController::triggerForcedLogout(const QString &message)
{
    if (m_signingOut) {
        clearLocalAuthSession(QStringLiteral("已退出登录"));
        return;
    }
    clearLocalAuthSession(QStringLiteral("您已被踢下线。"));
    const QString trimmed = message.trimmed();
    m_sessionKickDialogMessage = trimmed.isEmpty() ? QStringLiteral("您已被踢下线。") : trimmed;
    m_sessionKickDialogVisible = true;
    Q_EMIT sessionKickDialogMessageChanged();
    Q_EMIT sessionKickDialogVisibleChanged();
}

void AppController::dismissSessionKickDialog()
{
    hideSessionKickDialog();
}

void AppController::hideSessionKickDialog()
{
    if (!m_sessionKickDialogVisible && m_sessionKickDialogMessage.isEmpty())
        return;
    m_sessionKickDialogVisible = false;
    m_sessionKickDialogMessage.clear();
    Q_EMIT sessionKickDialogMessageChanged();
    Q_EMIT sessionKickDialogVisibleChanged();
}

// --- sign-in, registration and codes ---------------------------------------------------

void AppController::signIn(const QString &email, const QString &password)
{
    if (m_busy)
        return;
    if (email.trimmed().isEmpty() || password.isEmpty()) {
        updateApiError(QStringLiteral("请输入邮箱和密码。"));
        return;
    }
    const QByteArray body = orderedJsonObject({
        {QStringLiteral("email"), email.trimmed()},
        {QStringLiteral("password"), password},
        {QStringLiteral("device_id"), m_deviceId},
        {QStringLiteral("device_name"), m_deviceName},
        {QStringLiteral("device_platform"), Platform::platformLabel()},
        {QStringLiteral("device_location"), kDeviceLocation},
    });
    runAuthFlow(QString::fromLatin1(Backend::Path::kLogin), body, false);
}

void AppController::signInWithCode(const QString &email, const QString &code)
{
    if (m_busy)
        return;
    if (!plausibleEmailAndCode(email, code)) {
        updateApiError(QStringLiteral("请输入正确的邮箱地址和 6 位验证码。"));
        return;
    }
    const QByteArray body = orderedJsonObject({
        {QStringLiteral("email"), email.trimmed()},
        {QStringLiteral("code"), code.trimmed()},
        {QStringLiteral("verification_code"), code.trimmed()},
        {QStringLiteral("device_id"), m_deviceId},
        {QStringLiteral("device_name"), m_deviceName},
        {QStringLiteral("device_platform"), Platform::platformLabel()},
        {QStringLiteral("device_location"), kDeviceLocation},
    });
    runAuthFlow(QString::fromLatin1(Backend::Path::kLogin), body, false);
}

void AppController::registerAccount(const QString &email, const QString &password, const QString &name,
                                    const QString &code, const QString &inviteCode)
{
    if (m_busy)
        return;
    const QString trimmedEmail = email.trimmed();
    if (trimmedEmail.isEmpty() || password.isEmpty()) {
        updateApiError(QStringLiteral("请输入邮箱和密码。"));
        return;
    }
    const QString trimmedName = name.trimmed();
    const QByteArray body = orderedJsonObject({
        {QStringLiteral("email"), trimmedEmail},
        {QStringLiteral("password"), password},
        {QStringLiteral("name"), trimmedName.isEmpty() ? trimmedEmail.section(QLatin1Char('@'), 0, 0) : trimmedName},
        {QStringLiteral("code"), code.trimmed()},
        {QStringLiteral("invite_code"), inviteCode.trimmed()},
        {QStringLiteral("device_id"), m_deviceId},
        {QStringLiteral("device_name"), m_deviceName},
        {QStringLiteral("device_platform"), Platform::platformLabel()},
        {QStringLiteral("device_location"), kDeviceLocation},
    });
    runAuthFlow(QString::fromLatin1(Backend::Path::kRegister), body, true);
}

void AppController::runAuthFlow(const QString &path, const QByteArray &body, bool registration)
{
    setBusy(true);
    hideSessionKickDialog();
    // Nothing of the previous session may continue: neither its requests
    // nor a connection attempt.
    advanceSessionGeneration();
    ++m_workflowGeneration;
    resetConnectionWorkflow();
    m_serverConfig.clear();
    m_serverConfigNodeId.clear();

    requestRawAsync(
        QStringLiteral("POST"), path, body, QStringLiteral("application/json"), false,
        [this, registration](const QByteArray &answer, bool success) {
            const QVariantMap response = QJsonDocument::fromJson(answer).object().toVariantMap();
            if (!success || response.isEmpty()) {
                setBusy(false);
                return;
            }
            const QVariantMap user = response.value(QStringLiteral("user")).toMap();
            m_authToken = response.value(QStringLiteral("token")).toString();
            m_authEmail = user.value(QStringLiteral("email")).toString();
            m_selectedNodeId = user.value(QStringLiteral("selected_node_id")).toString();
            m_selectedPlanId = user.value(QStringLiteral("active_plan_id")).toString();
            m_activePlanName = user.value(QStringLiteral("active_plan_name")).toString();
            m_membershipLabel = user.value(QStringLiteral("membership_label")).toString();
            m_planType = user.value(QStringLiteral("plan_type")).toString();
            m_planExpiresAt = user.value(QStringLiteral("plan_expires_at")).toString();
            m_hasActiveMembership = user.value(QStringLiteral("membership_active")).toBool();
            m_loggedIn = !m_authToken.isEmpty();
            m_statusText = registration ? QStringLiteral("注册成功，已自动登录") : QStringLiteral("登录成功");
            persistLocalAuthSession();
            Q_EMIT loggedInChanged();
            Q_EMIT authChanged();
            Q_EMIT currentPlanChanged();
            Q_EMIT statusTextChanged();

            m_bootstrapReady = false;
            const quint64 session = m_sessionGeneration;
            loadBootstrapAsync(
                [this, registration, session](bool ok) {
                    if (session != m_sessionGeneration) {
                        // Ended meanwhile (a forced logout): the authentication page stays.
                        setBusy(false);
                        return;
                    }
                    if (!ok) {
                        setStatusText(registration ? QStringLiteral("注册成功，但节点同步失败")
                                                   : QStringLiteral("登录成功，但节点同步失败"));
                        updateApiError(registration
                                           ? QStringLiteral("注册成功，但节点和配置还没同步下来，请稍后重试。")
                                           : QStringLiteral("登录成功，但节点和配置还没同步下来，请稍后重试。"));
                    }
                    setCurrentPage(QStringLiteral("connect"));
                    setBusy(false);
                    if (ok)
                        QTimer::singleShot(0, this, &AppController::refreshRemoteConfigPreview);
                    // A tunnel still up from before is this session's now.
                    QTimer::singleShot(0, this, [this] { reattachRunningTunnel(QStringLiteral("sign-in")); });
                },
                true);
        },
        true);
}

QString AppController::sendVerificationCode(const QString &email, const QString &purpose)
{
    if (m_busy)
        return QString();
    const QString trimmedEmail = email.trimmed();
    if (trimmedEmail.isEmpty() || !trimmedEmail.contains(QLatin1Char('@'))) {
        updateApiError(QStringLiteral("请输入有效的邮箱地址。"));
        return QString();
    }
    setBusy(true);
    const QVariantMap response = requestJsonDocument(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kSendCode),
        orderedJsonObject({{QStringLiteral("email"), trimmedEmail}, {QStringLiteral("use"), purposeOrDefault(purpose)}}),
        QStringLiteral("application/json"), false);
    if (response.isEmpty()) {
        setBusy(false);
        return QString();
    }
    setStatusText(QStringLiteral("验证码已发送，请查看邮箱。"));
    setBusy(false);
    return QStringLiteral("sent");
}

bool AppController::verifyCode(const QString &email, const QString &purpose, const QString &code)
{
    if (m_busy)
        return false;
    if (!plausibleEmailAndCode(email, code)) {
        updateApiError(QStringLiteral("请输入正确的邮箱地址和 6 位验证码。"));
        return false;
    }
    setBusy(true);
    const QVariantMap response = requestJsonDocument(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kVerifyCode),
        orderedJsonObject({{QStringLiteral("email"), email.trimmed()},
                           {QStringLiteral("use"), purposeOrDefault(purpose)},
                           {QStringLiteral("code"), code.trimmed()}}),
        QStringLiteral("application/json"), false);
    const bool verified = response.value(QStringLiteral("verified")).toBool();
    if (verified)
        setStatusText(QStringLiteral("邮箱验证成功"));
    setBusy(false);
    return verified;
}

// --- passwords, deletion and sign-out ---------------------------------------------------

void AppController::resetPassword(const QString &email, const QString &password, const QString &code)
{
    if (m_busy)
        return;
    if (email.trimmed().isEmpty() || password.isEmpty()) {
        updateApiError(QStringLiteral("请输入邮箱和新密码。"));
        return;
    }
    setBusy(true);
    const QVariantMap response = requestJsonDocument(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kResetPassword),
        orderedJsonObject({{QStringLiteral("email"), email.trimmed()},
                           {QStringLiteral("password"), password},
                           {QStringLiteral("code"), code.trimmed()}}),
        QStringLiteral("application/json"), false);
    if (!response.isEmpty())
        clearLocalAuthSession(QStringLiteral("密码已更新，请重新登录。"));
    setBusy(false);
}

void AppController::changePassword(const QString &currentPassword, const QString &newPassword)
{
    if (m_busy)
        return;
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再修改密码。"));
        return;
    }
    if (currentPassword.isEmpty() || newPassword.size() < 8) {
        updateApiError(QStringLiteral("请输入旧密码，并确保新密码至少 8 位。"));
        return;
    }
    setBusy(true);
    const QVariantMap response = requestJsonDocument(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kAccountPassword),
        orderedJsonObject({{QStringLiteral("current_password"), currentPassword},
                           {QStringLiteral("new_password"), newPassword}}),
        QStringLiteral("application/json"), true);
    if (!response.isEmpty())
        clearLocalAuthSession(QStringLiteral("密码已更新，请重新登录。"));
    setBusy(false);
}

void AppController::deleteAccount()
{
    if (m_busy)
        return;
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再注销账号。"));
        return;
    }
    setBusy(true);
    const QVariantMap response =
        requestJson(QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kAccountDelete), QVariantMap(), true);
    setBusy(false);
    if (response.isEmpty())
        return;
    // The account is gone: sign-out then ends the session without calling the server.
    m_loggedIn = false;
    signOut();
}

void AppController::signOut()
{
    if (m_busy)
        return;
    ++m_workflowGeneration;
    resetConnectionWorkflow();
    hideSessionKickDialog();
    if (m_engine->running()) {
        appendDiagnosticLog(QStringLiteral("Stopping VPN: user signed out.\n"));
        m_engine->stop();
    }
    if (m_loggedIn) {
        m_signingOut = true;
        stopEventStream();
        const QByteArray answer = requestRaw(QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kLogout),
                                             QByteArrayLiteral("{}"), QStringLiteral("application/json"), true, true);
        if (answer.isEmpty()) {
            if (m_loggedIn) {
                // The server did not confirm: the session stays.
                m_signingOut = false;
                startEventStreamIfNeeded();
            }
            return;
        }
    }
    clearLocalAuthSession(QStringLiteral("已退出登录"));
}

// --- devices ----------------------------------------------------------------------------

QVariantMap AppController::currentClientDevice() const
{
    return QVariantMap{
        {QStringLiteral("device_id"), m_deviceId},
        {QStringLiteral("device_name"), m_deviceName},
        {QStringLiteral("device_platform"), Platform::platformLabel()},
        {QStringLiteral("device_location"), kDeviceLocation},
    };
}

void AppController::revokeDevice(const QString &deviceId)
{
    if (m_busy)
        return;
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再管理设备。"));
        return;
    }
    const QString id = deviceId.trimmed();
    if (id.isEmpty()) {
        updateApiError(QStringLiteral("设备 ID 为空，无法下线。"));
        return;
    }
    setBusy(true);
    const QVariantMap response = requestJson(QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kDevicesRevoke),
                                             QVariantMap{{QStringLiteral("device_id"), id}}, true);
    setBusy(false);
    if (!response.isEmpty()) {
        loadBootstrap();
        // Said on the devices page as it happens; the home status line keeps telling the tunnel's state.
        updateToastMessage(QStringLiteral("设备已下线"));
        recomputeIdleStatusText();
    }
}
