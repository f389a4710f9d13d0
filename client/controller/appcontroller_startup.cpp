#include "appcontroller.h"

#include "api/retrybackoff.h"
#include "i18n/placenames.h"
#include "i18n/translations.h"

#include <QNetworkInformation>
#include <QTimer>

namespace {

const QString kOfflineStatus = QStringLiteral("暂时无法连接服务器，网络恢复后自动重试");

} // namespace

// A failed start-up bootstrap is not a verdict on the session: the laptop may
// be offline at login, or the backend down for a minute. Only an answer that
// meets the forced-logout rules ends it (the transport does that on its own).
void AppController::runStartupBootstrap()
{
    if (!m_loggedIn || m_authToken.isEmpty()) {
        // No session: a tunnel left running has nobody to belong to.
        QTimer::singleShot(0, this, [this] { reattachRunningTunnel(QStringLiteral("start-up")); });
        return;
    }
    loadBootstrapForSession([this](bool success) {
        // Whatever the backend said, the tunnel's state is the service's to tell.
        if (!m_startupReattachDone)
            QTimer::singleShot(0, this, [this] { reattachRunningTunnel(QStringLiteral("start-up")); });
        if (success) {
            onBackendAnswered();
            // Out of the reply's callback: the check asks the service and may block.
            QTimer::singleShot(0, this, &AppController::maybeAutoConnectAtStart);
            return;
        }
        setBackendOffline(true);
        scheduleStartupRetry();
    });
}

void AppController::loadBootstrapForSession(std::function<void(bool)> done)
{
    if (!m_loggedIn || m_authToken.isEmpty())
        return;
    const quint64 session = m_sessionGeneration;
    loadBootstrapAsync(
        [this, session, done = std::move(done)](bool success) {
            if (session == m_sessionGeneration && m_loggedIn)
                done(success);
        },
        false);
}

// The backend answered again: the offline state ends and the status line is
// recomputed from the current state, whatever a failed request left in it.
void AppController::onBackendAnswered()
{
    m_startupRetryAttempt = 0;
    setBackendOffline(false);
    recomputeIdleStatusText();
    QTimer::singleShot(0, this, &AppController::refreshRemoteConfigPreview);
}

void AppController::scheduleStartupRetry()
{
    if (!m_startupRetryTimer) {
        m_startupRetryTimer = new QTimer(this);
        m_startupRetryTimer->setSingleShot(true);
        connect(m_startupRetryTimer, &QTimer::timeout, this, &AppController::runStartupBootstrap);
        watchNetworkReachability();
    }
    const int delay = Api::retryBackoffDelayMs(m_startupRetryAttempt++, m_startupRetryFirstMs, m_startupRetryMaxMs);
    appendDiagnosticLog(
        QStringLiteral("Start-up bootstrap failed; the session is kept, next try in %1 ms.\n").arg(delay));
    m_startupRetryTimer->start(delay);
}

void AppController::whenNetworkReturns(void (AppController::*onReturn)())
{
    // Only where the system tells us about the network; elsewhere the timers do the work.
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend())
        return;
    QNetworkInformation *information = QNetworkInformation::instance();
    if (!information || !information->supports(QNetworkInformation::Feature::Reachability))
        return;
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this, onReturn](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online
                    || reachability == QNetworkInformation::Reachability::Site)
                    (this->*onReturn)();
            });
}

void AppController::watchNetworkReachability()
{
    // The network's return starts the retry at once.
    whenNetworkReturns(&AppController::onNetworkReachable);
}

void AppController::onNetworkReachable()
{
    if (!m_backendOffline || !m_loggedIn)
        return;
    if (m_startupRetryTimer)
        m_startupRetryTimer->stop();
    runStartupBootstrap();
}

// The event stream was lost or came back: a bootstrap tells whether the backend
// answers. Unreachable shows the offline state (the session stays; the stream's
// reconnects keep trying).
void AppController::resyncWithBackend()
{
    loadBootstrapForSession([this](bool success) {
        if (success)
            onBackendAnswered();
        else
            setBackendOffline(true);
    });
}

void AppController::setStartupRetryDelaysForTesting(int firstMs, int maxMs)
{
    m_startupRetryFirstMs = firstMs;
    m_startupRetryMaxMs = maxMs;
}

void AppController::setBackendOffline(bool offline)
{
    if (!offline && m_startupRetryTimer)
        m_startupRetryTimer->stop();
    if (offline == m_backendOffline)
        return;
    m_backendOffline = offline;
    if (!offline)
        m_startupRetryAttempt = 0;
    Q_EMIT backendOfflineChanged();
    recomputeIdleStatusText();
}

void AppController::recomputeIdleStatusText()
{
    if (!m_loggedIn || m_busy)
        return;
    if (m_vpnPhase == QLatin1String("connected"))
        setStatusText(QStringLiteral("已连接"));
    else if (m_vpnPhase == QLatin1String("disconnected"))
        setStatusText(m_backendOffline ? kOfflineStatus : QStringLiteral("未连接"));
}

void AppController::setTrayAvailable(bool available)
{
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    Q_EMIT trayAvailableChanged();
}

int AppController::compareNames(const QString &left, const QString &right) const
{
    return I18n::compareNamesForLanguage(m_language, left, right);
}

QString AppController::localizedPlaceName(const QString &name, const QString &countryCode) const
{
    return I18n::localizedPlaceName(m_language, name, countryCode);
}
