#include "appcontroller.h"

#include "model/catalogdefaults.h"
#include "model/connectionrules.h"
#include "platform/autostart.h"
#include "tunnel/connectivityprobe.h"
#include "tunnel/controlapi.h"
#include "tunnel/singboxprocessmanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QNetworkInformation>
#include <QSettings>
#include <QTimer>

namespace {

const QString kAutoConnect = QStringLiteral("auto_connect");
const QString kLaunchAtLogin = QStringLiteral("launch_at_login");
const QString kReconnectOnDrop = QStringLiteral("reconnect_on_drop");
const QString kNotifyOnDrop = QStringLiteral("notify_on_drop");

const QString kDroppedStatus = QStringLiteral("连接已中断，请检查网络后重试。");
const QString kReconnectingStatus = QStringLiteral("连接已中断，正在重新连接...");

// A tunnel is judged in one or two seconds per part; the probe has its own limit.
constexpr int kHealthControlApiMs = 2000;
// Network changes come in bursts (an adapter goes, another comes): one check after they settle.
constexpr int kNetworkSettleMs = 1500;

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

// --- the four switches -----------------------------------------------------------

bool AppController::autoConnect() const
{
    return m_settings.value(kAutoConnect, false).toBool();
}

bool AppController::launchAtLogin() const
{
    return m_settings.value(kLaunchAtLogin, false).toBool();
}

bool AppController::reconnectOnDrop() const
{
    return m_settings.value(kReconnectOnDrop, true).toBool();
}

bool AppController::notifyOnDrop() const
{
    return m_settings.value(kNotifyOnDrop, true).toBool();
}

void AppController::setupEverydayUse()
{
    m_healthRestartDelaysMs = {TunnelHealth::restartDelayMs(0), TunnelHealth::restartDelayMs(1),
                               TunnelHealth::restartDelayMs(2)};
    m_healthTimer = new QTimer(this);
    m_healthTimer->setInterval(TunnelHealth::kCheckIntervalMs);
    m_healthRecheckTimer = new QTimer(this);
    m_healthRecheckTimer->setSingleShot(true);
    m_healthRecheckTimer->setInterval(TunnelHealth::kRecheckDelayMs);
    m_healthRestartTimer = new QTimer(this);
    m_healthRestartTimer->setSingleShot(true);
    m_networkSettleTimer = new QTimer(this);
    m_networkSettleTimer->setSingleShot(true);
    m_networkSettleTimer->setInterval(kNetworkSettleMs);

    connect(m_healthTimer, &QTimer::timeout, this, [this] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 elapsed = now - m_healthLastTickWallMs;
        if (TunnelHealth::resumeDetected(m_healthTimer->interval(), elapsed))
            appendDiagnosticLog(QStringLiteral("System resume detected: wall clock moved %1 ms during a %2 ms "
                                               "check interval; checking the tunnel now.\n")
                                    .arg(elapsed)
                                    .arg(m_healthTimer->interval()));
        runTunnelHealthCheck();
    });
    connect(m_healthRecheckTimer, &QTimer::timeout, this, &AppController::runTunnelHealthCheck);
    connect(m_networkSettleTimer, &QTimer::timeout, this, &AppController::runTunnelHealthCheck);
    connect(this, &AppController::vpnPhaseChanged, this, &AppController::onHealthPhaseChanged);

    // The entry follows the program: after an update or a move it names the new path.
    if (launchAtLogin())
        applyEverydaySetting(kLaunchAtLogin);
}

void AppController::applyEverydaySetting(const QString &key)
{
    if (key != kLaunchAtLogin)
        return;
    const QString program = m_launchAtLoginProgram.isEmpty()
        ? QDir::toNativeSeparators(QCoreApplication::applicationFilePath())
        : m_launchAtLoginProgram;
    const bool enable = launchAtLogin();
    const bool ok = enable ? Platform::enableLaunchAtLogin(program.toStdString()) : Platform::disableLaunchAtLogin();
    appendDiagnosticLog(QStringLiteral("Launch at login %1: program=%2 ok=%3\n")
                            .arg(enable ? QStringLiteral("enabled") : QStringLiteral("disabled"), program, boolText(ok)));
    if (ok)
        return;
    // The switch shows what the system will really do.
    m_settings.insert(kLaunchAtLogin, !enable);
    m_store->setValue(QStringLiteral("settings/%1").arg(kLaunchAtLogin), !enable);
    Q_EMIT settingsChanged();
    updateToastMessage(QStringLiteral("无法更新开机自动启动设置。"));
}

// --- connect at start ------------------------------------------------------------

bool AppController::tunnelAlreadyRunning()
{
    // The start-up re-attach has already taken over a tunnel an earlier run left.
    return m_vpnPhase == QLatin1String("connected") || m_engine->refreshRunning();
}

void AppController::maybeAutoConnectAtStart()
{
    if (m_autoConnectTried || !autoConnect() || !m_loggedIn)
        return;
    // A tunnel left by an earlier run is the re-attach's to take over first; ask again once it has looked.
    if (!m_startupReattachDone) {
        connect(this, &AppController::startupReattachFinished, this, &AppController::maybeAutoConnectAtStart,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    const bool running = tunnelAlreadyRunning();
    TunnelHealth::AutoConnectInputs inputs;
    inputs.settingOn = true;
    inputs.signedIn = m_loggedIn;
    inputs.bootstrapSucceeded = m_bootstrapReady;
    inputs.tunnelAlreadyRunning = running;
    if (!TunnelHealth::shouldAutoConnect(inputs)) {
        if (running) {
            m_autoConnectTried = true;
            appendDiagnosticLog(QStringLiteral("Auto-connect skipped: a tunnel is already running.\n"));
        }
        return;
    }
    m_autoConnectTried = true;
    if (m_vpnPhase != QLatin1String("disconnected") && m_vpnPhase != QLatin1String("failed")) {
        appendDiagnosticLog(QStringLiteral("Auto-connect skipped: phase=%1.\n").arg(m_vpnPhase));
        return;
    }
    if (!m_hasActiveMembership) {
        // No dialog at start: the status line says why nothing happened.
        const bool expired = !m_selectedPlanId.trimmed().isEmpty();
        appendDiagnosticLog(QStringLiteral("Auto-connect skipped: membership inactive expired=%1.\n").arg(boolText(expired)));
        setStatusText(expired ? QStringLiteral("套餐已过期，未自动连接。") : QStringLiteral("未购买套餐，未自动连接。"));
        return;
    }
    appendDiagnosticLog(QStringLiteral("Auto-connect at start: node=%1 mode=%2\n").arg(m_selectedNodeId, m_nodeSelectionMode));
    requestDashboardConnectionToggle();
}

// --- the health of a connected tunnel ------------------------------------------------

void AppController::setHealthTimingsForTesting(int intervalMs, int recheckMs, const QList<int> &restartDelaysMs)
{
    m_healthTimer->setInterval(intervalMs);
    m_healthRecheckTimer->setInterval(recheckMs);
    m_networkSettleTimer->setInterval(qMin(kNetworkSettleMs, recheckMs));
    m_healthRestartDelaysMs = restartDelaysMs;
}

void AppController::watchNetworkForHealth()
{
    if (m_healthNetworkWatched)
        return;
    m_healthNetworkWatched = true;
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend())
        return;
    QNetworkInformation *information = QNetworkInformation::instance();
    if (!information)
        return;
    if (information->supports(QNetworkInformation::Feature::Reachability)) {
        m_healthNetworkReachable = information->reachability() != QNetworkInformation::Reachability::Disconnected;
        connect(information, &QNetworkInformation::reachabilityChanged, this, &AppController::onSystemNetworkChanged);
    }
    if (information->supports(QNetworkInformation::Feature::TransportMedium))
        connect(information, &QNetworkInformation::transportMediumChanged, this, &AppController::onSystemNetworkChanged);
}

void AppController::onSystemNetworkChanged()
{
    QNetworkInformation *information = QNetworkInformation::instance();
    if (!information)
        return;
    const bool reachable = !information->supports(QNetworkInformation::Feature::Reachability)
        || information->reachability() != QNetworkInformation::Reachability::Disconnected;
    appendDiagnosticLog(QStringLiteral("Network changed: reachability=%1 transport=%2\n")
                            .arg(int(information->reachability()))
                            .arg(int(information->transportMedium())));
    onNetworkStateChanged(reachable);
}

void AppController::onNetworkStateChanged(bool reachable)
{
    const bool returned = reachable && !m_healthNetworkReachable;
    m_healthNetworkReachable = reachable;
    if (!reachable) {
        if (m_vpnPhase == QLatin1String("connected") || m_healthRecovering)
            appendDiagnosticLog(QStringLiteral("Network unreachable: tunnel checks and restarts wait for it.\n"));
        return;
    }
    if (m_healthRestartWaitsForNetwork && m_healthRecovering) {
        appendDiagnosticLog(QStringLiteral("Network reachable again: restarting the tunnel now.\n"));
        m_healthRestartWaitsForNetwork = false;
        m_healthRestartTimer->stop();
        const quint64 token = m_healthRecoveryToken;
        QTimer::singleShot(0, this, [this, token] { runScheduledTunnelRestart(token); });
        return;
    }
    // A change of network (or its return) is when a tunnel breaks: look at once.
    if (m_vpnPhase == QLatin1String("connected")) {
        if (returned)
            appendDiagnosticLog(QStringLiteral("Network reachable again: checking the tunnel.\n"));
        m_networkSettleTimer->start();
    }
}

void AppController::runTunnelHealthCheck()
{
    m_healthLastTickWallMs = QDateTime::currentMSecsSinceEpoch();
    if (m_vpnPhase != QLatin1String("connected") || m_healthRecovering || m_busy || !m_healthEngineSeenRunning)
        return;
    const quint64 token = m_workflowGeneration;
    TunnelHealth::Observation observation;
    observation.networkReachable = m_healthNetworkReachable;
    if (observation.networkReachable) {
        const QByteArray config = runningEngineConfig();
        observation.controlApiAnswers = ControlApi::available(config)
            ? ControlApi::answers(config, kHealthControlApiMs)
            : m_engine->refreshRunning();
        if (token != m_workflowGeneration || m_vpnPhase != QLatin1String("connected"))
            return;
        if (observation.controlApiAnswers) {
            // One target is enough to tell a working route from a broken one.
            ConnectionRules::ProbePlan plan = ConnectionRules::probePlan(
                m_connectivitySettings,
                CatalogDefaults::defaultConnectivitySettings().value(QStringLiteral("test_urls")).toStringList());
            const QStringList target = plan.targets.mid(0, 1);
            observation.probeAnswers = ConnectivityProbe::probeConnectivity(
                target, 1, 100, plan.timeoutMs, [this](const QString &line) { appendDiagnosticLog(line); });
        } else {
            observation.probeAnswers = false;
        }
        if (token != m_workflowGeneration || m_vpnPhase != QLatin1String("connected"))
            return;
    }
    const TunnelHealth::Step step = m_healthState.observe(observation, reconnectOnDrop());
    appendDiagnosticLog(QStringLiteral("Tunnel health check: node_id=%1 network=%2 control_api=%3 probe=%4 "
                                       "failures=%5 restarts=%6\n")
                            .arg(m_healthNodeId, boolText(observation.networkReachable),
                                 boolText(observation.controlApiAnswers), boolText(observation.probeAnswers))
                            .arg(m_healthState.consecutiveFailures)
                            .arg(m_healthState.restartsUsed));
    handleHealthStep(int(step), QStringLiteral("health check failed twice"));
}

void AppController::handleHealthStep(int step, const QString &reason)
{
    switch (TunnelHealth::Step(step)) {
    case TunnelHealth::Step::Healthy:
        return;
    case TunnelHealth::Step::WaitForNetwork:
        appendDiagnosticLog(QStringLiteral("Tunnel health check waits: the network is unreachable.\n"));
        return;
    case TunnelHealth::Step::CheckAgainSoon:
        appendDiagnosticLog(QStringLiteral("Tunnel health check failed once; checking again in %1 ms.\n")
                                .arg(m_healthRecheckTimer->interval()));
        m_healthRecheckTimer->start();
        return;
    case TunnelHealth::Step::Restart:
        if (!m_dropNotified)
            notifyTunnelDrop(QStringLiteral("与 %1 的连接已中断，正在重新连接。"));
        scheduleTunnelRestart(reason);
        return;
    case TunnelHealth::Step::GiveUp:
        giveUpTunnel(reason);
        return;
    }
}

void AppController::scheduleTunnelRestart(const QString &reason)
{
    const int attempt = m_healthState.restartsUsed - 1;
    const int delay = m_healthRestartDelaysMs.value(attempt, TunnelHealth::restartDelayMs(attempt));
    m_healthRecheckTimer->stop();
    m_healthRecovering = true;
    m_healthRestartWaitsForNetwork = false;
    // A token of its own: a click meanwhile (cancel, another node) ends the recovery.
    const quint64 token = ++m_workflowGeneration;
    m_healthRecoveryToken = token;
    resetConnectionWorkflow();
    setBusy(true);
    setVpnPhase(QStringLiteral("connecting"), kReconnectingStatus);
    appendDiagnosticLog(QStringLiteral("Tunnel dropped (%1): restart %2/%3 to node_id=%4 in %5 ms.\n")
                            .arg(reason)
                            .arg(attempt + 1)
                            .arg(TunnelHealth::kMaxRestarts)
                            .arg(m_healthNodeId)
                            .arg(delay));
    m_healthRestartTimer->disconnect(this);
    connect(m_healthRestartTimer, &QTimer::timeout, this, [this, token] { runScheduledTunnelRestart(token); });
    m_healthRestartTimer->start(qMax(0, delay));
}

void AppController::runScheduledTunnelRestart(quint64 token)
{
    if (!m_healthRecovering || token != m_workflowGeneration || token != m_healthRecoveryToken)
        return;
    if (!m_loggedIn) {
        m_healthRecovering = false;
        return;
    }
    if (!m_healthNetworkReachable) {
        m_healthRestartWaitsForNetwork = true;
        appendDiagnosticLog(QStringLiteral("Tunnel restart waits: the network is unreachable.\n"));
        return;
    }
    const QString target = m_healthNodeId.isEmpty() ? m_selectedNodeId.trimmed() : m_healthNodeId;
    m_directNodeId = target;
    restartTunnel(token, QStringLiteral("Restarting tunnel after a drop: node_id=%1 attempt=%2/%3\n")
                             .arg(target)
                             .arg(m_healthState.restartsUsed)
                             .arg(TunnelHealth::kMaxRestarts));
}

void AppController::giveUpTunnel(const QString &reason)
{
    appendDiagnosticLog(QStringLiteral("Tunnel gave up (%1): restarts=%2 reconnect_on_drop=%3\n")
                            .arg(reason)
                            .arg(m_healthState.restartsUsed)
                            .arg(boolText(reconnectOnDrop())));
    m_healthRecovering = false;
    m_healthRestartWaitsForNetwork = false;
    m_healthRestartTimer->stop();
    m_healthRecheckTimer->stop();
    m_healthState = TunnelHealth::State();
    const quint64 token = ++m_workflowGeneration;
    resetConnectionWorkflow();
    if (m_engine->running()) {
        appendDiagnosticLog(QStringLiteral("Stopping VPN: the tunnel no longer carries traffic.\n"));
        m_engine->stop();
    }
    if (token != m_workflowGeneration)
        return;
    updateApiError(kDroppedStatus);
    setVpnPhase(QStringLiteral("failed"), kDroppedStatus);
    setBusy(false);
    // One notification per drop: when restarts were tried, it went out with the first one.
    if (!m_dropNotified)
        notifyTunnelDrop(QStringLiteral("与 %1 的连接已中断，请检查网络后重试。"));
}

void AppController::notifyTunnelDrop(const QString &what)
{
    m_dropNotified = true;
    appendDiagnosticLog(QStringLiteral("Tunnel drop notification: shown=%1 node_id=%2\n")
                            .arg(boolText(notifyOnDrop()), m_healthNodeId));
    if (!notifyOnDrop())
        return;
    Q_EMIT trayNotificationRequested(trText(QStringLiteral("岚舟")), trText(what).arg(currentNodeName()));
}

// Drops are seen in the phase: a connected tunnel that ends without a
// disconnect, a restart or a sign-out of the user's own.
void AppController::onHealthPhaseChanged()
{
    const QString previous = m_healthPreviousPhase;
    const QString phase = m_vpnPhase;
    m_healthPreviousPhase = phase;

    const bool connectedNow = phase == QLatin1String("connected");
    if (connectedNow != m_trayIconConnected) {
        m_trayIconConnected = connectedNow;
        Q_EMIT trayIconConnectedChanged();
    }
    if (connectedNow) {
        // Only a tunnel the service really ran can drop (a phase set by hand is no tunnel).
        m_healthEngineSeenRunning = m_engine->cachedRunning();
        m_healthLastTickWallMs = QDateTime::currentMSecsSinceEpoch();
        m_healthTimer->start();
        watchNetworkForHealth();
    } else {
        m_healthTimer->stop();
        m_healthRecheckTimer->stop();
        m_networkSettleTimer->stop();
    }
    // The phase signal comes from inside setVpnPhase, which goes on after it
    // (status text, busy flag, workflow reset): decide once it has finished.
    QTimer::singleShot(0, this, [this, previous, phase] { settleHealthPhase(previous, phase); });
}

void AppController::settleHealthPhase(const QString &previous, const QString &phase)
{
    if (phase == QLatin1String("connected")) {
        if (m_healthRecovering) {
            appendDiagnosticLog(QStringLiteral("Tunnel restored: node_id=%1 after %2 restart(s).\n")
                                    .arg(m_selectedNodeId)
                                    .arg(m_healthState.restartsUsed));
            m_healthRecovering = false;
        } else {
            m_healthState = TunnelHealth::State();
        }
        m_dropNotified = false;
        m_healthNodeId = m_selectedNodeId.trimmed();
        m_healthConnectedToken = m_workflowGeneration;
        return;
    }
    if (m_healthRecovering) {
        // A restart that ended without a tunnel (its own failure or its time-out guard).
        if (phase == QLatin1String("failed") && m_vpnPhase == phase) {
            const TunnelHealth::Step step = m_healthState.restartFailed();
            handleHealthStep(int(step), QStringLiteral("restart failed"));
            return;
        }
        // Another click or workflow replaced the restart: the user decides now.
        if (m_workflowGeneration != m_healthRecoveryToken) {
            appendDiagnosticLog(QStringLiteral("Tunnel recovery ended: replaced by another request.\n"));
            m_healthRecovering = false;
            m_healthRestartWaitsForNetwork = false;
            m_healthRestartTimer->stop();
        }
        return;
    }
    if (previous != QLatin1String("connected") || phase != QLatin1String("disconnected") || m_vpnPhase != phase)
        return;
    if (!m_loggedIn || m_workflowGeneration != m_healthConnectedToken || !m_healthEngineSeenRunning)
        return;
    appendDiagnosticLog(QStringLiteral("Tunnel ended without a disconnect request: node_id=%1\n").arg(m_healthNodeId));
    const TunnelHealth::Step step = m_healthState.dropped(reconnectOnDrop());
    handleHealthStep(int(step), QStringLiteral("engine or service stopped"));
}
