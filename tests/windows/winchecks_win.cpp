// The Windows OS calls the client makes, run under wine:
//   aesgcm FIXTURES   BCrypt AES-256-GCM over envelopes sealed natively with OpenSSL
//   ifcounters        the GetIfTable reader returns a sane record
//   ping FIXTUREDIR   the ping output parser over recorded ping.exe outputs
//   autostart-on PROGRAM   writes the Run value for PROGRAM (UTF-8) and reads it back;
//                     relative and quote-holding paths are refused and change nothing
//   autostart-off     removes the Run value, twice (the second finds none)
//   motion            the client-area animation setting read as the motion preference,
//                     and window cloaking: the DWM query and the cloak event hook
//   with-env NAME VALUE PROGRAM ARGS...   runs PROGRAM with NAME set and returns its
//                     exit code (wine sets "ProgramData" from its registry, not from
//                     the caller's environment)
// The fatal message box is linked (its address is taken) but never shown: it blocks.
#include "fatalmessage_win.h"
#include "platform/aesgcm.h"
#include "platform/autostart.h"
#include "platform/ifcounters.h"
#include "platform/motion.h"
#include "pingcases.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> fromHex(const std::string &hex)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((unsigned char)std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Each line: name key nonce ciphertext tag plaintext expected, in hex; expected
// is "ok" or "verify-failed".
int checkAesGcm(const char *fixturePath)
{
    std::ifstream fixtures(fixturePath);
    std::string line;
    int cases = 0;
    int failures = 0;
    while (std::getline(fixtures, line)) {
        std::istringstream fields(line);
        std::string name, key, nonce, cipher, tag, plain, expected;
        if (!(fields >> name >> key >> nonce >> cipher >> tag >> plain >> expected))
            continue;
        ++cases;
        std::vector<unsigned char> output;
        const Platform::AesGcmResult result
            = Platform::decryptAes256Gcm(fromHex(key), fromHex(nonce), fromHex(cipher), fromHex(tag), output);
        const bool wantOk = expected == "ok";
        const bool pass = wantOk ? result == Platform::AesGcmResult::Ok && output == fromHex(plain)
                                 : result == Platform::AesGcmResult::VerifyFailed && output.empty();
        std::printf("%s aesgcm %s (result %d, %u bytes)\n", pass ? "ok" : "FAIL", name.c_str(), int(result),
            unsigned(output.size()));
        failures += pass ? 0 : 1;
    }
    if (cases == 0) {
        std::printf("FAIL aesgcm: no fixtures in %s\n", fixturePath);
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

int checkInterfaceCounters()
{
    const Platform::InterfaceOctets octets = Platform::readInterfaceOctets();
    const bool consistent = octets.found == (octets.inOctets != 0 || octets.outOctets != 0);
    std::printf("%s ifcounters found=%d in=%llu out=%llu\n", octets.found && consistent ? "ok" : "FAIL",
        int(octets.found), octets.inOctets, octets.outOctets);
    return octets.found && consistent ? 0 : 1;
}

int runWithVariable(int argc, char **argv)
{
    SetEnvironmentVariableA(argv[2], argv[3]);
    std::string commandLine;
    for (int i = 4; i < argc; ++i)
        commandLine += std::string(commandLine.empty() ? "" : " ") + "\"" + argv[i] + "\"";
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "cannot start %s\n", argv[4]);
        return 127;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return int(code);
}

int checkAutostartOn(const std::string &program)
{
    int failures = 0;
    auto expect = [&failures](bool pass, const char *what, const std::string &detail) {
        std::printf("%s autostart %s%s%s\n", pass ? "ok" : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
        failures += pass ? 0 : 1;
    };
    const std::string wanted = "\"" + program + "\" --minimized";
    expect(Platform::enableLaunchAtLogin(program), "value written", std::string());
    expect(Platform::launchAtLoginCommand() == wanted, "value read back", Platform::launchAtLoginCommand());
    for (const char *refused : {"quillet-desktop.exe", "C:\\x\"y\\quillet-desktop.exe", ""}) {
        expect(!Platform::enableLaunchAtLogin(refused), "bad path refused", refused);
        expect(Platform::launchAtLoginCommand() == wanted, "value kept", Platform::launchAtLoginCommand());
    }
    return failures == 0 ? 0 : 1;
}

int checkAutostartOff()
{
    const bool removed = Platform::disableLaunchAtLogin();
    const bool gone = Platform::launchAtLoginCommand().empty();
    const bool again = Platform::disableLaunchAtLogin();
    std::printf("%s autostart removed=%d gone=%d second-removal=%d\n", removed && gone && again ? "ok" : "FAIL",
        int(removed), int(gone), int(again));
    return removed && gone && again ? 0 : 1;
}

// Waits for posted messages (the out-of-context hook's calls among them) for up to ms.
void pumpMessages(DWORD ms)
{
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < ms) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

int checkMotion()
{
    int failures = 0;
    auto expect = [&failures](bool pass, const char *what, const std::string &detail) {
        std::printf("%s motion %s%s%s\n", pass ? "ok" : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
        failures += pass ? 0 : 1;
    };
    auto readNow = [] {
        Platform::MotionReading reading;
        int answers = 0;
        Platform::readMotionPreference([&](const Platform::MotionReading &r) {
            reading = r;
            ++answers;
        });
        return answers == 1 ? reading : Platform::MotionReading();
    };

    // The setting as the system holds it, then both ways, then back.
    BOOL original = TRUE;
    const bool readable = SystemParametersInfoW(0x1042 /* SPI_GETCLIENTAREAANIMATION */, 0, &original, 0) != FALSE;
    const Platform::MotionReading first = readNow();
    expect(readable && first.preference == (original ? Platform::MotionPreference::Full : Platform::MotionPreference::Reduced),
        "the preference follows SPI_GETCLIENTAREAANIMATION",
        std::string(Platform::motionPreferenceName(first.preference)) + " from " + first.source);
    for (BOOL value : {FALSE, TRUE}) {
        const bool set = SystemParametersInfoW(0x1043 /* SPI_SETCLIENTAREAANIMATION */, 0,
                             reinterpret_cast<void *>(static_cast<INT_PTR>(value)), 0) != FALSE;
        const Platform::MotionReading reading = readNow();
        const Platform::MotionPreference wanted = value ? Platform::MotionPreference::Full : Platform::MotionPreference::Reduced;
        expect(set && reading.preference == wanted, value ? "animations on reads as full" : "animations off reads as reduced",
            Platform::motionPreferenceName(reading.preference));
    }
    SystemParametersInfoW(0x1043, 0, reinterpret_cast<void *>(static_cast<INT_PTR>(original)), 0);

    expect(!Platform::windowCloaked(0), "no window is not cloaked", std::string());
    expect(!Platform::windowCloaked(0x7ffe1234), "a stale handle is not cloaked", std::string());
    // Message-only: wine without a display creates no other kind of window.
    HWND window = CreateWindowExW(0, L"STATIC", L"motion", 0, 0, 0, 100, 100, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    expect(window != nullptr, "window created", std::string());
    expect(!Platform::windowCloaked(reinterpret_cast<std::uintptr_t>(window)), "a plain window is not cloaked",
        std::string());

    std::vector<std::pair<std::uintptr_t, bool>> seen;
    const std::uintptr_t token = Platform::watchWindowCloaking(
        [&seen](std::uintptr_t w, bool cloaked) { seen.emplace_back(w, cloaked); });
    expect(token != 0, "cloak hook set", std::string());
    const auto hwndValue = reinterpret_cast<std::uintptr_t>(window);
    NotifyWinEvent(0x8017 /* EVENT_OBJECT_CLOAKED */, window, OBJID_WINDOW, CHILDID_SELF);
    pumpMessages(300);
    NotifyWinEvent(0x8018 /* EVENT_OBJECT_UNCLOAKED */, window, OBJID_WINDOW, CHILDID_SELF);
    pumpMessages(300);
    // A part of the window, not the window: no word about its exposure.
    NotifyWinEvent(0x8017, window, OBJID_CLIENT, CHILDID_SELF);
    pumpMessages(300);
    const bool inOrder = seen.size() == 2 && seen[0] == std::make_pair(hwndValue, true)
                         && seen[1] == std::make_pair(hwndValue, false);
    expect(inOrder, "cloak and uncloak events reach the watcher, in order", std::to_string(seen.size()) + " calls");
    Platform::stopWatchingWindowCloaking(token);
    NotifyWinEvent(0x8017, window, OBJID_WINDOW, CHILDID_SELF);
    pumpMessages(300);
    expect(seen.size() == 2, "no call after the watch stopped", std::to_string(seen.size()) + " calls");
    if (window)
        DestroyWindow(window);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Linked, never called: a message box would wait for a click.
    volatile auto fatalMessage = &showWindowsFatalMessageBox;
    if (argc > 1 && std::strcmp(argv[1], "fatal-message") == 0) {
        std::printf("%s fatal message box linked\n", fatalMessage ? "ok" : "FAIL");
        return fatalMessage ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "aesgcm") == 0)
        return checkAesGcm(argv[2]);
    if (argc >= 5 && std::strcmp(argv[1], "with-env") == 0)
        return runWithVariable(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "ifcounters") == 0)
        return checkInterfaceCounters();
    if (argc == 3 && std::strcmp(argv[1], "ping") == 0)
        return PingCases::checkDirectory(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "autostart-on") == 0)
        return checkAutostartOn(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "autostart-off") == 0)
        return checkAutostartOff();
    if (argc == 2 && std::strcmp(argv[1], "motion") == 0)
        return checkMotion();
    std::fprintf(stderr, "usage: winchecks aesgcm FILE | ifcounters | ping DIR | autostart-on PROGRAM | autostart-off | motion | fatal-message\n");
    return 64;
}
