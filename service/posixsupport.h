#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// File and process helpers that the POSIX service program and quillet-servicectl share.
namespace QuilletService {

// The folder of the running executable ("." when it cannot be told).
std::string executableDirectory(const char *argv0);

// "$ProgramData/Quillet" when ProgramData is set and not blank, else "/var/lib/quillet":
// the same folder the client computes.
std::string sharedDataDirectory();

// Creates the directory and its missing parents; failures are ignored.
void ensureDirectory(const std::string &path);

bool fileExists(const std::string &path);
bool isExecutableFile(const std::string &path);

// Reads at most maxBytes; false when the file cannot be read or is larger.
bool readFileLimited(const std::string &path, std::size_t maxBytes, std::string &out);

// Why a configuration file could not be read.
enum class ConfigReadError { None, Missing, SymbolicLink, NotRegular, TooLarge, Unreadable };

// Reads the file at path without following a symbolic link in its last
// component and without blocking on a FIFO or device: only a regular file of
// at most maxBytes is read.
ConfigReadError readRegularFile(const std::string &path, std::size_t maxBytes, std::string &out);

// Creates the directory (0700) when it is missing and checks that it is a real
// directory of this user, not a symbolic link; tightens it to 0700. The reason
// for a refusal goes to why.
bool prepareRuntimeDirectory(const std::string &path, std::string &why);

// When the file is larger than maxBytes, keeps its newest half (from a line
// start) in place. Writers that append keep appending at the new end.
void capLogFile(const std::string &path, std::size_t maxBytes);

// Opens a log file for appending (0640, group "quillet" when run as root) and
// caps it first.
int openLogForAppend(const std::string &path);

// Tells systemd the service's state (e.g. "READY=1") on the socket that
// NOTIFY_SOCKET named; nothing for an empty path.
void notifySystemd(const std::string &socketPath, const char *state);

// Writes a temporary file beside the target and renames it over the target.
bool writeFileAtomically(const std::string &path, const std::string &content);

// One service log line: "[YYYY-MM-DD hh:mm:ss] message\n" appended to logs/service.log.
void appendServiceLog(const std::string &logsDirectory, const std::string &message);

// Whether the process exists and has not ended (a zombie counts as ended).
bool processIsAlive(pid_t pid);

// The process's short command name from /proc (empty when unknown).
std::string processName(pid_t pid);

struct CommandResult
{
    bool started = false;
    int exitCode = -1;
    std::string output; // standard output
    std::string errors; // standard error
};

// Runs a program (searched on PATH) and collects its output.
CommandResult runCommand(const std::vector<std::string> &arguments);

} // namespace QuilletService
