#pragma once

#include <string>

// What the service-control tool's answers mean: sc.exe on Windows (and wine),
// quillet-servicectl on Linux, which answers the same way. Free of Qt so that
// the Windows checks can feed it the real tool's output.
namespace ServiceAnswer {

// The state query found the service: exit code 0. Windows answers a missing
// service with 1060 ("FAILED 1060"), wine with 1 and no text.
bool queryFoundService(int exitCode);

// The state query reports the engine running: exit code 0 and "RUNNING" (any case).
bool reportsRunning(int exitCode, const std::string &output);

// The start request was taken: exit code 0, or 1056 ("an instance of the
// service is already running") in the output.
bool startAccepted(int exitCode, const std::string &output);

// The start was refused for lack of rights: "Access is denied" (any case) or
// the Chinese system's "拒绝访问".
bool accessDenied(const std::string &output);

} // namespace ServiceAnswer
