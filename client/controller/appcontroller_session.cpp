#include "appcontroller.h"

#include "tunnel/singboxprocessmanager.h"

#include <QSettings>
#include <QTimer>

namespace {

const char *const kSessionKeys[] = {
    "session/token",          "session/email",           "session/selectedNodeId", "session/nodeSelectionMode",
    "session/selectedPlanId", "session/activePlanName",  "session/membershipLabel", "session/planType",
    "session/planExpiresAt",  "session/membershipActive",
};

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
    m_signingOut = false;
    m_orderPollTimer->stop();
    clearPersistedLocalAuthSession();
    m_loggedIn = false;
    m_authEmail.clear();
    m_authToken.clear();
    const QString status = message.trimmed().isEmpty() ? QStringLiteral("已退出登录") : message.trimmed();
    m_statusText = status;
    m_selectedNodeId = QStringLiteral("hk-smart");
    m_nodeSelectionMode = QStringLiteral("smart");
    m_selectedPlanId.clear();
    m_activePlanName.clear();
    m_membershipLabel.clear();
    m_planType.clear();
    m_planExpiresAt.clear();
    m_hasActiveMembership = false;
    restoreCatalogueDefaults();
    resetRuntimeTrafficStatistics();
    m_experience.clear();
    m_support.clear();
    m_trialClaimStatus.clear();
    m_bootstrapReady = false;
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
    if (!m_sessionKickDialogVisible && m_sessionKickDialogMessage.isEmpty())
        return;
    m_sessionKickDialogVisible = false;
    m_sessionKickDialogMessage.clear();
    Q_EMIT sessionKickDialogMessageChanged();
    Q_EMIT sessionKickDialogVisibleChanged();
}

// Account operations come with the account work; until then they refuse quietly.
void AppController::signIn(const QString &, const QString &) {}
void AppController::signInWithCode(const QString &, const QString &) {}
void AppController::registerAccount(const QString &, const QString &, const QString &, const QString &,
                                    const QString &)
{
}
QString AppController::sendVerificationCode(const QString &, const QString &) { return QString(); }
bool AppController::verifyCode(const QString &, const QString &, const QString &) { return false; }
void AppController::resetPassword(const QString &, const QString &, const QString &) {}
void AppController::changePassword(const QString &, const QString &) {}
void AppController::deleteAccount() {}
void AppController::revokeDevice(const QString &) {}
void AppController::signOut() {}
