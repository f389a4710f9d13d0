#include "appcontroller.h"

#include <QDateTime>

// Plans, orders, membership prompts and the daily trial come with the billing work.
void AppController::preparePlanCheckout(const QString &, const QString &) {}
void AppController::choosePlan(const QString &) {}
void AppController::resumeOrder(const QString &) {}
void AppController::cancelOrder(const QString &) {}
void AppController::pollPendingOrders() {}
void AppController::claimDailyTrial() {}

QString AppController::currentPlanName() const
{
    if (m_hasActiveMembership && m_planType.trimmed().compare(QLatin1String("trial"), Qt::CaseInsensitive) == 0) {
        const QString label = m_membershipLabel.trimmed();
        return label.isEmpty() ? QStringLiteral("体验会员") : label;
    }
    if (m_selectedPlanId.trimmed().isEmpty() && !m_hasActiveMembership && m_planExpiresAt.trimmed().isEmpty())
        return QStringLiteral("未购买套餐");
    const QString active = m_activePlanName.trimmed();
    if (!active.isEmpty())
        return active;
    for (const QVariant &entry : m_plans) {
        const QVariantMap plan = entry.toMap();
        if (plan.value(QStringLiteral("id")).toString() != m_selectedPlanId.trimmed())
            continue;
        const QString name = plan.value(QStringLiteral("name")).toString().trimmed();
        if (!name.isEmpty())
            return name;
        break;
    }
    return QStringLiteral("套餐待同步");
}

QString AppController::currentPlanStatusText() const
{
    const QString expiry = m_planExpiresAt.trimmed();
    if (m_selectedPlanId.trimmed().isEmpty() && !m_hasActiveMembership && expiry.isEmpty())
        return QStringLiteral("未购买套餐");
    if (!m_hasActiveMembership)
        return expiry.isEmpty() ? QStringLiteral("套餐待同步") : QStringLiteral("已过期");
    const QDateTime moment = QDateTime::fromString(expiry, Qt::ISODateWithMs);
    if (expiry.isEmpty() || !moment.isValid())
        return QStringLiteral("续费日期待同步");
    return moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd"));
}

void AppController::showMembershipDialog(const QString &message)
{
    const QString trimmed = message.trimmed();
    const QString text = trimmed.isEmpty() ? QStringLiteral("当前账号暂无有效会员资质，请先购买套餐后再连接。") : trimmed;
    if (text != m_membershipDialogMessage) {
        m_membershipDialogMessage = text;
        Q_EMIT membershipDialogMessageChanged();
    }
    if (!m_membershipDialogVisible) {
        m_membershipDialogVisible = true;
        Q_EMIT membershipDialogVisibleChanged();
    }
}

void AppController::dismissMembershipDialog()
{
    if (!m_membershipDialogVisible && m_membershipDialogMessage.isEmpty())
        return;
    m_membershipDialogVisible = false;
    m_membershipDialogMessage.clear();
    Q_EMIT membershipDialogMessageChanged();
    Q_EMIT membershipDialogVisibleChanged();
}
// Pending-order tracking comes with the billing work.
void AppController::syncPendingOrderPolling(const QVariantList &) {}
