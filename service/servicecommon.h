#pragma once

#include <cstddef>
#include <string>

// What the Win32 and POSIX service programs share: the file layout, the engine
// command line and the service log's line prefix. Strings are std::string
// (UTF-8) on POSIX and std::wstring on Windows, hence the templates.
namespace QuilletService {

// The name the service-control tool addresses.
inline constexpr char kServiceName[] = "QuilletVpnService";
inline constexpr wchar_t kServiceNameWide[] = L"QuilletVpnService";

// Log lines (English, one event each).
inline constexpr char kConsoleModeStart[] = "console mode start";
inline constexpr char kDispatcherFailed[] = "StartServiceCtrlDispatcher failed; run with --console for debugging.";
inline constexpr char kConfigNotFound[] = "active config not found: ";
inline constexpr char kLogOpenFailed[] = "failed to open sing-box log file";
inline constexpr char kEngineStarted[] = "started sing-box with config: ";
inline constexpr char kEngineStartFailed[] = "failed to start sing-box process";
inline constexpr char kEngineStopped[] = "stopped sing-box";
inline constexpr char kConfigRefused[] = "refused active config: ";

// The checked copy of configs/active.json inside the runtime directory: the
// file the engine actually runs on.
inline constexpr char kCheckedConfigName[] = "active.checked.json";
inline constexpr wchar_t kCheckedConfigNameWide[] = L"active.checked.json";

// The service log and the engine log are cut to their newest half beyond this.
inline constexpr std::size_t kLogCapBytes = 4 * 1024 * 1024;

// Larger configurations are not read, let alone run.
inline constexpr std::size_t kMaxConfigBytes = 4 * 1024 * 1024;

// Wait after asking the engine to end before it is killed.
inline constexpr unsigned kEngineStopWaitMs = 5000;

// A double quote, the text with every double quote escaped by a backslash, a
// double quote. Backslashes stay as they are, so paths keep their form.
template<class String> String quote(const String &text)
{
    using Char = typename String::value_type;
    String out;
    out.reserve(text.size() + 2);
    out += Char('"');
    for (const Char c : text) {
        if (c == Char('"'))
            out += Char('\\');
        out += c;
    }
    out += Char('"');
    return out;
}

// quote(engine) + " run -D " + quote(runtime) + " -c " + quote(config).
template<class String> String engineCommandLine(const String &engine, const String &runtime, const String &config)
{
    using Char = typename String::value_type;
    const Char run[] = {' ', 'r', 'u', 'n', ' ', '-', 'D', ' ', 0};
    const Char c[] = {' ', '-', 'c', ' ', 0};
    return quote(engine) + run + quote(runtime) + c + quote(config);
}

// Calls create(prefix) for every prefix of the path that ends at a separator
// ("\" or "/"), including that separator, then for the whole path. Nothing for
// an empty path. Failures are the caller's to ignore (mostly "already exists").
template<class String, class Create> void forEachDirectoryPrefix(const String &path, Create create)
{
    using Char = typename String::value_type;
    if (path.empty())
        return;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == Char('\\') || path[i] == Char('/'))
            create(path.substr(0, i + 1));
    }
    create(path);
}

// The directory part of a module path: everything before the last "\" or "/",
// "." when there is neither.
template<class String> String directoryOf(const String &modulePath)
{
    using Char = typename String::value_type;
    const std::size_t slash = modulePath.find_last_of(String {Char('\\'), Char('/')});
    if (slash == String::npos)
        return String(1, Char('.'));
    return modulePath.substr(0, slash);
}

// The newest part of a log that is kept when it is capped: the last half of
// the cap, starting after the first line break in it (so no line is cut).
inline std::string keptLogTail(const std::string &tail)
{
    const std::size_t lineEnd = tail.find('\n');
    return lineEnd == std::string::npos ? tail : tail.substr(lineEnd + 1);
}

// "[YYYY-MM-DD hh:mm:ss] " for the service log.
std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second);

} // namespace QuilletService
