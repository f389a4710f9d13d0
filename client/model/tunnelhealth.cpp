#include "tunnelhealth.h"

namespace TunnelHealth {

int restartDelayMs(int attempt)
{
    static constexpr int kDelays[kMaxRestarts] = {5000, 15000, 45000};
    if (attempt < 0 || attempt >= kMaxRestarts)
        return -1;
    return kDelays[attempt];
}

bool resumeDetected(qint64 expectedMs, qint64 wallElapsedMs)
{
    if (expectedMs <= 0 || wallElapsedMs <= 0)
        return false;
    return wallElapsedMs >= 2 * expectedMs + expectedMs / 2;
}

Step State::observe(const Observation &observation, bool reconnectOnDrop)
{
    if (!observation.networkReachable)
        return Step::WaitForNetwork;
    if (observation.controlApiAnswers && observation.probeAnswers) {
        consecutiveFailures = 0;
        restartsUsed = 0;
        return Step::Healthy;
    }
    if (++consecutiveFailures < 2)
        return Step::CheckAgainSoon;
    return dropped(reconnectOnDrop);
}

Step State::dropped(bool reconnectOnDrop)
{
    consecutiveFailures = 0;
    if (!reconnectOnDrop || restartsUsed >= kMaxRestarts)
        return Step::GiveUp;
    ++restartsUsed;
    return Step::Restart;
}

Step State::restartFailed()
{
    consecutiveFailures = 0;
    if (restartsUsed >= kMaxRestarts)
        return Step::GiveUp;
    ++restartsUsed;
    return Step::Restart;
}

bool shouldAutoConnect(const AutoConnectInputs &inputs)
{
    return inputs.settingOn && inputs.signedIn && inputs.bootstrapSucceeded && !inputs.tunnelAlreadyRunning
        && !inputs.alreadyTried;
}

} // namespace TunnelHealth
