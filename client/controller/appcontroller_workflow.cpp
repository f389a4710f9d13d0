#include "appcontroller.h"

#include "api/apirequest.h"
#include "tunnel/configbuilder.h"
#include "tunnel/configrepository.h"

// The connection workflow comes with the tunnel work.
void AppController::toggleConnection() {}
void AppController::requestDashboardConnectionToggle() {}
void AppController::promptMembershipDialogForConnection() {}
void AppController::resetConnectionWorkflow() {}
void AppController::onConnectionTimeout() {}
// Switching the routing mode of a running tunnel comes with the tunnel work.
void AppController::synchronizeRuntimeRoutingMode() {}
// Restarting a running tunnel on a newly selected node comes with the tunnel work.
void AppController::restartConnectionForSelectedNodeChange()
{
    m_nodeChangeRestartPending = false;
    setBusy(false);
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
