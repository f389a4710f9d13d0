#include "appcontroller.h"

#include "tunnel/singboxprocessmanager.h"

#include <QTimer>

// Runtime traffic statistics and the speed test come with the traffic work.
void AppController::resetRuntimeTrafficStatistics() {}
void AppController::onTrafficTimer()
{
    if (m_vpnPhase != QLatin1String("connected")) {
        m_trafficTimer->stop();
        return;
    }
    // An engine that has ended on its own must not leave the tunnel shown as
    // protected: the query reports the change, which ends the connected phase.
    m_engine->running();
}
void AppController::runSpeedTest() {}
