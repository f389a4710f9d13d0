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
