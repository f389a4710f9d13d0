#include "appcontroller.h"

#include "api/apierrors.h"
#include "api/backendcontract.h"
#include "model/billing.h"
#include "model/maphelpers.h"
#include "model/membershiprules.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QScopedValueRollback>
#include <QTimer>
#include <QUrl>

namespace {

QString path(const char *constant)
{
    return QString::fromLatin1(constant);
}

} // namespace

// --- plans and checkout ----------------------------------------------------------

// The four order calls are ignored while another runs; a missing input or
// session is reported without a request. True when the call may go out (busy then set).
bool AppController::beginPlanCall(const QString &planId)
{
    if (m_busy)
        return false;
    if (planId.isEmpty()) {
        updateApiError(QStringLiteral("套餐信息缺失，请刷新后重试。"));
        return false;
    }
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再创建订单。"));
        return false;
    }
    setBusy(true);
    return true;
}

bool AppController::beginOrderCall(const QString &orderId, const QString &signedOutText, const QString &missingText)
{
    if (m_busy)
        return false;
    if (!m_loggedIn || orderId.isEmpty()) {
        updateApiError(!m_loggedIn ? signedOutText : missingText);
        return false;
    }
    setBusy(true);
    return true;
}

void AppController::choosePlan(const QString &planId)
{
    const QString id = planId.trimmed();
    if (!beginPlanCall(id))
        return;
    requestJsonAsync(
        QStringLiteral("POST"), path(Backend::Path::kPaymentsCheckout), {{QStringLiteral("plan_id"), id}}, true,
        [this](const QVariantMap &response, bool success) { finishCheckout(response, success, false); }, true);
}

void AppController::resumeOrder(const QString &orderId)
{
    const QString id = orderId.trimmed();
    if (!beginOrderCall(id, QStringLiteral("请先登录后再继续支付。"), QStringLiteral("订单信息缺失，请重新发起支付。")))
        return;
    requestJsonAsync(
        QStringLiteral("POST"), path(Backend::Path::kPaymentsCheckout), {{QStringLiteral("order_id"), id}}, true,
        [this](const QVariantMap &response, bool success) { finishCheckout(response, success, true); }, true);
}

void AppController::finishCheckout(const QVariantMap &response, bool success, bool resuming)
{
    setBusy(false);
    const QString url = Billing::checkoutUrlFromResponse(response);
    if (url.isEmpty() && (!success || response.isEmpty())) {
        // The transport has told the user; a resumed order may have changed meanwhile.
        if (resuming) {
            refreshBillingExperienceAsync();
            loadBootstrapAsync(nullptr, true);
        }
        return;
    }
    if (!url.isEmpty())
        updateApiError(QString());

    const QString orderId = Billing::checkoutOrderIdFromResponse(response);
    if (!url.isEmpty()) {
        const bool opened = openCheckoutUrl(url);
        m_statusText = opened ? QStringLiteral("已打开支付页面，请完成支付后返回刷新。")
                              : QStringLiteral("无法打开支付页面，请在账单页继续支付。");
        // Only a web address is ever offered to copy.
        const bool offerable = Billing::isOpenableCheckoutUrl(QUrl(url.trimmed(), QUrl::StrictMode));
        setCheckoutNotice({{QStringLiteral("opened"), opened},
                           {QStringLiteral("url"), offerable ? url.trimmed() : QString()},
                           {QStringLiteral("orderId"), orderId},
                           {QStringLiteral("message"), m_statusText}});
    } else {
        m_statusText = resuming ? QStringLiteral("订单已恢复，请在账单页继续支付。")
                                : QStringLiteral("订单已创建，请在账单页继续支付。");
    }
    Q_EMIT statusTextChanged();
    if (!orderId.isEmpty())
        startPendingOrderPolling(orderId);
    loadBootstrapAsync(nullptr, false);
}

bool AppController::openCheckoutUrl(const QString &url)
{
    // The address comes from the server: only a web page may reach the
    // system's handler, never a file, a share or another program's scheme.
    // It is read tolerantly, as a browser would: a payment page with a raw "|"
    // or a blank in its query is still that page.
    const QUrl target = Billing::checkoutPageUrl(url);
    if (!target.isValid()) {
        const QString read = QUrl::fromUserInput(url.trimmed()).scheme();
        const QString scheme = read.isEmpty() ? QStringLiteral("none") : read;
        appendDiagnosticLog(QStringLiteral("Checkout URL refused: not an http or https address (scheme=%1)\n").arg(scheme));
        return false;
    }
    const bool opened = m_urlOpener ? m_urlOpener(target) : QDesktopServices::openUrl(target);
    if (!opened)
        appendDiagnosticLog(QStringLiteral("Checkout page could not be opened: host=%1\n").arg(target.host()));
    return opened;
}

void AppController::preparePlanCheckout(const QString &planId, const QString &planName)
{
    const QString id = planId.trimmed();
    const QString name = planName.trimmed();
    if (!beginPlanCall(id))
        return;
    requestJsonAsync(
        QStringLiteral("GET"), path(Backend::Path::kOrders), QVariantMap(), true,
        [this, planId, planName, id, name](const QVariantMap &response, bool success) {
            setBusy(false);
            refreshBillingExperienceAsync();
            if (!success)
                return;
            const Billing::PendingOrderMatch match =
                Billing::pendingOrderForPlan(response.value(QStringLiteral("items")).toList(), id);
            if (match.orderId.isEmpty()) {
                Q_EMIT planCheckoutRequested(planId, planName, QString(), false);
                return;
            }
            const QString matchedPlanId = match.planId.isEmpty() ? id : match.planId;
            QString matchedName = match.planName;
            if (matchedName.isEmpty())
                matchedName = Billing::planNameById(m_plans, matchedPlanId);
            if (matchedName.isEmpty())
                matchedName = name;
            Q_EMIT planCheckoutRequested(matchedPlanId, matchedName, match.orderId, true);
        },
        true);
}

void AppController::cancelOrder(const QString &orderId)
{
    const QString id = orderId.trimmed();
    if (!beginOrderCall(id, QStringLiteral("请先登录后再取消订单。"), QStringLiteral("订单信息缺失，请刷新订单列表后重试。")))
        return;
    requestJsonAsync(
        QStringLiteral("POST"), path(Backend::Path::kOrdersCancel), {{QStringLiteral("order_id"), id}}, true,
        [this, id](const QVariantMap &, bool success) {
            setBusy(false);
            if (!success) {
                refreshBillingExperienceAsync();
                return;
            }
            stopPendingOrderPolling();
            QVariantMap billing = m_experience.value(QStringLiteral("billing")).toMap();
            if (Billing::markOrderCanceled(billing, id)) {
                m_experience.insert(QStringLiteral("billing"), billing);
                Q_EMIT experienceChanged();
            }
            m_statusText = QStringLiteral("订单已取消。");
            Q_EMIT statusTextChanged();
            refreshBillingExperienceAsync();
            loadBootstrapAsync(nullptr, false);
        },
        true);
}

QVariantMap AppController::selectedPlan() const
{
    const QString id = m_selectedPlanId.trimmed();
    if (id.isEmpty())
        return QVariantMap();
    for (const QVariant &entry : m_plans) {
        const QVariantMap plan = entry.toMap();
        if (plan.value(QStringLiteral("id")).toString() == id)
            return plan;
    }
    return QVariantMap();
}

// --- the pending-order watch ------------------------------------------------------

void AppController::setPendingOrderPollIntervalsForTesting(int fastMs, int slowMs)
{
    m_orderPollFastMs = qMax(1, fastMs);
    m_orderPollSlowMs = qMax(1, slowMs);
    updatePendingOrderPollInterval();
}

bool AppController::pendingOrderWatchRunning() const
{
    return m_orderPollTimer->isActive();
}

int AppController::pendingOrderPollInterval() const
{
    return m_orderPollTimer->interval();
}

void AppController::startPendingOrderPolling(const QString &orderId)
{
    const QString id = orderId.trimmed();
    if (!m_loggedIn || id.isEmpty()) {
        stopPendingOrderPolling();
        return;
    }
    // The order already watched keeps its counters.
    if (id == m_pendingOrderId && m_orderPollTimer->isActive())
        return;
    const Billing::PollBudget budget = Billing::freshPollBudget();
    m_pendingOrderId = id;
    m_pendingOrderPollsLeft = budget.left;
    m_pendingOrderFastPollsLeft = budget.fastLeft;
    // A poll still out for an earlier order is ignored when it lands.
    m_pendingOrderPollInFlight = false;
    m_orderPollTimer->setInterval(m_orderPollFastMs);
    if (!m_orderPollTimer->isActive())
        m_orderPollTimer->start();
    QTimer::singleShot(0, this, &AppController::pollPendingOrderStatus);
}

void AppController::stopPendingOrderPolling()
{
    m_orderPollTimer->stop();
    m_pendingOrderId.clear();
    m_pendingOrderPollsLeft = 0;
    m_pendingOrderFastPollsLeft = 0;
    m_pendingOrderPollInFlight = false;
}

bool AppController::consumePendingOrderPollAttempt()
{
    Billing::PollBudget budget{m_pendingOrderPollsLeft, m_pendingOrderFastPollsLeft};
    const bool more = Billing::consumePollAttempt(budget);
    m_pendingOrderPollsLeft = budget.left;
    m_pendingOrderFastPollsLeft = budget.fastLeft;
    if (!more) {
        stopPendingOrderPolling();
        return false;
    }
    updatePendingOrderPollInterval();
    return true;
}

void AppController::updatePendingOrderPollInterval()
{
    const int interval = Billing::pollIntervalMs(
        Billing::PollBudget{m_pendingOrderPollsLeft, m_pendingOrderFastPollsLeft}, m_orderPollFastMs, m_orderPollSlowMs);
    if (m_orderPollTimer->interval() != interval)
        m_orderPollTimer->setInterval(interval);
}

void AppController::syncPendingOrderPolling(const QVariantList &orders)
{
    // The watched order stays watched while the server lists it: settled
    // there, it is announced (paid, canceled) before another pending order
    // is taken up, by the reload that announcement makes.
    const QVariantMap watched = Billing::orderById(orders, m_pendingOrderId);
    if (m_loggedIn && !watched.isEmpty()) {
        const QString status = Billing::normalizedStatus(watched.value(QStringLiteral("status")));
        if (status.isEmpty() || status == QLatin1String("pending"))
            return;
        stopPendingOrderPolling();
        handleResolvedPendingOrder(status);
        return;
    }
    const QString id = Billing::firstPendingOrderId(orders);
    if (m_loggedIn && !id.isEmpty()) {
        startPendingOrderPolling(id);
        return;
    }
    // The watched order was settled elsewhere (its checkout page, another
    // device) and a reload saw it first: one last confirmation tells the user
    // how it ended instead of dropping the watch silently.
    if (m_loggedIn && !m_pendingOrderId.trimmed().isEmpty() && m_pendingOrderPollsLeft > 0) {
        pollPendingOrderStatus();
        return;
    }
    stopPendingOrderPolling();
}

void AppController::pollPendingOrderStatus()
{
    if (!m_loggedIn || m_authToken.isEmpty() || m_pendingOrderId.trimmed().isEmpty()) {
        stopPendingOrderPolling();
        return;
    }
    if (m_pendingOrderPollInFlight)
        return;
    if (m_pendingOrderPollsLeft < 1) {
        stopPendingOrderPolling();
        return;
    }
    m_pendingOrderPollInFlight = true;
    const QString orderId = m_pendingOrderId;
    // Polls are background work: no loading indicator, no error text.
    const QScopedValueRollback<bool> quiet(m_quietApiRequest, true);
    requestJsonAsync(
        QStringLiteral("POST"), path(Backend::Path::kPaymentsConfirm), {{QStringLiteral("order_id"), orderId}}, true,
        [this, orderId](const QVariantMap &response, bool success) {
            if (orderId != m_pendingOrderId)
                return;
            m_pendingOrderPollInFlight = false;
            if (!m_loggedIn) {
                stopPendingOrderPolling();
                return;
            }
            const QString status = success && !response.isEmpty() ? Billing::confirmedOrderStatus(response) : QString();
            if (status.isEmpty() || status == QLatin1String("pending")) {
                consumePendingOrderPollAttempt();
                return;
            }
            stopPendingOrderPolling();
            handleResolvedPendingOrder(status);
        },
        false);
}

void AppController::handleResolvedPendingOrder(const QString &status)
{
    dismissCheckoutNotice(); // paid or cancelled: its link leads nowhere now
    const QString normalized = Billing::normalizedStatus(status);
    if (Membership::billingStatusImpliesPurchase(normalized)) {
        m_statusText = QStringLiteral("支付已完成，正在同步套餐状态...");
        Q_EMIT statusTextChanged();
        loadBootstrapAsync(
            [this](bool success) {
                if (!success) {
                    refreshExperienceSectionAsync(QStringLiteral("billing"), path(Backend::Path::kBilling), nullptr,
                                                  false);
                    return;
                }
                m_statusText = QStringLiteral("支付成功，套餐状态已更新。");
                Q_EMIT statusTextChanged();
                refreshRemoteConfigPreview();
            },
            false);
        return;
    }
    if (normalized == QLatin1String("canceled") || normalized == QLatin1String("cancelled")) {
        m_statusText = QStringLiteral("订单已取消。");
        Q_EMIT statusTextChanged();
        updateApiError(QStringLiteral("该订单已取消，请重新创建新订单。"));
        loadBootstrapAsync(nullptr, false);
        return;
    }
    refreshExperienceSectionAsync(QStringLiteral("billing"), path(Backend::Path::kBilling), nullptr, false);
}

// --- the daily trial ------------------------------------------------------------------

void AppController::claimDailyTrial()
{
    if (!m_loggedIn) {
        const QString text = QStringLiteral("请先登录后再领取体验会员。");
        if (text != m_toastMessage) {
            m_toastMessage = text;
            Q_EMIT toastMessageChanged();
        }
        return;
    }
    // A second press while the first claim is out would claim twice.
    if (m_trialClaimInFlight)
        return;
    setTrialClaimInFlight(true);
    requestJsonAsync(
        QStringLiteral("POST"), path(Backend::Path::kTrialClaim), QVariantMap(), true,
        [this](const QVariantMap &response, bool success) {
            setTrialClaimInFlight(false);
            if (!success || response.isEmpty())
                return;
            switch (Billing::trialClaimOutcome(response)) {
            case Billing::TrialClaimOutcome::Claimed:
                break;
            case Billing::TrialClaimOutcome::Refused:
                if (response.contains(QStringLiteral("ok"))) {
                    updateToastMessage(
                        Api::friendlyErrorMessage(response.value(QStringLiteral("error")).toString(), 0));
                    return;
                }
                [[fallthrough]];
            case Billing::TrialClaimOutcome::Unknown:
                // No verdict in the answer: the user hears so, and the next
                // bootstrap shows what the server made of it.
                updateToastMessage(QStringLiteral("体验会员领取失败，请稍后重试。"));
                loadBootstrapAsync(nullptr, false);
                return;
            }
            const QVariantMap user = response.value(QStringLiteral("user")).toMap();
            if (!user.isEmpty()) {
                const QString email = user.value(QStringLiteral("email")).toString().trimmed();
                if (!email.isEmpty())
                    m_authEmail = email;
                const auto take = [&user](const char *key, QString *field) {
                    const QString name = QString::fromLatin1(key);
                    if (user.contains(name))
                        *field = user.value(name).toString();
                };
                take("active_plan_name", &m_activePlanName);
                take("membership_label", &m_membershipLabel);
                take("plan_type", &m_planType);
                take("plan_expires_at", &m_planExpiresAt);
                if (user.contains(QStringLiteral("membership_active")))
                    m_hasActiveMembership = user.value(QStringLiteral("membership_active")).toBool();
                if (m_planType == QLatin1String("trial")) {
                    if (m_activePlanName.trimmed().isEmpty())
                        m_activePlanName = QStringLiteral("体验会员");
                    if (m_membershipLabel.trimmed().isEmpty())
                        m_membershipLabel = QStringLiteral("体验会员");
                }
            }
            const QVariantMap trial = MapHelpers::firstNestedMap(
                response, {QStringLiteral("status"), QStringLiteral("trial"), QStringLiteral("trial_claim")});
            updateTrialClaimStatus(Membership::normalizedTrialClaimStatus(user, trial));
            persistLocalAuthSession();
            Q_EMIT currentPlanChanged();
            Q_EMIT authChanged();
            updateToastMessage(QStringLiteral("体验会员已领取。"));
            loadBootstrapAsync(nullptr, false);
        },
        false);
}

void AppController::setTrialClaimInFlight(bool inFlight)
{
    if (inFlight == m_trialClaimInFlight)
        return;
    m_trialClaimInFlight = inFlight;
    Q_EMIT trialClaimInFlightChanged();
}

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


void AppController::setCheckoutNotice(const QVariantMap &notice)
{
    if (notice == m_checkoutNotice)
        return;
    m_checkoutNotice = notice;
    Q_EMIT checkoutNoticeChanged();
}

void AppController::dismissCheckoutNotice()
{
    setCheckoutNotice(QVariantMap());
}
