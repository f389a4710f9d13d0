#pragma once

#include <QtGlobal>

// The rules that keep a connected tunnel alive: when a health check counts as
// failed, when the tunnel is restarted and after how long, when the client
// gives up, when a wall-clock jump means the machine slept, and whether the
// client connects by itself at start.
namespace TunnelHealth {

// While connected the check runs this often, and again this soon after a first failure.
constexpr int kCheckIntervalMs = 60000;
constexpr int kRecheckDelayMs = 4000;
// Restarts after a drop, each after its back-off; then the client gives up.
constexpr int kMaxRestarts = 3;

// The wait before restart number `attempt` (0-based): 5 s, 15 s, 45 s; -1 once
// no restart is left.
int restartDelayMs(int attempt);

// A timer that should have fired after `expectedMs` and finds the wall clock
// `wallElapsedMs` later: much more (twice the period or more) means the
// machine was asleep in between. A clock set back is no resume.
bool resumeDetected(qint64 expectedMs, qint64 wallElapsedMs);

struct Observation
{
    bool networkReachable = true;
    bool controlApiAnswers = true;
    bool probeAnswers = true;
};

enum class Step {
    Healthy,        // all answered: the counters start again
    WaitForNetwork, // no network: nothing is counted until it returns
    CheckAgainSoon, // a first failure: look again in a few seconds
    Restart,        // restart to the same node after restartDelayMs(restartsUsed - 1)
    GiveUp,         // restarts used up, or restarting is turned off
};

// What one health check's outcome leads to. Two failed checks in a row are a
// drop; a drop restarts while restarts are allowed and left.
struct State
{
    int consecutiveFailures = 0;
    int restartsUsed = 0;

    Step observe(const Observation &observation, bool reconnectOnDrop);
    // A drop the client saw directly (the engine ended, the service stopped).
    Step dropped(bool reconnectOnDrop);
    // A restart ended without a connection.
    Step restartFailed();
};

// Whether the client starts the connection by itself: signed in with the
// setting on, the start-up bootstrap has succeeded, no tunnel is already
// running, and it has not done so before in this run.
struct AutoConnectInputs
{
    bool settingOn = false;
    bool signedIn = false;
    bool bootstrapSucceeded = false;
    bool tunnelAlreadyRunning = false;
    bool alreadyTried = false;
};
bool shouldAutoConnect(const AutoConnectInputs &inputs);

} // namespace TunnelHealth
