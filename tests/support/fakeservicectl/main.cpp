// A stand-in for the service-control tool (sc.exe / quillet-servicectl) that
// answers "query|start|stop QuilletVpnService" from a state folder, so tests
// can play every answer the client must read. Environment:
//   QUILLET_FAKE_SC_STATE     folder holding the "running" flag and the "calls" log
//                             (one line per invocation: the verb)
//   QUILLET_FAKE_SC_MODE      normal (default) | missing | denied | denied-zh |
//                             already-running | never-running | stuck | fail | fail-silent
//   QUILLET_FAKE_SC_DELAY_MS  sleep this long before answering
//   QUILLET_FAKE_SC_DELAY_VERB  only delay this verb
//   QUILLET_FAKE_SC_DELAY_FILE  a file holding the delay in ms (read at each call; a
//                             test switches it while the client runs)
//   QUILLET_FAKE_SC_FORWARD   after the delay, run this program with the same
//                             arguments and answer what it answers (the real
//                             quillet-servicectl, made slow); no state folder needed

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

void printState(int state, const char *name)
{
    std::printf("\nSERVICE_NAME: QuilletVpnService \n        TYPE               : 10  WIN32_OWN_PROCESS  \n");
    std::printf("        STATE              : %d  %s \n", state, name);
    std::printf("        WIN32_EXIT_CODE    : 0  (0x0)\n        SERVICE_EXIT_CODE  : 0  (0x0)\n");
}

int failWith(const char *text, int code)
{
    std::printf("%s", text);
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 1;
    const std::string verb = argv[1];
    const std::filesystem::path state = env("QUILLET_FAKE_SC_STATE");
    const std::string mode = env("QUILLET_FAKE_SC_MODE").empty() ? "normal" : env("QUILLET_FAKE_SC_MODE");
    const std::filesystem::path flag = state / "running";

    const std::string forward = env("QUILLET_FAKE_SC_FORWARD");
    if (!forward.empty()) {
        int delayMs = std::atoi(env("QUILLET_FAKE_SC_DELAY_MS").c_str());
        if (!env("QUILLET_FAKE_SC_DELAY_FILE").empty()) {
            std::ifstream file(env("QUILLET_FAKE_SC_DELAY_FILE"));
            file >> delayMs;
        }
        const std::string delayVerb = env("QUILLET_FAKE_SC_DELAY_VERB");
        if (delayMs > 0 && (delayVerb.empty() || delayVerb == verb))
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        std::fflush(stdout);
        char *arguments[] = {const_cast<char *>(forward.c_str()), argv[1], argv[2], nullptr};
        ::execv(forward.c_str(), arguments);
        std::fprintf(stderr, "cannot run %s\n", forward.c_str());
        return 1;
    }
    if (state.empty()) {
        std::fprintf(stderr, "QUILLET_FAKE_SC_STATE is not set\n");
        return 1;
    }
    std::ofstream(state / "calls", std::ios::app) << verb << '\n';

    const std::string delayVerb = env("QUILLET_FAKE_SC_DELAY_VERB");
    if (delayVerb.empty() || delayVerb == verb)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(env("QUILLET_FAKE_SC_DELAY_MS").c_str())));

    if (mode == "missing")
        return failWith("[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\n\n"
                        "The specified service does not exist as an installed service.\n\n",
            36);
    const bool running = std::filesystem::exists(flag);

    if (verb == "query") {
        if (running)
            printState(4, "RUNNING");
        else if (mode == "never-running")
            printState(2, "START_PENDING");
        else
            printState(1, "STOPPED");
        return 0;
    }
    if (verb == "start") {
        if (mode == "denied")
            return failWith("[SC] StartService: OpenService FAILED 5:\n\nAccess is denied.\n\n", 5);
        if (mode == "denied-zh")
            return failWith("[SC] StartService: OpenService 失败 5:\n\n拒绝访问。\n\n", 5);
        if (mode == "fail")
            return failWith("[SC] StartService FAILED 1053:\n\nThe service did not respond to the start or control "
                            "request in a timely fashion.\n\n",
                29);
        if (mode == "fail-silent")
            return 1;
        if (mode == "never-running") {
            printState(2, "START_PENDING");
            return 0;
        }
        if (running || mode == "already-running") {
            std::ofstream(flag) << "1";
            return failWith("[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n\n", 32);
        }
        std::ofstream(flag) << "1";
        printState(2, "START_PENDING");
        return 0;
    }
    if (verb == "stop") {
        if (!running)
            return failWith("[SC] ControlService FAILED 1062:\n\nThe service has not been started.\n\n", 38);
        if (mode != "stuck")
            std::filesystem::remove(flag);
        printState(3, "STOP_PENDING");
        return 0;
    }
    return 1;
}
