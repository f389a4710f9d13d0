#include "appcontroller.h"

#include "api/backendcontract.h"
#include "model/latency.h"
#include "model/nodecatalog.h"
#include "platform/ping.h"
#include "tunnel/singboxprocessmanager.h"

#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

// --- catalogue -----------------------------------------------------------------------

void AppController::applyNodeSnapshot(const QVariantList &nodes, const QVariantList &countries)
{
    QVariantList built;
    built.reserve(nodes.size());
    for (const QVariant &raw : nodes)
        built << NodeCatalog::nodeRecordFromRaw(raw.toMap());
    if (!built.isEmpty()) {
        m_nodes = built;
        Q_EMIT nodesChanged();
    }
    QVariantList builtCountries;
    builtCountries.reserve(countries.size());
    for (const QVariant &raw : countries)
        builtCountries << NodeCatalog::countryRecordFromRaw(raw.toMap());
    m_nodeCountries = builtCountries;
    Q_EMIT nodeCountriesChanged();
    Q_EMIT selectedNodeChanged();
    probeNodeLatencyAsync();
}

QVariantMap AppController::selectedNode() const
{
    return NodeCatalog::selectedNode(m_nodes, m_selectedNodeId);
}

QString AppController::currentNodeName() const
{
    return selectedNode().value(QStringLiteral("name")).toString();
}

QString AppController::currentNodeLatency() const
{
    const int latency = selectedNode().value(QStringLiteral("latency")).toInt();
    return latency < 1 ? QStringLiteral("待测") : QStringLiteral("%1 ms").arg(latency);
}

QString AppController::currentNodeQuality() const
{
    const QString quality = selectedNode().value(QStringLiteral("quality")).toString().trimmed();
    return quality.isEmpty() ? QStringLiteral("未知") : quality;
}

int AppController::currentNodeQualityScore() const
{
    return selectedNode().value(QStringLiteral("qualityScore")).toInt();
}

QVariantList AppController::connectionCandidates() const
{
    return NodeCatalog::connectionCandidates(m_nodes, m_nodeCountries, m_selectedNodeId);
}

// --- selection -------------------------------------------------------------------------

void AppController::selectNode(const QString &nodeId)
{
    selectNodeWithMode(nodeId, QStringLiteral("fixed"));
}

void AppController::selectNodeWithMode(const QString &nodeId, const QString &mode)
{
    const QString id = nodeId.trimmed();
    if (id.isEmpty()) {
        updateApiError(QStringLiteral("节点信息缺失，请刷新后重试。"));
        return;
    }
    const QString normalizedMode = NodeCatalog::normalizedNodeSelectionMode(mode);
    if (id == m_selectedNodeId && normalizedMode == m_nodeSelectionMode) {
        setCurrentPage(QStringLiteral("connect"));
        return;
    }

    const bool tunnelActive = m_loggedIn
        && (m_vpnPhase == QLatin1String("connected") || m_engine->connected() || m_engine->running());
    const QString previousId = m_selectedNodeId;
    const QString previousMode = m_nodeSelectionMode;

    auto applySelection = [this](const QString &selectionId, const QString &selectionMode) {
        m_serverConfig.clear();
        m_serverConfigNodeId.clear();
        m_selectedNodeId = selectionId;
        m_nodeSelectionMode = selectionMode;
        m_store->setValue(QStringLiteral("session/nodeSelectionMode"), selectionMode);
        refreshRemoteConfigPreview();
        Q_EMIT selectedNodeChanged();
    };
    applySelection(id, normalizedMode);
    // Signed in, the home page follows once the server took the choice; a
    // refusal is shown where the user is, who stays there.
    const QString startPage = m_currentPage;
    if (!m_loggedIn)
        setCurrentPage(QStringLiteral("connect"));

    if (tunnelActive) {
        m_nodeChangeRestartPending = true;
        setBusy(true);
        setVpnPhase(QStringLiteral("connecting"), QStringLiteral("连接中"));
    }
    if (!m_loggedIn)
        return;

    requestJsonAsync(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kNodesSelect),
        QVariantMap{{QStringLiteral("node_id"), id}}, true,
        [=](const QVariantMap &, bool success) {
            const bool stillRequested = m_selectedNodeId == id && m_nodeSelectionMode == normalizedMode;
            if (success) {
                persistLocalAuthSession();
                if (stillRequested && m_currentPage == startPage)
                    setCurrentPage(QStringLiteral("connect"));
                if (tunnelActive && stillRequested)
                    restartConnectionForSelectedNodeChange();
                return;
            }
            if (stillRequested)
                applySelection(previousId, previousMode);
            if (tunnelActive)
                settleFailedNodeSelection();
            updateApiError(QStringLiteral("切换节点失败，请稍后再试。"));
            updateToastMessage(QStringLiteral("切换节点失败，请稍后再试。"));
        },
        true);
}

// --- latency probe round ------------------------------------------------------------------

void AppController::probeNodeLatencyAsync()
{
    if (!m_loggedIn || m_nodes.isEmpty() || m_probeInProgress)
        return;
    QList<QPair<QString, QString>> queue;
    QSet<QString> queued;
    for (const QVariant &entry : std::as_const(m_nodes)) {
        const QVariantMap node = entry.toMap();
        const QString id = node.value(QStringLiteral("id")).toString().trimmed();
        if (id.isEmpty() || queued.contains(id) || node.value(QStringLiteral("latency")).toInt() > 0)
            continue;
        QString host = Latency::tcpEndpointForNode(node).host;
        if (host.isEmpty()) {
            const QVariantMap outbound = node.value(QStringLiteral("outbound")).toMap();
            for (const QString &candidate :
                 {outbound.value(QStringLiteral("server")).toString(), outbound.value(QStringLiteral("address")).toString(),
                  node.value(QStringLiteral("server")).toString(), node.value(QStringLiteral("address")).toString(),
                  node.value(QStringLiteral("host")).toString()}) {
                if (!candidate.trimmed().isEmpty()) {
                    host = candidate.trimmed();
                    break;
                }
            }
        }
        if (host.isEmpty())
            continue;
        queued.insert(id);
        queue.append({id, host});
    }
    if (queue.isEmpty())
        return;
    m_probeInProgress = true;
    const quint64 generation = ++m_probeGeneration;
    m_probeQueue = queue;
    m_probeTimeoutMs = Latency::pingTimeoutMs(m_connectivitySettings);
    QTimer::singleShot(0, this, [this, generation] { runLatencyProbeStep(generation); });
}

void AppController::runLatencyProbeStep(quint64 generation)
{
    if (generation != m_probeGeneration || m_probeQueue.isEmpty()) {
        if (generation == m_probeGeneration)
            m_probeInProgress = false;
        return;
    }
    const auto [nodeId, host] = m_probeQueue.takeFirst();
    if (nodeId.trimmed().isEmpty() || host.trimmed().isEmpty()) {
        QTimer::singleShot(0, this, [this, generation] { runLatencyProbeStep(generation); });
        return;
    }

    const Platform::PingCommand command = Platform::pingCommand(host, m_probeTimeoutMs);
    if (command.program.isEmpty()) { // not a host ping can be trusted with: no probe, no latency
        QTimer::singleShot(0, this, [this, generation] { runLatencyProbeStep(generation); });
        return;
    }
    auto *process = new QProcess(this);
    auto *watchdog = new QTimer(process);
    watchdog->setSingleShot(true);
    auto finished = std::make_shared<bool>(false);

    // Exit, error and watchdog race; only the first one handles the step.
    auto finishStep = [this, process, finished, generation](bool record) {
        if (*finished)
            return;
        *finished = true;
        if (record) {
            // Standard output only, as raw bytes: ping repeats an unknown host name on
            // standard error (a name such as "time=5ms" must not read as a latency),
            // and ping.exe writes in the console code page, not the one fromLocal8Bit assumes.
            const QByteArray output = process->readAllStandardOutput();
            const QString host = process->arguments().value(process->arguments().size() - 1);
            if (const std::optional<int> latency = Latency::parsePingLatencyMs(output, host))
                applyLocalNodeLatencySample(process->property("nodeId").toString(), *latency);
        } else if (process->state() != QProcess::NotRunning) {
            process->kill();
        }
        process->deleteLater();
        QTimer::singleShot(0, this, [this, generation] { runLatencyProbeStep(generation); });
    };
    process->setProperty("nodeId", nodeId);
    connect(process, &QProcess::finished, this,
            [finishStep](int, QProcess::ExitStatus status) { finishStep(status == QProcess::NormalExit); });
    connect(process, &QProcess::errorOccurred, this, [finishStep, process](QProcess::ProcessError error) {
        // A crash also reports finished(); only a failed start ends the step here.
        if (error == QProcess::FailedToStart || process->state() == QProcess::NotRunning)
            finishStep(false);
    });
    connect(watchdog, &QTimer::timeout, this, [finishStep] { finishStep(false); });
    watchdog->start(m_probeTimeoutMs);
    process->start(command.program, command.arguments);
}

void AppController::applyLocalNodeLatencySample(const QString &nodeId, int latencyMs)
{
    if (!NodeCatalog::applyLatencySample(m_nodes, nodeId, latencyMs))
        return;
    Q_EMIT nodesChanged();
    recomputeCountryTelemetry();
    Q_EMIT selectedNodeChanged();
}

// --- fastest reachable node -----------------------------------------------------------------

QVariantMap AppController::fastestReachableNode(const QVariantList &candidates, const QSet<QString> &excludedIds,
                                                bool *fellBack)
{
    if (fellBack)
        *fellBack = false;
    constexpr int kUnknownLatency = 0x3FFFFFFF;
    auto catalogueLatency = [](const QVariantMap &node) {
        const int latency = node.value(QStringLiteral("latency")).toInt();
        return latency > 0 ? latency : kUnknownLatency;
    };

    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);

    QVariantMap fallback;
    int fallbackLatency = 0;
    QVariantMap tcpWinner;
    QVariantMap datagramBest;
    int datagramBestLatency = 0;
    int datagramBestIndex = -1;
    int started = 0;
    int done = 0;
    std::vector<std::unique_ptr<QAbstractSocket>> sockets;

    auto probeDone = [&] {
        ++done;
        if (done >= started)
            loop.quit();
    };

    for (int index = 0; index < candidates.size(); ++index) {
        const QVariantMap node = candidates.at(index).toMap();
        if (excludedIds.contains(node.value(QStringLiteral("id")).toString()))
            continue;
        const int latency = catalogueLatency(node);
        if (fallback.isEmpty() || latency < fallbackLatency) {
            fallback = node;
            fallbackLatency = latency;
        }
        if (Latency::usesDatagramProbe(node)) {
            const Latency::Endpoint endpoint = Latency::datagramEndpointForNode(node);
            if (!endpoint.isValid() || endpoint.port == 0)
                continue;
            auto socket = std::make_unique<QUdpSocket>();
            QUdpSocket *udp = socket.get();
            ++started;
            connect(udp, &QUdpSocket::connected, &loop, [&, udp, node, latency, index] {
                if (udp->write(QByteArray(1, '\0')) == 1
                    && (datagramBest.isEmpty() || latency < datagramBestLatency
                        || (latency == datagramBestLatency && index < datagramBestIndex))) {
                    datagramBest = node;
                    datagramBestLatency = latency;
                    datagramBestIndex = index;
                }
                probeDone();
            });
            connect(udp, &QUdpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError) { probeDone(); });
            udp->connectToHost(endpoint.host, endpoint.port);
            sockets.push_back(std::move(socket));
            continue;
        }
        const Latency::Endpoint endpoint = Latency::tcpEndpointForNode(node);
        if (!endpoint.isValid())
            continue;
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket *tcp = socket.get();
        ++started;
        connect(tcp, &QTcpSocket::connected, &loop, [&, node] {
            if (tcpWinner.isEmpty())
                tcpWinner = node;
            loop.quit();
        });
        connect(tcp, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError) { probeDone(); });
        tcp->connectToHost(endpoint.host, endpoint.port);
        sockets.push_back(std::move(socket));
    }

    if (started > 0 && done < started) {
        timeout.start(Latency::raceTimeoutMs(m_connectivitySettings));
        loop.exec();
    }
    for (auto &socket : sockets) {
        socket->disconnect();
        socket->abort();
    }

    if (!tcpWinner.isEmpty())
        return tcpWinner;
    if (!datagramBest.isEmpty())
        return datagramBest;
    if (!fallback.isEmpty() && fellBack)
        *fellBack = true;
    return fallback;
}

// --- telemetry ----------------------------------------------------------------------------------

void AppController::startNodeTelemetryRefresh()
{
    refreshNodeTelemetryAsync();
}

void AppController::refreshNodeTelemetryAsync()
{
    if (!m_loggedIn || m_authToken.isEmpty())
        return;
    const QString gate = QStringLiteral("node-telemetry");
    if (!beginRefreshGate(gate))
        return;
    requestJsonAsync(
        QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kNodesRefresh), QVariantMap(), true,
        [this, gate](const QVariantMap &response, bool success) {
            endRefreshGate(gate);
            if (!success || response.isEmpty())
                return;
            applyNodeSnapshot(response.value(QStringLiteral("items")).toList(),
                              response.value(QStringLiteral("countries")).toList());
            const QString selected = response.value(QStringLiteral("selected_node_id")).toString().trimmed();
            if (!selected.isEmpty() && selected != m_selectedNodeId) {
                m_selectedNodeId = selected;
                Q_EMIT selectedNodeChanged();
            }
        },
        true);
}

void AppController::recomputeCountryTelemetry()
{
    if (NodeCatalog::recomputeCountryTelemetry(m_nodeCountries, m_nodes))
        Q_EMIT nodeCountriesChanged();
}
