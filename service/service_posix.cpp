// The tunnel service on Linux. Without "--console" it is the service itself,
// run in the foreground by systemd (Type=notify: READY=1 once the engine has
// started) or, for development, by
// quillet-servicectl's user mode: it starts the engine on the shared active
// configuration, waits for SIGTERM/SIGINT or the engine's end, ends the
// engine and exits. The file layout is the Windows service's.
//
// The states the Windows service reports to its control manager are written,
// as their numbers (2 start pending, 4 running, 3 stop pending, 1 stopped), to
// the file named by QUILLET_SERVICE_STATUS_FILE when quillet-servicectl's user
// mode sets it. TARN_SINGBOX_BINARY, when set, names the engine instead of
// "bin/sing-box" beside the program (development machines without the engine;
// a systemd unit's environment is root's to set).

#include "configguard.h"
#include "posixsupport.h"
#include "servicecommon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// How often the engine log is looked at while the engine runs.
constexpr long kLogCapCheckSeconds = 10;

// States as the Windows service reports them; quillet-servicectl reads them
// from the status file it asked for.
constexpr char kStartPending[] = "2";
constexpr char kRunning[] = "4";
constexpr char kStopPending[] = "3";
constexpr char kStopped[] = "1";

std::string g_serviceDirectory;
std::string g_statusFile;
std::string g_notifySocket;
std::string g_engineLog;
pid_t g_child = 0;
sigset_t g_waitSignals;
sigset_t g_originalMask;

void appendLog(const std::string &message)
{
    QuilletService::appendServiceLog(g_serviceDirectory + "/logs", message);
}

void reportStatus(const char *state)
{
    if (!g_statusFile.empty())
        QuilletService::writeFileAtomically(g_statusFile, std::string(state) + "\n");
}

void noteSignal(int) { }

// Stop requests and the engine's end arrive as signals, taken synchronously.
void blockSignals()
{
    sigemptyset(&g_waitSignals);
    sigaddset(&g_waitSignals, SIGTERM);
    sigaddset(&g_waitSignals, SIGINT);
    sigaddset(&g_waitSignals, SIGHUP);
    sigaddset(&g_waitSignals, SIGCHLD);
    struct sigaction action
    {
    };
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    sigprocmask(SIG_BLOCK, &g_waitSignals, &g_originalMask);
}

std::string engineExitText(int status)
{
    if (WIFEXITED(status))
        return "sing-box exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "sing-box ended by signal " + std::to_string(WTERMSIG(status));
    return "sing-box ended";
}

// True when the engine has ended (and was reaped).
bool reapEngine()
{
    if (g_child <= 0)
        return true;
    int status = 0;
    const pid_t done = ::waitpid(g_child, &status, WNOHANG);
    if (done == g_child || (done < 0 && errno == ECHILD)) {
        if (done == g_child)
            appendLog(engineExitText(status));
        g_child = 0;
        return true;
    }
    return false;
}

// Waits without limit for a stop signal or the engine's end.
void waitForStopOrEngineEnd()
{
    while (!reapEngine()) {
        siginfo_t info;
        const timespec wait {kLogCapCheckSeconds, 0};
        const int signal = ::sigtimedwait(&g_waitSignals, &info, &wait);
        if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP)
            return;
        // Nothing rotates the engine's log: a chatty engine must not fill the disk.
        if (signal < 0 && errno == EAGAIN && !g_engineLog.empty())
            QuilletService::capLogFile(g_engineLog, QuilletService::kLogCapBytes);
    }
}

std::string readErrorText(QuilletService::ConfigReadError error)
{
    switch (error) {
    case QuilletService::ConfigReadError::SymbolicLink:
        return "it is a symbolic link";
    case QuilletService::ConfigReadError::NotRegular:
        return "it is not a regular file";
    case QuilletService::ConfigReadError::TooLarge:
        return "it is larger than 4 MiB";
    default:
        return "cannot read it";
    }
}

// Reads the configuration without following links or waiting on a FIFO and
// checks it. Only the reason goes to the log, never what the file holds.
bool configIsSafe(const std::string &config, std::string &bytes)
{
    const QuilletService::ConfigReadError error
        = QuilletService::readRegularFile(config, QuilletService::kMaxConfigBytes, bytes);
    if (error == QuilletService::ConfigReadError::Missing) {
        appendLog(QuilletService::kConfigNotFound + config);
        return false;
    }
    if (error != QuilletService::ConfigReadError::None) {
        appendLog(std::string(QuilletService::kConfigRefused) + readErrorText(error));
        return false;
    }
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(bytes);
    if (!verdict.accepted)
        appendLog(QuilletService::kConfigRefused + verdict.reason);
    return verdict.accepted;
}

// The engine reads the bytes that were checked, from a file only the service
// writes: the user-writable active.json could be swapped between check and run.
bool writeCheckedCopy(const std::string &path, const std::string &bytes)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += std::size_t(n);
    }
    const bool ok = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

// The engine binary: TARN_SINGBOX_BINARY when set (a development machine
// without the real engine), else "bin/sing-box" beside the service program.
std::string enginePath()
{
    const char *overridePath = std::getenv("TARN_SINGBOX_BINARY");
    if (overridePath && *overridePath)
        return overridePath;
    return g_serviceDirectory + "/bin/sing-box";
}

bool startSingBoxProcess()
{
    const std::string sharedDirectory = QuilletService::sharedDataDirectory();
    const std::string engine = enginePath();
    const std::string config = sharedDirectory + "/configs/active.json";
    const std::string logs = g_serviceDirectory + "/logs";
    const std::string runtime = sharedDirectory + "/runtime";

    QuilletService::ensureDirectory(logs);
    // The engine writes there with the service's rights: a link planted in its
    // place would send those writes anywhere.
    std::string why;
    if (!QuilletService::prepareRuntimeDirectory(runtime, why)) {
        appendLog("refused runtime folder " + runtime + ": " + why);
        return false;
    }
    if (!QuilletService::fileExists(engine)) {
        appendLog("sing-box not found: " + engine);
        return false;
    }
    std::string checkedBytes;
    if (!configIsSafe(config, checkedBytes))
        return false;
    const std::string checkedConfig = runtime + "/" + QuilletService::kCheckedConfigName;
    if (!writeCheckedCopy(checkedConfig, checkedBytes)) {
        appendLog(std::string(QuilletService::kConfigRefused) + "cannot write the checked copy " + checkedConfig);
        return false;
    }

    g_engineLog = logs + "/sing-box.log";
    const int logFd = QuilletService::openLogForAppend(g_engineLog);
    if (logFd < 0) {
        appendLog(QuilletService::kLogOpenFailed);
        return false;
    }
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int execStatus[2];
    if (::pipe2(execStatus, O_CLOEXEC) != 0) {
        ::close(logFd);
        if (nullFd >= 0)
            ::close(nullFd);
        appendLog(QuilletService::kEngineStartFailed);
        return false;
    }

    const char *argv[] = {engine.c_str(), "run", "-D", runtime.c_str(), "-c", checkedConfig.c_str(), nullptr};
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifdef __linux__
        // The engine must not outlive a service that was killed outright.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        struct sigaction defaults
        {
        };
        defaults.sa_handler = SIG_DFL;
        sigemptyset(&defaults.sa_mask);
        sigaction(SIGCHLD, &defaults, nullptr);
        sigprocmask(SIG_SETMASK, &g_originalMask, nullptr);
        if (::chdir(g_serviceDirectory.c_str()) != 0) {
            // The engine changes into its own -D directory anyway.
        }
        if (nullFd >= 0)
            ::dup2(nullFd, 0);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        ::execv(engine.c_str(), const_cast<char *const *>(argv));
        const int error = errno;
        ssize_t ignored = ::write(execStatus[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(execStatus[1]);
    ::close(logFd);
    if (nullFd >= 0)
        ::close(nullFd);
    int error = 0;
    ssize_t got = 0;
    if (pid > 0) {
        do {
            got = ::read(execStatus[0], &error, sizeof error);
        } while (got < 0 && errno == EINTR);
    }
    ::close(execStatus[0]);
    if (pid < 0 || got > 0) {
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
        appendLog(
            std::string(QuilletService::kEngineStartFailed) + " (" + std::strerror(pid < 0 ? errno : error) + ")");
        return false;
    }
    g_child = pid;
    appendLog(QuilletService::kEngineStarted + config);
    return true;
}

// Asks the engine to end, and kills it when it has not within the wait.
void stopSingBoxProcess()
{
    if (g_child > 0 && !reapEngine()) {
        ::kill(g_child, SIGTERM);
        timespec deadline;
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += QuilletService::kEngineStopWaitMs / 1000;
        sigset_t childOnly;
        sigemptyset(&childOnly);
        sigaddset(&childOnly, SIGCHLD);
        while (!reapEngine()) {
            timespec now;
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            long long left = (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
            if (left <= 0) {
                ::kill(g_child, SIGKILL);
                ::waitpid(g_child, nullptr, 0);
                appendLog("sing-box did not end within 5000 ms and was killed");
                g_child = 0;
                break;
            }
            // Wake at least every 100 ms: a SIGCHLD may have been taken already.
            if (left > 100000000LL)
                left = 100000000LL;
            const timespec wait {time_t(left / 1000000000LL), long(left % 1000000000LL)};
            ::sigtimedwait(&childOnly, nullptr, &wait);
        }
    }
    appendLog(QuilletService::kEngineStopped);
}

} // namespace

int main(int argc, char **argv)
{
    g_serviceDirectory = QuilletService::executableDirectory(argc > 0 ? argv[0] : nullptr);
    const bool console = argc > 1 && std::strcmp(argv[1], "--console") == 0;
    blockSignals();
    const char *notifySocket = std::getenv("NOTIFY_SOCKET");
    g_notifySocket = notifySocket ? notifySocket : "";
    ::unsetenv("NOTIFY_SOCKET"); // the engine must not speak for the service

    if (console) {
        appendLog(QuilletService::kConsoleModeStart);
        if (!startSingBoxProcess())
            return 1;
        waitForStopOrEngineEnd();
        stopSingBoxProcess();
        return 0;
    }

    const char *statusFile = std::getenv("QUILLET_SERVICE_STATUS_FILE");
    g_statusFile = statusFile ? statusFile : "";
    ::unsetenv("QUILLET_SERVICE_STATUS_FILE"); // the engine has no use for it
    reportStatus(kStartPending);
    if (!startSingBoxProcess()) {
        reportStatus(kStopped);
        return 1;
    }
    reportStatus(kRunning);
    // With Type=notify systemd reports the unit running only now, after the
    // configuration was checked and the engine started.
    QuilletService::notifySystemd(g_notifySocket, "READY=1");
    waitForStopOrEngineEnd();
    reportStatus(kStopPending);
    QuilletService::notifySystemd(g_notifySocket, "STOPPING=1");
    stopSingBoxProcess();
    reportStatus(kStopped);
    return 0;
}
