#include "posixsupport.h"

#include "servicecommon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace QuilletService {

namespace {

bool writeAll(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n\f\v";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::string executableDirectory(const char *argv0)
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0)
        return directoryOf(std::string(buffer, std::size_t(length)));
    return directoryOf(std::string(argv0 ? argv0 : ""));
}

std::string sharedDataDirectory()
{
    const char *programData = std::getenv("ProgramData");
    const std::string base = trimmed(programData ? programData : "");
    if (base.empty())
        return "/var/lib/quillet";
    return base + "/Quillet";
}

void ensureDirectory(const std::string &path)
{
    forEachDirectoryPrefix(path, [](const std::string &prefix) { ::mkdir(prefix.c_str(), 0755); });
}

bool fileExists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool isExecutableFile(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool readFileLimited(const std::string &path, std::size_t maxBytes, std::string &out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    bool ok = true;
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        out.append(buffer, std::size_t(n));
        if (out.size() > maxBytes) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool writeFileAtomically(const std::string &path, const std::string &content)
{
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, content);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void appendServiceLog(const std::string &logsDirectory, const std::string &message)
{
    ::mkdir(logsDirectory.c_str(), 0755);
    const std::string path = logsDirectory + "/service.log";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    const std::string line = logLinePrefix(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                 local.tm_min, local.tm_sec)
        + message + "\n";
    writeAll(fd, line);
    ::close(fd);
}

bool processIsAlive(pid_t pid)
{
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
        return false;
    // /proc/PID/stat: "pid (comm) S ..."; the state letter follows the last ')'.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true; // no /proc: kill(0) is all we can tell
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

std::string processName(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

CommandResult runCommand(const std::vector<std::string> &arguments)
{
    CommandResult result;
    if (arguments.empty())
        return result;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd >= 0)
            ::dup2(nullFd, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.output, &result.errors};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd &fd : fds) {
        if (fd.fd >= 0)
            ::close(fd.fd);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.started = result.exitCode != 127;
    return result;
}

} // namespace QuilletService
