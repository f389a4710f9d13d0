// Feeds recorded service-control answers (sc.exe on Windows, or wine's sc.exe
// in the run-time check) to the parser the engine manager uses.
// Input: "=== <case> <verb> exit=<code> expect=<meaning>" lines, each followed by
// the tool's output; lines starting with "#" before the first case are notes.
#include "serviceanswer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Case
{
    std::string name;
    std::string verb;
    int exitCode = 0;
    std::string expect;
    std::string output;
};

bool judge(const Case &c, std::string &why)
{
    const bool found = ServiceAnswer::queryFoundService(c.exitCode);
    const bool running = ServiceAnswer::reportsRunning(c.exitCode, c.output);
    const bool accepted = ServiceAnswer::startAccepted(c.exitCode, c.output);
    const bool denied = ServiceAnswer::accessDenied(c.output);
    why = "found=" + std::to_string(found) + " running=" + std::to_string(running) + " accepted="
        + std::to_string(accepted) + " denied=" + std::to_string(denied);
    if (c.expect == "running")
        return found && running;
    if (c.expect == "stopped")
        return found && !running;
    if (c.expect == "missing")
        return !found && !running;
    if (c.expect == "accepted")
        return accepted && !denied;
    if (c.expect == "already")
        return c.exitCode != 0 && accepted;
    if (c.expect == "denied")
        return !accepted && denied;
    if (c.expect == "refused")
        return !accepted && !denied;
    why = "unknown expectation " + c.expect;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    int cases = 0;
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        std::ifstream file(argv[a], std::ios::binary);
        if (!file) {
            std::printf("FAIL cannot read %s\n", argv[a]);
            return 1;
        }
        std::string line;
        Case current;
        bool open = false;
        auto finish = [&] {
            if (!open)
                return;
            std::string why;
            const bool pass = judge(current, why);
            std::printf("%s %s (%s exit=%d expect=%s): %s\n", pass ? "ok" : "FAIL", current.name.c_str(),
                current.verb.c_str(), current.exitCode, current.expect.c_str(), why.c_str());
            ++cases;
            failures += pass ? 0 : 1;
        };
        while (std::getline(file, line)) {
            if (line.rfind("=== ", 0) == 0) {
                finish();
                current = Case();
                std::istringstream header(line.substr(4));
                std::string exitField, expectField;
                header >> current.name >> current.verb >> exitField >> expectField;
                current.exitCode = std::stoi(exitField.substr(exitField.find('=') + 1));
                current.expect = expectField.substr(expectField.find('=') + 1);
                open = true;
            } else if (open) {
                current.output += line + "\n";
            }
        }
        finish();
    }
    if (cases == 0) {
        std::printf("FAIL no cases\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
