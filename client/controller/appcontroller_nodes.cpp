#include "appcontroller.h"

#include "api/backendcontract.h"
#include "model/catalogueindex.h"
#include "model/cataloguelistmodel.h"
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
    bool catalogueChanged = false;
    int kept = 0;
    if (!built.isEmpty()) {
        // What this computer measured stays for nodes that did not change: a reload
        // probes only what is new, and a round still running keeps its results.
        m_latencyPublishPending = false; // announced with the new list below
        if (m_latencyPublishTimer)
            m_latencyPublishTimer->stop();
        kept = NodeCatalog::keepMeasuredLatencies(built, m_nodes, m_nodeRowsById);
        catalogueChanged = built != m_nodes;
        m_nodes = built;
        Q_EMIT nodesChanged();
    }
    QVariantList builtCountries;
    builtCountries.reserve(countries.size());
    for (const QVariant &raw : countries)
        builtCountries << NodeCatalog::countryRecordFromRaw(raw.toMap());
    catalogueChanged = catalogueChanged || builtCountries != m_nodeCountries;
    m_nodeCountries = builtCountries;
    if (catalogueChanged)
        reindexCatalogue();
    // Kept latencies count for their countries at once.
    if (kept > 0)
        NodeCatalog::recomputeCountryTelemetry(m_nodeCountries, m_nodes, &m_nodeRowsById);
    Q_EMIT nodeCountriesChanged();
    Q_EMIT selectedNodeChanged();
    if (m_probeInProgress)
        m_probeRerunWanted = true;
    probeNodeLatencyAsync();
}

QVariantMap AppController::selectedNode() const
{
    return NodeCatalog::selectedNode(m_nodes, m_selectedNodeId, &m_nodeRowsById);
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
    return NodeCatalog::connectionCandidates(m_nodes, m_nodeCountries, m_selectedNodeId, &m_nodeRowsById);
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
        if (generation == m_probeGeneration) {
            m_probeInProgress = false;
            publishLatencySamples();
            // A catalogue that arrived during the round may hold nodes it did not queue.
            if (std::exchange(m_probeRerunWanted, false))
                probeNodeLatencyAsync();
        }
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
        if (record && generation == m_probeGeneration) {
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
    if (!NodeCatalog::applyLatencySample(m_nodes, nodeId, latencyMs, &m_nodeRowsById))
        return;
    m_latencyPublishPending = true;
    // While a round runs, its samples are published together: at once after a quiet
    // spell, then at most once per interval, and the rest when the round ends.
    const qint64 sinceLast = m_lastLatencyPublish.isValid() ? m_lastLatencyPublish.elapsed() : kLatencyPublishIntervalMs;
    if (!m_probeInProgress || sinceLast >= kLatencyPublishIntervalMs) {
        publishLatencySamples();
        return;
    }
    if (!m_latencyPublishTimer) {
        m_latencyPublishTimer = new QTimer(this);
        m_latencyPublishTimer->setSingleShot(true);
        connect(m_latencyPublishTimer, &QTimer::timeout, this, &AppController::publishLatencySamples);
    }
    if (!m_latencyPublishTimer->isActive())
        m_latencyPublishTimer->start(int(kLatencyPublishIntervalMs - sinceLast));
}

void AppController::publishLatencySamples()
{
    if (m_latencyPublishTimer)
        m_latencyPublishTimer->stop();
    if (!std::exchange(m_latencyPublishPending, false))
        return;
    m_lastLatencyPublish.start();
    Q_EMIT nodesChanged();
    recomputeCountryTelemetry();
    Q_EMIT selectedNodeChanged();
}

void AppController::stopLatencyProbe()
{
    ++m_probeGeneration; // the step in flight ends the old round and records nothing
    m_probeInProgress = false;
    m_probeRerunWanted = false;
    m_probeQueue.clear();
    m_latencyPublishPending = false;
    if (m_latencyPublishTimer)
        m_latencyPublishTimer->stop();
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
    if (NodeCatalog::recomputeCountryTelemetry(m_nodeCountries, m_nodes, &m_nodeRowsById))
        Q_EMIT nodeCountriesChanged();
}

// --- catalogue index and the servers page's lists ------------------------------------

void AppController::reindexCatalogue()
{
    m_nodeRowsById = NodeCatalog::nodeRowsById(m_nodes);
    m_catalogueIndex.reset();
    scheduleServerViewRefresh();
}

const CatalogueIndex::Index &AppController::catalogueIndex() const
{
    if (!m_catalogueIndex || m_catalogueIndex->language != m_language || m_catalogueIndex->nodeCount != m_nodes.size()
        || m_catalogueIndex->countryCount != m_nodeCountries.size())
        m_catalogueIndex = std::make_shared<CatalogueIndex::Index>(
            CatalogueIndex::build(m_nodes, m_nodeCountries, m_language));
    return *m_catalogueIndex;
}

QObject *AppController::serverCountryModel() const
{
    if (!m_serverCountryModel) {
        m_serverCountryModel = new CatalogueListModel([this](int row) { return serverCountryRecord(row); },
                                                      const_cast<AppController *>(this));
    }
    return m_serverCountryModel;
}

QObject *AppController::serverNodeModel() const
{
    if (!m_serverNodeModel) {
        m_serverNodeModel = new CatalogueListModel([this](int row) { return serverNodeRecord(row); },
                                                   const_cast<AppController *>(this));
    }
    return m_serverNodeModel;
}

// A country as the page shows it: without its id list, with what the page would
// otherwise work out from the whole catalogue.
QVariant AppController::serverCountryRecord(int row) const
{
    if (row < 0 || row >= m_nodeCountries.size())
        return QVariantMap();
    const CatalogueIndex::Index &index = catalogueIndex();
    QVariantMap country = m_nodeCountries.at(row).toMap();
    country.remove(QStringLiteral("nodeIds"));
    const int listed = country.value(QStringLiteral("nodeCount")).toInt();
    country.insert(QStringLiteral("shownNodeCount"),
                   listed > 0 ? listed : int(index.countryNodeRows.value(row).size()));
    country.insert(QStringLiteral("smartNodeId"), CatalogueIndex::smartNodeId(index, m_nodes, m_nodeCountries, row));
    country.insert(QStringLiteral("holdsSelectedNode"), m_serverCountriesHoldingSelection.contains(row));
    country.insert(QStringLiteral("shownName"), index.countryNames.value(row));
    return country;
}

// A node as the page shows it: its engine outbound stays here.
QVariant AppController::serverNodeRecord(int row) const
{
    if (row < 0 || row >= m_nodes.size())
        return QVariantMap();
    QVariantMap node = m_nodes.at(row).toMap();
    node.remove(QStringLiteral("outbound"));
    node.insert(QStringLiteral("shownName"), catalogueIndex().nodeNames.value(row));
    return node;
}

QVariantMap AppController::serverChosenCountry() const
{
    return m_serverChosenCountryRow < 0 ? QVariantMap() : serverCountryRecord(m_serverChosenCountryRow).toMap();
}

int AppController::showServerCatalogue(const QString &query, const QString &sortMode, const QString &countryKey)
{
    m_serverQuery = query;
    m_serverSortMode = sortMode;
    m_serverCountryKey = countryKey;
    m_serverViewOpen = true;
    if (!m_serverViewFollowing) {
        m_serverViewFollowing = true;
        for (auto signal : {&AppController::nodesChanged, &AppController::nodeCountriesChanged,
                            &AppController::selectedNodeChanged, &AppController::languageChanged})
            connect(this, signal, this, &AppController::scheduleServerViewRefresh);
    }
    refreshServerView();
    return m_serverCountryModel ? m_serverCountryModel->count() : 0;
}

void AppController::closeServerCatalogue()
{
    m_serverViewOpen = false;
}

void AppController::scheduleServerViewRefresh()
{
    if (!m_serverViewOpen || m_serverViewRefreshQueued)
        return;
    m_serverViewRefreshQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_serverViewRefreshQueued = false;
        refreshServerView();
    });
}

void AppController::refreshServerView()
{
    if (!m_serverViewOpen)
        return;
    serverCountryModel();
    serverNodeModel();
    const CatalogueIndex::Index &index = catalogueIndex();
    if (m_serverMatchedIndex != m_catalogueIndex || m_serverMatchedQuery != m_serverQuery) {
        m_serverMatchingCountries = CatalogueIndex::matchingCountries(index, m_serverQuery);
        m_serverMatchedQuery = m_serverQuery;
        m_serverMatchedIndex = m_catalogueIndex;
    }
    const QVector<int> visible =
        CatalogueIndex::sortedCountryRows(index, m_nodeCountries, m_serverMatchingCountries, m_serverSortMode);
    m_serverChosenCountryRow = CatalogueIndex::chosenCountryRow(index, m_serverCountryKey, m_selectedNodeId, visible);

    // A country holds the selection by its best node, its listed ids or the node's country code.
    m_serverCountriesHoldingSelection.clear();
    const QString selected = m_selectedNodeId.trimmed();
    const int selectedRow = NodeCatalog::nodeRow(m_nodes, selected, &m_nodeRowsById);
    const QString selectedCode =
        selectedRow < 0 ? QString()
                        : m_nodes.at(selectedRow).toMap().value(QStringLiteral("countryCode")).toString().trimmed().toLower();
    for (int row = 0; row < m_nodeCountries.size() && !selected.isEmpty(); ++row) {
        const QVariantMap country = m_nodeCountries.at(row).toMap();
        const QString code = country.value(QStringLiteral("countryCode")).toString().trimmed().toLower();
        if (country.value(QStringLiteral("bestNodeId")).toString().trimmed() == selected
            || (!code.isEmpty() && code == selectedCode)) {
            m_serverCountriesHoldingSelection.insert(row);
            continue;
        }
        for (const QVariant &id : country.value(QStringLiteral("nodeIds")).toList()) {
            if (id.toString().trimmed() == selected) {
                m_serverCountriesHoldingSelection.insert(row);
                break;
            }
        }
    }

    QVector<int> nodeRows;
    if (m_serverChosenCountryRow >= 0) {
        nodeRows = index.countryNodeRows.value(m_serverChosenCountryRow);
    } else if (m_nodeCountries.isEmpty()) {
        // Without any country groups the page lists the whole catalogue.
        nodeRows.reserve(m_nodes.size());
        for (int row = 0; row < m_nodes.size(); ++row)
            nodeRows << row;
    }
    nodeRows = CatalogueIndex::sortedNodeRows(index, m_nodes, nodeRows, m_serverSortMode);
    m_serverCountryModel->setRows(visible);
    m_serverNodeModel->setRows(nodeRows);
    Q_EMIT serverViewChanged();
}

QString AppController::currentNodeDisplayName() const
{
    const int row = NodeCatalog::nodeRow(m_nodes, m_selectedNodeId.trimmed(), &m_nodeRowsById);
    if (row >= 0 && !m_selectedNodeId.trimmed().isEmpty())
        return CatalogueIndex::displayName(m_nodes.at(row).toMap(), m_language);
    const QString name = currentNodeName().trimmed();
    return name.isEmpty() ? QString() : localizedPlaceName(name, QString());
}

QString AppController::currentNodeCountryCode() const
{
    const int row = NodeCatalog::nodeRow(m_nodes, m_selectedNodeId.trimmed(), &m_nodeRowsById);
    if (row < 0 || m_selectedNodeId.trimmed().isEmpty())
        return QString();
    return m_nodes.at(row).toMap().value(QStringLiteral("countryCode")).toString().trimmed().toUpper();
}
