#include "appcontroller.h"

#include "api/apierrors.h"
#include "api/apirequest.h"
#include "api/backendcontract.h"
#include "model/catalogdefaults.h"
#include "model/connectionrules.h"
#include "tunnel/configbuilder.h"
#include "tunnel/confignormalization.h"
#include "tunnel/configrepository.h"
#include "tunnel/connectivityprobe.h"
#include "tunnel/controlapi.h"
#include "tunnel/singboxprocessmanager.h"
#include "tunnel/trafficsnapshot.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTimer>

namespace {

// The first "/traffic" line comes about a second after the request.
constexpr int kReadinessTrafficReadMs = 1500;
constexpr int kControlApiCheckMs = 1000;
constexpr int kClashModeAttemptMs = 1800;
// A running tunnel found at start: its control API gets this many tries, half
// a second apart, before the tunnel counts as broken and is stopped.
constexpr int kReattachApiTries = 10;

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

bool isInProgress(const QString &phase)
{
    return phase == QLatin1String("connecting") || phase == QLatin1String("verifying");
}

QString nodeName(const QVariantMap &node)
{
    const QString name = node.value(QStringLiteral("name")).toString();
    return name.isEmpty() ? node.value(QStringLiteral("id")).toString() : name;
}

QString nodeId(const QVariantMap &node)
{
    return node.value(QStringLiteral("id")).toString().trimmed();
}

} // namespace

// --- phase ---------------------------------------------------------------------------

void AppController::setVpnPhase(const QString &phase, const QString &status)
{
    const bool phaseChanged = phase != m_vpnPhase;
    if (phaseChanged) {
        m_vpnPhase = phase;
        if (phase == QLatin1String("connected")) {
            clearNetworkLoading();
            if (!m_connectedAt.isValid())
                m_connectedAt = QDateTime::currentDateTimeUtc();
            startRuntimeSpeedProbe();
            publishRuntimeTrafficStats(false);
            if (!m_trafficTimer->isActive())
                m_trafficTimer->start();
        } else if (phase == QLatin1String("failed")) {
            clearNetworkLoading();
            resetRuntimeTrafficStats(false);
        } else if (phase == QLatin1String("disconnected")) {
            clearNetworkLoading();
        }
        if (phase != QLatin1String("connected"))
            m_connectedNodeId.clear();
        Q_EMIT vpnPhaseChanged();
        Q_EMIT connectedChanged();
    }
    const bool statusChanged = status != m_statusText;
    if (statusChanged) {
        m_statusText = status;
        Q_EMIT statusTextChanged();
    }
    if (phaseChanged || statusChanged)
        Q_EMIT connectionStatusTextChanged();
    if (phaseChanged || statusChanged)
        appendDiagnosticLog(QStringLiteral("VPN phase update: phase=%1; status=%2; running=%3; selected_node=%4\n")
                                .arg(m_vpnPhase, m_statusText, boolText(m_engine->cachedRunning()), m_selectedNodeId));
}

// --- buttons ---------------------------------------------------------------------------

void AppController::toggleConnection()
{
    if (m_vpnPhase == QLatin1String("disconnecting"))
        return;
    const bool inProgress = isInProgress(m_vpnPhase);
    const bool running = m_engine->running();

    if (!running && m_vpnPhase != QLatin1String("connected") && !inProgress) {
        if (!m_loggedIn) {
            failNotSignedInGate();
            return;
        }
        const quint64 token = ++m_workflowGeneration;
        resetConnectionWorkflow();
        beginChain(token);
        setBusy(true);
        QTimer::singleShot(0, this, [this, token] {
            if (token == m_workflowGeneration)
                runConnectionWorkflow(token);
        });
        return;
    }

    const quint64 token = ++m_workflowGeneration;
    resetConnectionWorkflow();
    beginChain(token);
    setBusy(true);
    setVpnPhase(QStringLiteral("disconnecting"), QStringLiteral("正在断开 VPN..."));
    appendDiagnosticLog(inProgress ? QStringLiteral("Stopping VPN: user cancelled connection workflow from dashboard.\n")
                                   : QStringLiteral("Stopping VPN: user requested disconnect from dashboard.\n"));
    stopEngineAndSettle(token, nullptr);
}

void AppController::stopEngineAndSettle(quint64 token, std::function<void()> settled)
{
    m_engine->stop();
    waitForSystemTunnelDisconnected(
        token, 24, QStringLiteral("正在等待系统断开当前 VPN..."),
        [this, token, settled] {
            if (token != m_workflowGeneration)
                return;
            setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
            setBusy(false);
            resetConnectionWorkflow();
            if (settled)
                settled();
        },
        [this, token, settled](const QString &message) {
            if (token != m_workflowGeneration)
                return;
            updateApiError(message);
            setVpnPhase(QStringLiteral("failed"), QStringLiteral("断开超时"));
            setBusy(false);
            resetConnectionWorkflow();
            if (settled)
                settled();
        });
}

void AppController::requestDashboardConnectionToggle()
{
    const bool running = m_engine->running();
    appendDiagnosticLog(QStringLiteral("Dashboard connection click: phase=%1 logged_in=%2 membership=%3 "
                                       "service_running=%4 node=%5 bootstrap_ready=%6\n")
                            .arg(m_vpnPhase, boolText(m_loggedIn), boolText(m_hasActiveMembership), boolText(running),
                                 m_selectedNodeId, boolText(m_bootstrapReady)));
    updateApiError(QString());

    if (isInProgress(m_vpnPhase)) {
        appendDiagnosticLog(QStringLiteral("Dashboard connection click: cancelling connection workflow.\n"));
        toggleConnection();
        return;
    }
    if (m_vpnPhase == QLatin1String("disconnecting")) {
        appendDiagnosticLog(
            QStringLiteral("Dashboard connection click ignored: disconnect is already in progress.\n"));
        return;
    }
    if (running && m_vpnPhase != QLatin1String("connected") && m_loggedIn && !workflowRunning()) {
        // The page said the tunnel was down while the service runs one: the
        // press asked for a connection, and there is one to take over.
        appendDiagnosticLog(QStringLiteral("Dashboard connection click: service already running; re-attaching.\n"));
        reattachRunningTunnel(QStringLiteral("press"));
        return;
    }
    if (running || m_vpnPhase == QLatin1String("connected")) {
        toggleConnection();
        return;
    }
    if (!m_loggedIn) {
        appendDiagnosticLog(QStringLiteral("Dashboard connection blocked: user is not logged in.\n"));
        failNotSignedInGate();
        return;
    }
    if (m_hasActiveMembership) {
        const quint64 token = ++m_workflowGeneration;
        resetConnectionWorkflow();
        beginChain(token);
        setBusy(true);
        setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
        QTimer::singleShot(0, this, [this, token] {
            if (token == m_workflowGeneration)
                runConnectionWorkflow(token);
        });
        return;
    }
    appendDiagnosticLog(QStringLiteral("Dashboard connection blocked: membership inactive expired=%1 selected_plan=%2\n")
                            .arg(boolText(!m_selectedPlanId.trimmed().isEmpty()), m_selectedPlanId));
    failMembershipGate(true);
}

void AppController::promptMembershipDialogForConnection()
{
    updateApiError(QString());
    failMembershipGate(true);
}

// --- gates -------------------------------------------------------------------------------

void AppController::failNotSignedInGate()
{
    updateApiError(QStringLiteral("请先登录，再启动 VPN 连接。"));
    m_chainToken = 0;
    setVpnPhase(QStringLiteral("failed"), QStringLiteral("需要登录"));
    setCurrentPage(QStringLiteral("auth"));
    setBusy(false);
}

void AppController::failMembershipGate(bool dashboardWording)
{
    const bool expired = !m_selectedPlanId.trimmed().isEmpty();
    if (expired)
        showMembershipDialog(dashboardWording
                                 ? QStringLiteral("当前套餐已过期，请先续费后继续连接。也可以通过邀请好友获得额外时长。")
                                 : QStringLiteral("当前套餐已过期，请先续费后再连接。"));
    else
        showMembershipDialog(QStringLiteral("您还未购买套餐，请前往购买套餐，或者邀请好友可赠送时长。"));
    m_chainToken = 0;
    setVpnPhase(QStringLiteral("failed"), expired ? QStringLiteral("会员已过期") : QStringLiteral("未购买套餐"));
    setBusy(false);
}

bool AppController::ensureBootstrapReadyForConnection(quint64 token, std::function<void()> continuation)
{
    if (m_bootstrapReady)
        return true;
    if (!m_loggedIn)
        return false;
    updateApiError(QString());
    setBusy(true);
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("正在同步节点和连接参数..."));
    loadBootstrapAsync(
        [this, token, continuation](bool success) {
            if (token != m_workflowGeneration)
                return;
            if (success && m_bootstrapReady) {
                QTimer::singleShot(0, this, [this, token, continuation] {
                    if (token == m_workflowGeneration)
                        continuation();
                });
                return;
            }
            updateApiError(QStringLiteral("节点和连接参数同步失败，请检查网络后重试。"));
            setVpnPhase(QStringLiteral("failed"), QStringLiteral("同步失败"));
            setBusy(false);
            resetConnectionWorkflow();
        },
        false);
    return false;
}

bool AppController::passConnectionGates(quint64 token, std::function<void()> continuation)
{
    if (token != m_workflowGeneration)
        return false;
    if (!m_loggedIn) {
        failNotSignedInGate();
        return false;
    }
    // Without the catalogue the bootstrap is loaded first; the step runs again after it.
    if (!ensureBootstrapReadyForConnection(token, std::move(continuation)))
        return false;
    if (!m_hasActiveMembership) {
        failMembershipGate(false);
        return false;
    }
    return true;
}

bool AppController::singleNodeMode() const
{
    return !m_directNodeId.isEmpty() || m_nodeSelectionMode == QLatin1String("fixed");
}

// --- the workflow --------------------------------------------------------------------

void AppController::runConnectionWorkflow(quint64 token)
{
    if (!passConnectionGates(token, [this, token] { runConnectionWorkflow(token); }))
        return;

    const bool single = singleNodeMode();
    m_candidates.clear();
    if (single) {
        const QString target = m_directNodeId.isEmpty() ? m_selectedNodeId.trimmed() : m_directNodeId;
        QVariantMap found;
        for (const QVariant &entry : std::as_const(m_nodes)) {
            const QVariantMap node = entry.toMap();
            if (node.value(QStringLiteral("id")).toString() == target) {
                found = node;
                break;
            }
        }
        if (found.isEmpty()) {
            updateApiError(QStringLiteral("暂无可用节点，请稍后刷新后再试。"));
            setVpnPhase(QStringLiteral("failed"), QStringLiteral("暂无可用节点"));
            setBusy(false);
            resetConnectionWorkflow();
            return;
        }
        if (found.value(QStringLiteral("disabled")).toBool()
            || found.value(QStringLiteral("status")).toString().toLower() == QLatin1String("offline"))
            m_lastFailureMessage = QStringLiteral("当前节点无法建立连接，请稍后重试或切换节点。");
        else
            m_candidates = {found};
    } else {
        m_candidates = connectionCandidates();
        if (m_candidates.isEmpty())
            m_lastFailureMessage = QStringLiteral("当前国家下所有节点连通性验证失败，请稍后重试。");
    }

    appendDiagnosticLog(QStringLiteral("VPN connect request: workflow=%1 routing_mode=%2 selected_node=%3 "
                                       "direct_node=%4 candidate_count=%5\n")
                            .arg(token)
                            .arg(TunnelConfig::routingModeFromSettings(m_settings), m_selectedNodeId, boolText(single))
                            .arg(m_candidates.size()));
    startConnectionTimeoutGuard(token);
    setVpnPhase(QStringLiteral("connecting"),
                single ? QStringLiteral("连接中") : QStringLiteral("正在检测当前国家线路..."));
    continueConnectionWorkflow(token);
}

void AppController::continueConnectionWorkflow(quint64 token)
{
    if (!passConnectionGates(token, [this, token] { continueConnectionWorkflow(token); }))
        return;

    const bool single = singleNodeMode();
    bool latencyFallback = false;
    QVariantMap node;
    if (single)
        node = m_candidates.value(0).toMap();
    else if (!m_candidates.isEmpty())
        node = fastestReachableNode(m_candidates, m_triedIds, &latencyFallback);
    // The race runs a nested loop: a newer request may have come meanwhile.
    if (token != m_workflowGeneration)
        return;
    const QString id = nodeId(node);
    if (id.isEmpty() || (single && m_triedIds.contains(id))) {
        finishConnectionFailure(m_lastFailureMessage.isEmpty()
                                    ? QStringLiteral("当前国家下所有节点都无法建立稳定连接，请稍后重试。")
                                    : m_lastFailureMessage,
                                token);
        return;
    }

    m_triedIds.insert(id);
    ++m_attemptCount;
    appendDiagnosticLog(QStringLiteral("VPN candidate picked: workflow=%1 node_id=%2 node_name=%3 direct_node=%4 "
                                       "latency_fallback=%5 attempt=%6/%7\n")
                            .arg(token)
                            .arg(id, nodeName(node), boolText(single), boolText(latencyFallback))
                            .arg(m_attemptCount)
                            .arg(m_candidates.size()));
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));

    if (m_engine->running()) {
        appendDiagnosticLog(QStringLiteral("Stopping VPN before managed candidate start: node_id=%1\n").arg(id));
        m_engine->stop();
        waitForSystemTunnelDisconnected(
            token, 24, QStringLiteral("连接中"), [this, node, token] { prepareConnectionNode(node, token); },
            [this, node, token](const QString &message) { failConnectionAttempt(node, message, token); });
        return;
    }
    prepareConnectionNode(node, token);
}

void AppController::prepareConnectionNode(const QVariantMap &node, quint64 token)
{
    if (token != m_workflowGeneration)
        return;
    const QString id = nodeId(node);
    if (id.isEmpty()) {
        failConnectionAttempt(node, QStringLiteral("节点信息无效，请刷新节点列表后重试。"), token);
        return;
    }
    const bool localSelected = id == m_selectedNodeId;
    if (localSelected && !singleNodeMode()) {
        fetchConnectionConfig(node, token, 3);
        return;
    }

    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    m_serverConfig.clear();
    m_serverConfigNodeId.clear();
    appendDiagnosticLog(
        QStringLiteral("Syncing node selection before config fetch: node_id=%1 direct_node=%2 local_selected=%3\n")
            .arg(id, boolText(singleNodeMode()), boolText(localSelected)));
    requestJsonAsync(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kNodesSelect),
        QVariantMap{{QStringLiteral("node_id"), id}}, true,
        [this, node, token, id](const QVariantMap &, bool success) {
            if (token != m_workflowGeneration)
                return;
            if (!success) {
                failConnectionAttempt(node, QStringLiteral("切换节点 %1 失败，请稍后重试。").arg(nodeName(node)), token);
                return;
            }
            m_selectedNodeId = id;
            m_store->setValue(QStringLiteral("session/nodeSelectionMode"), m_nodeSelectionMode);
            persistLocalAuthSession();
            Q_EMIT selectedNodeChanged();
            fetchConnectionConfig(node, token, 3);
        },
        true);
}

void AppController::fetchConnectionConfig(const QVariantMap &node, quint64 token, int retriesLeft)
{
    if (token != m_workflowGeneration)
        return;
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    const QString mode = ConnectionRules::normalizedRoutingMode(TunnelConfig::routingModeFromSettings(m_settings));
    requestRawAsync(
        QStringLiteral("GET"), TunnelConfig::singBoxConfigRequestPath(Api::desktopConfigPlatform(), m_settings),
        QByteArray(), QStringLiteral("application/json"), true,
        [this, node, token, retriesLeft, mode](const QByteArray &body, bool success) {
            if (token != m_workflowGeneration)
                return;
            if (!success || body.isEmpty()) {
                failConnectionAttempt(
                    node, QStringLiteral("未能从服务器获取 %1 的 sing-box 配置。").arg(nodeName(node)), token);
                return;
            }
            const QString id = nodeId(node);
            if (ConnectionRules::configNamesNode(body, id)) {
                m_launchedRoutingMode = mode;
                m_serverConfig = body;
                m_serverConfigNodeId = id;
                launchConnectionNode(node, body, token);
                return;
            }
            if (retriesLeft > 0) {
                appendDiagnosticLog(QStringLiteral("Config sync lag for selected node: expected_node=%1 retries_left=%2\n")
                                        .arg(id)
                                        .arg(retriesLeft));
                QTimer::singleShot(450, this, [this, node, token, retriesLeft] {
                    fetchConnectionConfig(node, token, retriesLeft - 1);
                });
                return;
            }
            failConnectionAttempt(node, QStringLiteral("服务器下发的配置仍不是当前节点，请稍后重试或切换节点。"), token);
        },
        true);
}

void AppController::launchConnectionNode(const QVariantMap &node, const QByteArray &config, quint64 token)
{
    if (token != m_workflowGeneration)
        return;
    QString problem;
    const QString path = m_configRepository->writeRemoteConfig(config, &problem);
    if (!problem.isEmpty()) {
        failConnectionAttempt(node, QStringLiteral("sing-box 配置校验失败：%1").arg(problem), token);
        return;
    }
    if (path.isEmpty()) {
        failConnectionAttempt(node, QStringLiteral("无法写入当前 sing-box 配置。"), token);
        return;
    }
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    m_launchedServerConfig = config;
    const bool started = m_engine->start(path);
    if (token != m_workflowGeneration) {
        // Ended (time-out, sign-out) while the service was starting: nobody wants this engine.
        if (started) {
            appendDiagnosticLog(QStringLiteral("Stopping VPN: connection workflow ended while the engine started.\n"));
            m_engine->stop();
        }
        return;
    }
    if (started) {
        appendDiagnosticLog(
            QStringLiteral("VPN service started: workflow=%1 node_id=%2 direct_node=%3 config_path=%4\n")
                .arg(token)
                .arg(nodeId(node), boolText(singleNodeMode()), path));
        waitForSystemTunnelConnected(node, token, 90);
        return;
    }
    failConnectionAttempt(node, engineFailureText(), token);
}

void AppController::failConnectionAttempt(const QVariantMap &node, const QString &message, quint64 token)
{
    if (token != m_workflowGeneration)
        return;
    appendDiagnosticLog(QStringLiteral("Candidate node failed: %1 reason=%2\n").arg(nodeName(node), message));
    m_lastFailureMessage = message;
    const bool noMoreCandidates = m_candidates.size() <= m_triedIds.size();
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    appendDiagnosticLog(
        QStringLiteral("Stopping VPN after failed candidate: no_more_candidates=%1\n").arg(boolText(noMoreCandidates)));
    m_engine->stop();
    auto next = [this, message, token, noMoreCandidates] {
        if (noMoreCandidates)
            finishConnectionFailure(message, token);
        else
            continueConnectionWorkflow(token);
    };
    waitForSystemTunnelDisconnected(token, 20, QStringLiteral("连接中"), next, [this, next](const QString &why) {
        appendDiagnosticLog(QStringLiteral("VPN stop timed out after failed candidate: %1\n").arg(why));
        next();
    });
}

void AppController::finishConnectionFailure(const QString &message, quint64 token)
{
    if (token != m_workflowGeneration)
        return;
    // Nothing of the failed attempt may land after this (a late reply, a probe).
    ++m_workflowGeneration;
    setVpnPhase(QStringLiteral("failed"), QStringLiteral("连接失败"));
    updateApiError(message);
    setBusy(false);
    resetConnectionWorkflow();
}

// --- time-out guard and reset -----------------------------------------------------------

void AppController::startConnectionTimeoutGuard(quint64 token)
{
    m_guardToken = token;
    m_connectionTimeoutGuard->start(ConnectionRules::connectTimeoutGuardMs(m_connectivitySettings));
}

void AppController::stopConnectionTimeoutGuard()
{
    m_connectionTimeoutGuard->stop();
    m_guardToken = 0;
}

void AppController::onConnectionTimeout()
{
    const quint64 token = m_guardToken;
    if (token == 0 || token != m_workflowGeneration || !isInProgress(m_vpnPhase))
        return;
    appendDiagnosticLog(QStringLiteral("VPN connect timed out: workflow=%1 timeout_ms=%2\n")
                            .arg(token)
                            .arg(m_connectionTimeoutGuard->interval()));
    // End the chain first: its callbacks run while the service stops.
    const quint64 failure = ++m_workflowGeneration;
    m_engine->stop();
    finishConnectionFailure(QStringLiteral("连接超时，请检查网络后重试。"), failure);
}

void AppController::resetConnectionWorkflow()
{
    m_chainToken = 0;
    stopConnectionTimeoutGuard();
    m_candidates.clear();
    m_triedIds.clear();
    m_attemptCount = 0;
    m_lastFailureMessage.clear();
    m_directNodeId.clear();
    m_nodeChangeRestartPending = false;
}

void AppController::endConnectionWithSession()
{
    ++m_workflowGeneration;
    resetConnectionWorkflow();
    setBusy(false);
    // The end may come from inside a reply's or the event socket's signal, which
    // the service-control waits must not re-enter: stop on the next turn.
    QTimer::singleShot(0, this, [this] {
        if (m_loggedIn || !m_engine->running()) {
            finishStartupReattach();
            return;
        }
        appendDiagnosticLog(QStringLiteral("Stopping VPN: session ended.\n"));
        m_engine->stop();
        finishStartupReattach();
    });
}

void AppController::settlePhaseFromEngine()
{
    setBusy(false);
    // Asked now, not from the cache: this decides what the page claims.
    const bool running = m_engine->refreshRunning();
    if (running && !m_connectedNodeId.isEmpty()) {
        setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
    } else if (running) {
        // A running engine whose node this run of the client does not know.
        setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
        reattachRunningTunnel(QStringLiteral("settle"));
    } else if (m_vpnPhase != QLatin1String("failed")) {
        setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
    }
}

void AppController::settleFailedNodeSelection()
{
    m_nodeChangeRestartPending = false;
    // A cancel or a restart since the pick owns the phase now.
    if (workflowRunning())
        return;
    settlePhaseFromEngine();
}

QString AppController::engineFailureText() const
{
    // The engine's and the service's own words: which field, which state. A
    // network-error wording would send the user to check the wrong thing.
    const QString lastError = m_engine->lastError().trimmed();
    if (lastError.isEmpty())
        return QStringLiteral("VPN 核心启动失败，请检查系统权限后重试。");
    return lastError.section(QLatin1Char('\n'), 0, 0).trimmed();
}

void AppController::markConnected(const QString &nodeId)
{
    m_connectedNodeId = nodeId;
    setVpnPhase(QStringLiteral("connected"), QStringLiteral("已连接"));
    m_connectedNodeId = nodeId;
    setBusy(false);
    resetConnectionWorkflow();
    Q_EMIT connectionStatusTextChanged();
    const quint64 token = m_workflowGeneration;
    // After the workflow's own stack has unwound: the check blocks in nested loops.
    QTimer::singleShot(0, this, [this, token] { reconcileEngineRoutingMode(token); });
}

// --- readiness --------------------------------------------------------------------------

void AppController::waitForSystemTunnelDisconnected(quint64 token, int pollsLeft, const QString &status,
                                                    std::function<void()> onDisconnected,
                                                    std::function<void(const QString &)> onFailure)
{
    if (token != m_workflowGeneration)
        return;
    if (!m_engine->running()) {
        onDisconnected();
        return;
    }
    if (pollsLeft > 0) {
        if (status == QStringLiteral("连接中"))
            setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
        else
            setVpnPhase(QStringLiteral("disconnecting"), status);
        QTimer::singleShot(400, this, [=] {
            waitForSystemTunnelDisconnected(token, pollsLeft - 1, status, onDisconnected, onFailure);
        });
        return;
    }
    const QString message = QStringLiteral("系统 VPN 在预期时间内没有完全断开，请稍后重试。");
    if (onFailure) {
        onFailure(message);
        return;
    }
    updateApiError(message);
    setVpnPhase(QStringLiteral("failed"), QStringLiteral("断开超时"));
    setBusy(false);
    resetConnectionWorkflow();
}

void AppController::waitForSystemTunnelConnected(const QVariantMap &node, quint64 token, int pollsLeft)
{
    if (token != m_workflowGeneration)
        return;
    const bool running = m_engine->running();
    const bool hasControlApi = ControlApi::available(m_launchedServerConfig);
    bool apiAnswered = false;
    RuntimeTrafficSnapshot snapshot = TrafficSnapshot::readRuntimeTrafficSnapshot();
    if (!snapshot.found) {
        if (hasControlApi) {
            snapshot = TrafficSnapshot::readClashTrafficSnapshot(m_launchedServerConfig, kReadinessTrafficReadMs);
            apiAnswered = snapshot.found;
        } else {
            snapshot = TrafficSnapshot::readWindowsInterfaceTrafficSnapshot();
        }
    }
    if (token != m_workflowGeneration)
        return;
    // The service reports RUNNING as soon as the engine process exists; an
    // engine that is about to exit does not answer its control API.
    auto engineAnswers = [&] {
        if (!hasControlApi || apiAnswered)
            return true;
        apiAnswered = ControlApi::answers(m_launchedServerConfig, kControlApiCheckMs);
        return apiAnswered;
    };

    if (!running && hasControlApi && !engineAnswers()) {
        // The service ends when its engine does; a stopped one does not come back by itself.
        if (token != m_workflowGeneration)
            return;
        failConnectionAttempt(node, engineFailureText(), token);
        return;
    }

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const bool fresh = snapshot.isFresh(now);
    const bool trafficSeen = snapshot.trafficSeen(now);
    if (singleNodeMode()) {
        // Without a control API nothing but the service itself says that the engine runs.
        if (fresh && engineAnswers() && token == m_workflowGeneration && (hasControlApi || engineConfirmedRunning())
            && token == m_workflowGeneration) {
            appendDiagnosticLog(QStringLiteral("Direct node connection confirmed: node_id=%1 skip_probe=true "
                                               "runtime_ready=%2\n")
                                    .arg(nodeId(node), boolText(trafficSeen)));
            markConnected(nodeId(node));
            return;
        }
    } else if (trafficSeen || (fresh && snapshot.statusClientConnected) || running) {
        if (engineAnswers() && token == m_workflowGeneration) {
            setVpnPhase(QStringLiteral("verifying"), QStringLiteral("连接中"));
            const int delay = ConnectionRules::probePlan(m_connectivitySettings, {}).delayMs;
            QTimer::singleShot(delay, this, [this, node, token] { runConnectivityProbeStep(node, token); });
            return;
        }
    }
    if (token != m_workflowGeneration)
        return;
    if (pollsLeft > 0) {
        QTimer::singleShot(500, this, [this, node, token, pollsLeft] {
            waitForSystemTunnelConnected(node, token, pollsLeft - 1);
        });
        return;
    }
    failConnectionAttempt(node, QStringLiteral("%1 未能在预期时间内进入已连接状态。").arg(nodeName(node)), token);
}

void AppController::runConnectivityProbeStep(const QVariantMap &node, quint64 token)
{
    if (token != m_workflowGeneration)
        return;
    bool passed = probeConnectivity();
    if (token != m_workflowGeneration)
        return;
    QString failure = QStringLiteral("%1 连通率低于阈值，请切换节点后重试。").arg(nodeName(node));
    if (passed) {
        // The probe also passes over the physical route when the engine has
        // died meanwhile: ask the service itself, and the engine.
        const bool engineAlive = m_engine->refreshRunning()
            && (!ControlApi::available(m_launchedServerConfig)
                || ControlApi::answers(m_launchedServerConfig, kControlApiCheckMs));
        if (token != m_workflowGeneration)
            return;
        if (engineAlive) {
            appendDiagnosticLog(QStringLiteral("Connectivity probe confirmed connection: node_id=%1 direct_node=%2\n")
                                    .arg(nodeId(node), boolText(singleNodeMode())));
            markConnected(nodeId(node));
            return;
        }
        failure = QStringLiteral("%1 未能在预期时间内进入已连接状态。").arg(nodeName(node));
    }
    appendDiagnosticLog(QStringLiteral("Stopping VPN: connectivity probe failed for %1, remaining candidates=%2.\n")
                            .arg(nodeName(node))
                            .arg(qMax<qsizetype>(0, m_candidates.size() - m_triedIds.size())));
    m_engine->stop();
    auto next = [this, node, failure, token] { failConnectionAttempt(node, failure, token); };
    waitForSystemTunnelDisconnected(token, 24, QStringLiteral("连接中"), next, [next](const QString &) { next(); });
}

bool AppController::probeConnectivity()
{
    const ConnectionRules::ProbePlan plan = ConnectionRules::probePlan(
        m_connectivitySettings,
        CatalogDefaults::defaultConnectivitySettings().value(QStringLiteral("test_urls")).toStringList());
    return ConnectivityProbe::probeConnectivity(plan.targets, plan.required, plan.percent, plan.timeoutMs,
                                                [this](const QString &line) { appendDiagnosticLog(line); });
}

QByteArray AppController::runningEngineConfig() const
{
    if (!m_launchedServerConfig.isEmpty())
        return m_launchedServerConfig;
    // Started by an earlier run of the client: the active file is what the engine runs.
    QFile file(TunnelConfig::activeConfigPath());
    return file.open(QIODevice::ReadOnly) ? file.read(4 << 20) : QByteArray();
}

// --- routing mode and node changes while connected -------------------------------------

void AppController::synchronizeRuntimeRoutingMode()
{
    const QString mode = ConnectionRules::normalizedRoutingMode(m_settings.value(QStringLiteral("routingMode")).toString());
    if (m_vpnPhase != QLatin1String("connected") && !m_engine->running())
        return;
    if (isInProgress(m_vpnPhase) || m_vpnPhase == QLatin1String("disconnecting"))
        return;
    appendDiagnosticLog(QStringLiteral("Runtime routing mode sync requested: routing_mode=%1; clash_mode=%2\n")
                            .arg(mode, ConnectionRules::runtimeClashModeForRoutingMode(mode)));
    const quint64 token = m_workflowGeneration;
    const QString phase = m_vpnPhase;
    if (applyRuntimeClashMode(mode)) {
        appendDiagnosticLog(QStringLiteral("Runtime routing mode sync applied: clash_mode=%1\n")
                                .arg(ConnectionRules::runtimeClashModeForRoutingMode(mode)));
        return;
    }
    appendDiagnosticLog(QStringLiteral("Runtime routing mode sync requires tunnel restart: routing_mode=%1\n").arg(mode));
    // The attempts take seconds; the user may have disconnected meanwhile.
    if (token != m_workflowGeneration || phase != m_vpnPhase)
        return;
    restartConnectionForRoutingModeChange(mode);
}

bool AppController::applyRuntimeClashMode(const QString &mode)
{
    const QByteArray config = runningEngineConfig();
    if (!ControlApi::available(config)) {
        appendDiagnosticLog(QStringLiteral("Runtime clash mode sync skipped: clash API endpoint missing\n"));
        return false;
    }
    const QString engineMode = ConnectionRules::runtimeClashModeForRoutingMode(mode);
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("mode"), engineMode}}).toJson(QJsonDocument::Compact);
    const bool hasSecret = !TunnelConfig::clashApiSettingsFromConfig(config).value(QStringLiteral("secret")).toString().isEmpty();
    struct Attempt
    {
        QByteArray method;
        bool authorised;
    };
    QList<Attempt> attempts{{"PATCH", true}, {"PUT", true}};
    if (hasSecret)
        attempts << Attempt{"PATCH", false} << Attempt{"PUT", false};
    for (const Attempt &attempt : std::as_const(attempts)) {
        const ControlApi::Answer answer =
            ControlApi::call(config, attempt.method, QStringLiteral("/configs"), body, attempt.authorised, kClashModeAttemptMs);
        appendDiagnosticLog(QStringLiteral("Runtime clash mode sync response: method=%1; auth=%2; status=%3; ok=%4; error=%5\n")
                                .arg(QString::fromLatin1(attempt.method),
                                     attempt.authorised ? QStringLiteral("yes") : QStringLiteral("no"))
                                .arg(answer.status)
                                .arg(boolText(answer.ok()), answer.error));
        if (!answer.ok())
            continue;
        // A 2xx proves nothing: PUT changes nothing and a mode the engine does not offer is ignored.
        const QString current = ControlApi::currentMode(config, kClashModeAttemptMs);
        if (current.compare(engineMode, Qt::CaseInsensitive) == 0)
            return true;
        appendDiagnosticLog(QStringLiteral("Runtime clash mode sync not applied: engine mode=%1\n").arg(current));
    }
    return false;
}

void AppController::restartConnectionForRoutingModeChange(const QString &mode)
{
    if (!m_loggedIn || !m_hasActiveMembership || isInProgress(m_vpnPhase))
        return;
    const quint64 token = ++m_workflowGeneration;
    resetConnectionWorkflow();
    restartTunnel(token, QStringLiteral("Restarting tunnel to apply routing_mode=%1\n").arg(mode));
}

void AppController::restartConnectionForSelectedNodeChange()
{
    // Only the selection that asked for it restarts: a cancel or another
    // workflow since then cleared the flag.
    if (!m_nodeChangeRestartPending) {
        // The workflow that ran when the node was picked reached "connected"
        // meanwhile (its end cleared the flag): the engine runs the old node.
        const bool connectedElsewhere = m_vpnPhase == QLatin1String("connected") && !workflowRunning()
            && !m_connectedNodeId.isEmpty() && m_connectedNodeId != m_selectedNodeId.trimmed();
        if (!connectedElsewhere)
            return;
        m_nodeChangeRestartPending = true;
    }
    const QString target = m_selectedNodeId.trimmed();
    if (!m_loggedIn || !m_hasActiveMembership || target.isEmpty()) {
        m_nodeChangeRestartPending = false;
        settlePhaseFromEngine();
        return;
    }

    const quint64 token = ++m_workflowGeneration;
    resetConnectionWorkflow();
    if (m_nodeSelectionMode != QLatin1String("fixed"))
        m_directNodeId = target;
    restartTunnel(token, QStringLiteral("Restarting tunnel to apply selected_node=%1\n").arg(target));
}

void AppController::restartTunnel(quint64 token, const QString &logLine)
{
    beginChain(token);
    setBusy(true);
    setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    appendDiagnosticLog(logLine);
    m_engine->stop();
    waitForSystemTunnelDisconnected(
        token, 24, QStringLiteral("连接中"), [this, token] { runConnectionWorkflow(token); },
        [this, token](const QString &message) { finishConnectionFailure(message, token); });
}

// --- configuration preview -------------------------------------------------

void AppController::rebuildConfigPreview()
{
    ++m_configRequestGeneration;
    const QVariantMap node = selectedNode();
    m_configPreview = node.isEmpty() ? QStringLiteral("{}")
                                     : m_configRepository->buildConfigPreview(node, m_settings, m_clashSecret);
    Q_EMIT configPreviewChanged();
}

void AppController::refreshRemoteConfigPreview()
{
    rebuildConfigPreview();
    if (!m_loggedIn || m_authToken.isEmpty() || !m_hasActiveMembership)
        return;

    const quint64 generation = ++m_configRequestGeneration;
    const QString nodeId = m_selectedNodeId;
    requestRawAsync(
        QStringLiteral("GET"), TunnelConfig::singBoxConfigRequestPath(Api::desktopConfigPlatform(), m_settings),
        QByteArray(), QStringLiteral("application/json"), true,
        [this, generation, nodeId](const QByteArray &body, bool success) {
            if (generation != m_configRequestGeneration || !success || body.isEmpty())
                return;
            m_serverConfig = body;
            m_serverConfigNodeId = nodeId;
            const QString preview = m_configRepository->buildRemoteConfigPreview(body);
            if (preview == m_configPreview)
                return;
            m_configPreview = preview;
            Q_EMIT configPreviewChanged();
        },
        false);
}

// --- a tunnel that runs without a workflow: take it over, or end it -------------------

namespace {

// The node a running engine's document is for: the catalogue's node it names
// (the selected one first), else the proxy selector's choice or the first
// proxy outbound's tag.
QString nodeIdFromDocument(const QByteArray &document, const QString &selectedId, const QVariantList &nodes,
                           bool *inCatalogue)
{
    *inCatalogue = true;
    if (!selectedId.trimmed().isEmpty() && ConnectionRules::configNamesNode(document, selectedId)) {
        for (const QVariant &entry : nodes) {
            if (entry.toMap().value(QStringLiteral("id")).toString().trimmed() == selectedId.trimmed())
                return selectedId.trimmed();
        }
    }
    for (const QVariant &entry : nodes) {
        const QString id = entry.toMap().value(QStringLiteral("id")).toString().trimmed();
        if (!id.isEmpty() && ConnectionRules::configNamesNode(document, id))
            return id;
    }
    *inCatalogue = false;
    return ConnectionRules::proxyNodeTagFromConfig(document);
}

} // namespace

bool AppController::engineConfirmedRunning()
{
    return m_engine->refreshRunning()
        && m_engine->lastServiceState() == SingBoxProcessManager::ServiceState::Running;
}

void AppController::finishStartupReattach()
{
    m_reattachScheduled = false;
    if (m_startupReattachDone)
        return;
    m_startupReattachDone = true;
    appendDiagnosticLog(QStringLiteral("Start-up re-attach check finished: phase=%1\n").arg(m_vpnPhase));
    Q_EMIT startupReattachFinished();
}

void AppController::reattachRunningTunnel(const QString &reason)
{
    // A workflow, a disconnect or a start/stop in progress owns the tunnel.
    if (workflowRunning() || isInProgress(m_vpnPhase) || m_vpnPhase == QLatin1String("disconnecting")
        || m_vpnPhase == QLatin1String("connected") || m_engine->commandInProgress()) {
        finishStartupReattach();
        return;
    }
    const quint64 token = ++m_workflowGeneration;
    resetConnectionWorkflow();
    beginChain(token);
    appendDiagnosticLog(QStringLiteral("Re-attach check: reason=%1\n").arg(reason));
    reattachStep(token, reason, 2);
}

void AppController::reattachStep(quint64 token, const QString &reason, int unknownLeft)
{
    if (token != m_workflowGeneration)
        return;
    const bool running = m_engine->refreshRunning();
    if (token != m_workflowGeneration)
        return;
    if (m_engine->lastServiceState() == SingBoxProcessManager::ServiceState::Unknown) {
        if (unknownLeft > 0) {
            QTimer::singleShot(500, this, [this, token, reason, unknownLeft] {
                reattachStep(token, reason, unknownLeft - 1);
            });
            return;
        }
        appendDiagnosticLog(QStringLiteral("Re-attach check: service state unknown; nothing changed.\n"));
        m_chainToken = 0;
        finishStartupReattach();
        return;
    }
    if (!running) {
        m_chainToken = 0;
        if (isInProgress(m_vpnPhase) || m_vpnPhase == QLatin1String("connected"))
            setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
        finishStartupReattach();
        return;
    }

    auto stopBrokenTunnel = [this, token](const QString &why) {
        appendDiagnosticLog(QStringLiteral("Stopping VPN: %1\n").arg(why));
        setBusy(true);
        setVpnPhase(QStringLiteral("disconnecting"), QStringLiteral("正在断开 VPN..."));
        stopEngineAndSettle(token, [this] { finishStartupReattach(); });
    };

    if (!m_loggedIn) {
        stopBrokenTunnel(QStringLiteral("tunnel found running without a session."));
        return;
    }
    QFile file(TunnelConfig::activeConfigPath());
    const QByteArray document = file.open(QIODevice::ReadOnly) ? file.read(4 << 20) : QByteArray();
    bool inCatalogue = false;
    const QString id = nodeIdFromDocument(document, m_selectedNodeId, m_nodes, &inCatalogue);
    if (id.isEmpty() || !ControlApi::available(document)) {
        stopBrokenTunnel(QStringLiteral("running tunnel has no readable node or control API (%1).").arg(reason));
        return;
    }

    // The control API listens only once the engine has fully started.
    bool answers = false;
    for (int attempt = 0; attempt < kReattachApiTries && !answers; ++attempt) {
        if (attempt == 1) {
            setBusy(true);
            setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
        }
        answers = ControlApi::answers(document, kControlApiCheckMs);
        if (token != m_workflowGeneration)
            return;
        if (!answers) {
            QEventLoop pause;
            QTimer::singleShot(500, &pause, &QEventLoop::quit);
            pause.exec(QEventLoop::ExcludeUserInputEvents);
            if (token != m_workflowGeneration)
                return;
        }
    }
    if (!answers) {
        stopBrokenTunnel(QStringLiteral("running tunnel's control API does not answer (%1).").arg(reason));
        return;
    }

    m_launchedServerConfig = document;
    m_launchedRoutingMode.clear();
    if (inCatalogue && id != m_selectedNodeId) {
        m_selectedNodeId = id;
        m_store->setValue(QStringLiteral("session/selectedNodeId"), id);
        Q_EMIT selectedNodeChanged();
    }
    // The service's checked copy is written when it starts the engine.
    const QFileInfo checked(QDir(QFileInfo(TunnelConfig::activeConfigPath()).absolutePath())
                                .filePath(QStringLiteral("../runtime/active.checked.json")));
    const QDateTime since = checked.exists() ? checked.lastModified().toUTC() : QDateTime();
    const bool sinceKnown = since.isValid() && since <= QDateTime::currentDateTimeUtc();
    m_connectedAt = sinceKnown ? since : QDateTime::currentDateTimeUtc();
    appendDiagnosticLog(QStringLiteral("Re-attached running tunnel: node_id=%1 in_catalogue=%2 reason=%3 "
                                       "connected_since=%4 (%5)\n")
                            .arg(id, boolText(inCatalogue), reason, m_connectedAt.toString(Qt::ISODate),
                                 sinceKnown ? QStringLiteral("from the service")
                                            : QStringLiteral("unknown, counted from now")));
    markConnected(id);
    finishStartupReattach();
}

void AppController::reconcileEngineRoutingMode(quint64 token)
{
    if (token != m_workflowGeneration || m_vpnPhase != QLatin1String("connected") || workflowRunning())
        return;
    const QString mode = ConnectionRules::normalizedRoutingMode(TunnelConfig::routingModeFromSettings(m_settings));
    const QString wanted = ConnectionRules::runtimeClashModeForRoutingMode(mode);
    const QByteArray config = runningEngineConfig();
    if (!ControlApi::available(config)) {
        // Nothing to read back: the document's own mode is all there is.
        if (!m_launchedRoutingMode.isEmpty() && m_launchedRoutingMode != mode)
            restartConnectionForRoutingModeChange(mode);
        return;
    }
    // The engine restores the mode of its last run from its cache file:
    // after a start the control API, not the document, says which one runs.
    const QString current = ControlApi::currentMode(config, kClashModeAttemptMs);
    if (token != m_workflowGeneration || m_vpnPhase != QLatin1String("connected"))
        return;
    if (current.isEmpty()) {
        appendDiagnosticLog(QStringLiteral("Engine routing mode unread: control API did not answer GET /configs\n"));
        return;
    }
    if (current.compare(wanted, Qt::CaseInsensitive) == 0) {
        appendDiagnosticLog(QStringLiteral("Engine routing mode confirmed: clash_mode=%1\n").arg(current));
        return;
    }
    appendDiagnosticLog(QStringLiteral("Engine routing mode differs from the setting: engine=%1 routing_mode=%2\n")
                            .arg(current, mode));
    synchronizeRuntimeRoutingMode();
}

void AppController::disconnectForExit()
{
    appendDiagnosticLog(QStringLiteral("Stopping VPN: user chose disconnect and exit from the tray.\n"));
    ++m_workflowGeneration;
    resetConnectionWorkflow();
    setBusy(true);
    setVpnPhase(QStringLiteral("disconnecting"), QStringLiteral("正在断开 VPN..."));
    // Blocks until the service has stopped (or its stop window has passed).
    m_engine->stop();
    if (!m_engine->cachedRunning())
        setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("未连接"));
    setBusy(false);
}
