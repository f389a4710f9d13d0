#include "posixsupport.h"

#include "servicecommon.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

ConfigReadError readRegularFile(const std::string &path, std::size_t maxBytes, std::string &out)
{
    out.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ConfigReadError::Missing;
        return errno == ELOOP ? ConfigReadError::SymbolicLink : ConfigReadError::Unreadable;
    }
    struct stat info;
    ConfigReadError result = ConfigReadError::None;
    if (::fstat(fd, &info) != 0)
        result = ConfigReadError::Unreadable;
    else if (!S_ISREG(info.st_mode))
        result = ConfigReadError::NotRegular;
    else if (std::size_t(info.st_size) > maxBytes)
        result = ConfigReadError::TooLarge;
    char buffer[65536];
    while (result == ConfigReadError::None) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result = ConfigReadError::Unreadable;
        if (n <= 0)
            break;
        out.append(buffer, std::size_t(n));
        if (out.size() > maxBytes)
            result = ConfigReadError::TooLarge;
    }
    ::close(fd);
    if (result != ConfigReadError::None)
        out.clear();
    return result;
}

bool prepareRuntimeDirectory(const std::string &path, std::string &why)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        const std::size_t slash = path.find_last_of('/');
        if (slash != std::string::npos && slash > 0)
            ensureDirectory(path.substr(0, slash));
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            why = std::string("cannot create it (") + std::strerror(errno) + ")";
            return false;
        }
        if (::lstat(path.c_str(), &info) != 0) {
            why = std::string("cannot examine it (") + std::strerror(errno) + ")";
            return false;
        }
    }
    if (S_ISLNK(info.st_mode)) {
        why = "it is a symbolic link";
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        why = "it is not a directory";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        why = "it belongs to another user";
        return false;
    }
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0) {
        why = std::string("cannot make it private (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

void capLogFile(const std::string &path, std::size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && std::size_t(info.st_size) > maxBytes) {
        const std::size_t keep = maxBytes / 2;
        std::string tail(keep, '\0');
        const ssize_t got = ::pread(fd, &tail[0], keep, off_t(info.st_size) - off_t(keep));
        if (got > 0) {
            tail.resize(std::size_t(got));
            const std::string kept = keptLogTail(tail);
            if (::ftruncate(fd, 0) == 0) {
                std::size_t done = 0;
                while (done < kept.size()) {
                    const ssize_t n = ::pwrite(fd, kept.data() + done, kept.size() - done, off_t(done));
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0)
                        break;
                    done += std::size_t(n);
                }
            }
        }
    }
    ::close(fd);
}

int openLogForAppend(const std::string &path)
{
    capLogFile(path, kLogCapBytes);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
    if (fd < 0)
        return fd;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    // Members of "quillet" may read the logs; nobody else.
    if (::geteuid() == 0) {
        if (const struct group *quillet = ::getgrnam("quillet"))
            (void)::fchown(fd, 0, quillet->gr_gid);
    }
    if ((info.st_mode & 0037) != 0)
        ::fchmod(fd, 0640);
    return fd;
}

void notifySystemd(const std::string &socketPath, const char *state)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::size_t length = socketPath.size();
    if (length >= sizeof address.sun_path || (socketPath[0] != '/' && socketPath[0] != '@'))
        return;
    std::memcpy(address.sun_path, socketPath.data(), length);
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + length);
    (void)::sendto(fd, state, std::strlen(state), MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&address), size);
    ::close(fd);
}

void appendServiceLog(const std::string &logsDirectory, const std::string &message)
{
    ::mkdir(logsDirectory.c_str(), 0755);
    const int fd = openLogForAppend(logsDirectory + "/service.log");
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
