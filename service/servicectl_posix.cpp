// quillet-servicectl: the Linux counterpart of the "sc.exe" calls the client
// makes. It speaks "query|start|stop QuilletVpnService" and answers the way
// sc.exe does ("STATE : 4 RUNNING", "[SC] StartService FAILED 1056:", ...),
// so the client reads both tools the same way.
//
// Where the systemd unit quillet-vpn.service is installed it drives that unit
// through systemctl. Otherwise (development machines, tests) it runs the
// service in a user mode: "start" launches quillet-vpn-service from its own
// folder as a detached process and keeps its pid in the shared data
// directory's runtime folder; "stop" sends it SIGTERM.
//
// QUILLET_SERVICECTL_MODE=user or =systemd forces a mode (default: systemd
// when the unit is installed, else user).
//
// Exit codes carry the Windows error numbers the answers name, cut to the 8
// bits a POSIX exit status holds (1056 → 32, 1060 → 36, 1062 → 38, 5 → 5):
// never 0 for a failure.

#include "posixsupport.h"
#include "servicecommon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

constexpr char kUnitName[] = "quillet-vpn.service";
constexpr char kServiceProgram[] = "quillet-vpn-service";
// /proc's command names stop after 15 characters.
constexpr char kServiceCommName[] = "quillet-vpn-ser";

enum State { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

enum WindowsError {
    AccessDenied = 5,
    FileNotFound = 2,
    ServiceRequestTimeout = 1053,
    ServiceAlreadyRunning = 1056,
    ServiceDoesNotExist = 1060,
    ServiceNotActive = 1062,
};

int exitCodeFor(int windowsError)
{
    return windowsError & 0xFF;
}

const char *stateName(int state)
{
    switch (state) {
    case Running:
        return "RUNNING";
    case StartPending:
        return "START_PENDING";
    case StopPending:
        return "STOP_PENDING";
    default:
        return "STOPPED";
    }
}

void printState(int state, pid_t pid, bool withPid)
{
    std::printf("\nSERVICE_NAME: %s \n", QuilletService::kServiceName);
    std::printf("        TYPE               : 10  WIN32_OWN_PROCESS  \n");
    std::printf("        STATE              : %d  %s \n", state, stateName(state));
    std::printf("                                (%s)\n",
        state == Running ? "STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN"
                         : "NOT_STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN");
    std::printf("        WIN32_EXIT_CODE    : 0  (0x0)\n");
    std::printf("        SERVICE_EXIT_CODE  : 0  (0x0)\n");
    std::printf("        CHECKPOINT         : 0x0\n");
    std::printf("        WAIT_HINT          : 0x0\n");
    if (withPid) {
        std::printf("        PID                : %ld\n", long(pid));
        std::printf("        FLAGS              : \n");
    }
}

int fail(const char *operation, int error, const std::string &text)
{
    std::printf("[SC] %s FAILED %d:\n\n%s\n\n", operation, error, text.c_str());
    return exitCodeFor(error);
}

int notInstalled(const std::string &verb)
{
    const char *operation = verb == "query" ? "EnumQueryServicesStatus:OpenService"
        : verb == "start"                   ? "StartService: OpenService"
                                            : "OpenService";
    return fail(operation, ServiceDoesNotExist, "The specified service does not exist as an installed service.");
}

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// ---- systemd ----

bool unitInstalled()
{
    return QuilletService::runCommand({"systemctl", "cat", kUnitName}).exitCode == 0;
}

int systemdState()
{
    const std::string word = trimmed(QuilletService::runCommand({"systemctl", "is-active", kUnitName}).output);
    if (word == "active")
        return Running;
    if (word == "activating" || word == "reloading")
        return StartPending;
    if (word == "deactivating")
        return StopPending;
    return Stopped;
}

int systemdFailure(const char *operation, const QuilletService::CommandResult &result)
{
    const std::string text = trimmed(result.errors.empty() ? result.output : result.errors);
    if (text.find("Access denied") != std::string::npos || text.find("authentication required") != std::string::npos
        || text.find("Permission denied") != std::string::npos)
        return fail(operation, AccessDenied, "Access is denied.\n" + text);
    return fail(operation, ServiceRequestTimeout,
        "The service did not respond to the start or control request in a timely fashion.\n" + text);
}

int systemdCommand(const std::string &verb)
{
    if (!unitInstalled())
        return notInstalled(verb);
    const int state = systemdState();
    if (verb == "query") {
        printState(state, 0, false);
        return 0;
    }
    if (verb == "start") {
        if (state == Running)
            return fail("StartService", ServiceAlreadyRunning, "An instance of the service is already running.");
        const QuilletService::CommandResult result
            = QuilletService::runCommand({"systemctl", "start", "--no-block", "--no-ask-password", kUnitName});
        if (result.exitCode != 0)
            return systemdFailure("StartService", result);
        printState(StartPending, 0, false);
        return 0;
    }
    if (state == Stopped)
        return fail("ControlService", ServiceNotActive, "The service has not been started.");
    const QuilletService::CommandResult result
        = QuilletService::runCommand({"systemctl", "stop", "--no-block", "--no-ask-password", kUnitName});
    if (result.exitCode != 0)
        return systemdFailure("ControlService", result);
    printState(StopPending, 0, false);
    return 0;
}

// ---- user mode ----

struct UserFiles
{
    std::string program;
    std::string runtime;
    std::string pidFile;
    std::string stateFile;
    std::string lockFile;
};

UserFiles userFiles(const char *argv0)
{
    UserFiles files;
    files.program = QuilletService::executableDirectory(argv0) + "/" + kServiceProgram;
    files.runtime = QuilletService::sharedDataDirectory() + "/runtime";
    files.pidFile = files.runtime + "/quillet-vpn-service.pid";
    files.stateFile = files.runtime + "/quillet-vpn-service.state";
    files.lockFile = files.runtime + "/quillet-vpn-service.lock";
    return files;
}

pid_t readPid(const std::string &path)
{
    std::string text;
    if (!QuilletService::readFileLimited(path, 64, text))
        return 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return value > 0 ? pid_t(value) : 0;
}

// The recorded service process when it still runs.
pid_t runningServicePid(const UserFiles &files)
{
    const pid_t pid = readPid(files.pidFile);
    if (!QuilletService::processIsAlive(pid))
        return 0;
    const std::string name = QuilletService::processName(pid);
    // A reused pid belongs to another program.
    if (!name.empty() && name != kServiceCommName && name != kServiceProgram)
        return 0;
    return pid;
}

int userState(const UserFiles &files, pid_t pid)
{
    if (pid <= 0)
        return Stopped;
    std::string state;
    QuilletService::readFileLimited(files.stateFile, 64, state);
    state = trimmed(state);
    if (state == "4")
        return Running;
    if (state == "3")
        return StopPending;
    return StartPending;
}

// Serializes concurrent starts and stops; released when the process ends.
void lockUserFiles(const UserFiles &files)
{
    const int fd = ::open(files.lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::flock(fd, LOCK_EX);
}

bool readAllFrom(int fd, void *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, static_cast<char *>(data) + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// Starts the service program in a session of its own, detached from us
// (double fork), and returns its pid; 0 with error set on failure.
pid_t launchDetached(const UserFiles &files, int &error)
{
    int pidPipe[2];
    int execPipe[2];
    if (::pipe2(pidPipe, O_CLOEXEC) != 0) {
        error = errno;
        return 0;
    }
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        error = errno;
        ::close(pidPipe[0]);
        ::close(pidPipe[1]);
        return 0;
    }
    const pid_t first = ::fork();
    if (first == 0) {
        ::setsid();
        const pid_t second = ::fork();
        if (second != 0) {
            ssize_t ignored = ::write(pidPipe[1], &second, sizeof second);
            (void)ignored;
            ::_exit(second > 0 ? 0 : 1);
        }
        const int nullFd = ::open("/dev/null", O_RDWR);
        if (nullFd >= 0) {
            ::dup2(nullFd, 0);
            ::dup2(nullFd, 1);
            ::dup2(nullFd, 2);
        }
        // Descriptors of whoever ran us (a client's pipes) must not stay open in the service.
        const long maxFd = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
        for (int fd = 3; fd < maxFd; ++fd) {
            if (fd != execPipe[1])
                ::close(fd);
        }
        if (::chdir("/") != 0) {
            // The service works with absolute paths only.
        }
        ::setenv("QUILLET_SERVICE_STATUS_FILE", files.stateFile.c_str(), 1);
        char *const argv[] = {const_cast<char *>(files.program.c_str()), nullptr};
        ::execv(files.program.c_str(), argv);
        const int code = errno;
        ssize_t ignored = ::write(execPipe[1], &code, sizeof code);
        (void)ignored;
        ::_exit(127);
    }
    ::close(pidPipe[1]);
    ::close(execPipe[1]);
    pid_t service = 0;
    if (first < 0) {
        error = errno;
    } else {
        while (::waitpid(first, nullptr, 0) < 0 && errno == EINTR) { }
        if (!readAllFrom(pidPipe[0], &service, sizeof service) || service <= 0) {
            error = ECHILD;
            service = 0;
        } else if (readAllFrom(execPipe[0], &error, sizeof error)) {
            service = 0; // exec failed; the child has ended
        }
    }
    ::close(pidPipe[0]);
    ::close(execPipe[0]);
    return service;
}

int userCommand(const std::string &verb, const char *argv0)
{
    const UserFiles files = userFiles(argv0);
    if (!QuilletService::isExecutableFile(files.program))
        return notInstalled(verb);

    if (verb == "query") {
        const pid_t pid = runningServicePid(files);
        printState(userState(files, pid), pid, false);
        return 0;
    }

    QuilletService::ensureDirectory(files.runtime);
    lockUserFiles(files);
    const pid_t pid = runningServicePid(files);
    if (verb == "start") {
        if (pid > 0)
            return fail("StartService", ServiceAlreadyRunning, "An instance of the service is already running.");
        ::unlink(files.stateFile.c_str());
        int error = 0;
        const pid_t service = launchDetached(files, error);
        if (service <= 0)
            return fail("StartService", FileNotFound,
                std::string("The service program could not be started: ") + std::strerror(error));
        if (!QuilletService::writeFileAtomically(files.pidFile, std::to_string(service) + "\n")) {
            ::kill(service, SIGTERM);
            return fail("StartService", AccessDenied, "Access is denied.\nCannot write " + files.pidFile);
        }
        printState(StartPending, service, true);
        return 0;
    }

    if (pid <= 0)
        return fail("ControlService", ServiceNotActive, "The service has not been started.");
    if (::kill(pid, SIGTERM) != 0)
        return fail("ControlService", AccessDenied, "Access is denied.");
    printState(StopPending, pid, true);
    return 0;
}

int usage()
{
    std::fprintf(stderr, "usage: quillet-servicectl query|start|stop %s\n", QuilletService::kServiceName);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return usage();
    const std::string verb = argv[1];
    if (verb != "query" && verb != "start" && verb != "stop")
        return usage();
    // Service names compare without regard to case, as on Windows.
    if (::strcasecmp(argv[2], QuilletService::kServiceName) != 0)
        return notInstalled(verb);

    const char *forced = std::getenv("QUILLET_SERVICECTL_MODE");
    const std::string mode = forced ? forced : "";
    const bool useSystemd = mode == "systemd" || (mode != "user" && unitInstalled());
    const int code = useSystemd ? systemdCommand(verb) : userCommand(verb, argv[0]);
    std::fflush(stdout);
    return code;
}
