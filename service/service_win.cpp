// The tunnel service on Windows: registered with the Service Control Manager
// as "QuilletVpnService", it runs the engine on the shared active
// configuration and reports the engine's life as the service's state.

#include "configguard.h"
#include "servicecommon.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

SERVICE_STATUS g_status {};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;
PROCESS_INFORMATION g_child {};
DWORD g_checkpoint = 1;
std::wstring g_engineLog;

// How often the engine log is looked at while the engine runs.
constexpr DWORD kLogCapCheckMs = 10000;

// runtime\: full control for SYSTEM and Administrators, inherited by what is
// created inside, nothing inherited from ProgramData (where users may write).
constexpr wchar_t kRuntimeSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::string toUtf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size);
    return out;
}

std::wstring moduleDirectory()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return L".";
        if (length < buffer.size())
            return QuilletService::directoryOf(std::wstring(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring programDataDirectory()
{
    wchar_t buffer[260];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", buffer, 260);
    if (length == 0 || length >= 260)
        return L"C:\\ProgramData\\Quillet";
    return std::wstring(buffer, length) + L"\\Quillet";
}

void ensureDirectory(const std::wstring &path)
{
    QuilletService::forEachDirectoryPrefix(
        path, [](const std::wstring &prefix) { CreateDirectoryW(prefix.c_str(), nullptr); });
}

// Keeps the newest half of a log that grew beyond the cap; writers that
// append keep appending at the new end.
void capLogFile(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size {};
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)
        && ULONGLONG(size.QuadPart) > QuilletService::kLogCapBytes) {
        const DWORD keep = DWORD(QuilletService::kLogCapBytes / 2);
        std::string tail(keep, '\0');
        LARGE_INTEGER from {};
        from.QuadPart = size.QuadPart - keep;
        DWORD read = 0;
        if (SetFilePointerEx(file, from, nullptr, FILE_BEGIN) && ReadFile(file, &tail[0], keep, &read, nullptr)) {
            tail.resize(read);
            const std::string kept = QuilletService::keptLogTail(tail);
            LARGE_INTEGER start {};
            DWORD written = 0;
            if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file))
                WriteFile(file, kept.data(), DWORD(kept.size()), &written, nullptr);
        }
    }
    CloseHandle(file);
}

// Opens a log for appending, capped first; never through a reparse point.
HANDLE openLogForAppend(const std::wstring &path)
{
    capLogFile(path);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        || GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void appendLog(const std::wstring &message)
{
    const std::wstring logs = moduleDirectory() + L"\\logs";
    CreateDirectoryW(logs.c_str(), nullptr);
    HANDLE file = openLogForAppend(logs + L"\\service.log");
    if (file == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string line
        = QuilletService::logLinePrefix(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond)
        + toUtf8(message) + "\r\n";
    DWORD written = 0;
    WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(file);
}

void appendLog(const std::string &message)
{
    appendLog(fromUtf8(message));
}

void reportStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    if (!g_statusHandle)
        return;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = exitCode;
    g_status.dwWaitHint = waitHint;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) : 0;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = pending ? g_checkpoint++ : 0;
    SetServiceStatus(g_statusHandle, &g_status);
}

enum class ReadResult { Ok, Missing, ReparsePoint, NotRegular, TooLarge, Unreadable };

// Reads the configuration without following a reparse point (a link the user
// planted in configs\) and only from a regular file within the size limit.
ReadResult readConfig(const std::wstring &path, std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
                                                                              : ReadResult::Unreadable;
    }
    ReadResult result = ReadResult::Ok;
    BY_HANDLE_FILE_INFORMATION info {};
    LARGE_INTEGER size {};
    if (!GetFileInformationByHandle(file, &info) || !GetFileSizeEx(file, &size))
        result = ReadResult::Unreadable;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        result = ReadResult::ReparsePoint;
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file) != FILE_TYPE_DISK)
        result = ReadResult::NotRegular;
    else if (ULONGLONG(size.QuadPart) > QuilletService::kMaxConfigBytes)
        result = ReadResult::TooLarge;
    if (result == ReadResult::Ok) {
        bytes.assign(size_t(size.QuadPart), '\0');
        DWORD read = 0;
        if (!bytes.empty() && (!ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr) || read != bytes.size()))
            result = ReadResult::Unreadable;
    }
    CloseHandle(file);
    return result;
}

// The engine runs with the service's rights on a file the user can write: it
// must not name files outside its working directory or start other programs.
// Only the reason goes to the log, never what the file holds.
bool configIsSafe(const std::wstring &config, std::string &bytes)
{
    switch (readConfig(config, bytes)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Missing:
        appendLog(fromUtf8(QuilletService::kConfigNotFound) + config);
        return false;
    case ReadResult::ReparsePoint:
        appendLog(std::string(QuilletService::kConfigRefused) + "it is a reparse point (a link)");
        return false;
    case ReadResult::NotRegular:
        appendLog(std::string(QuilletService::kConfigRefused) + "it is not a regular file");
        return false;
    case ReadResult::TooLarge:
        appendLog(std::string(QuilletService::kConfigRefused) + "it is larger than 4 MiB");
        return false;
    case ReadResult::Unreadable:
        appendLog(std::string(QuilletService::kConfigRefused) + "cannot read it");
        return false;
    }
    const QuilletService::ConfigVerdict verdict = QuilletService::checkEngineConfig(bytes);
    if (!verdict.accepted)
        appendLog(std::string(QuilletService::kConfigRefused) + verdict.reason);
    return verdict.accepted;
}

// Creates runtime\ for SYSTEM and Administrators only and refuses a junction
// or link in its place: the engine writes there with the service's rights.
bool prepareRuntimeDirectory(const std::wstring &path, std::string &why)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRuntimeSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        why = "cannot build its access rights";
        return false;
    }
    SECURITY_ATTRIBUTES attributes {sizeof attributes, descriptor, FALSE};
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        ensureDirectory(path.substr(0, slash));
    CreateDirectoryW(path.c_str(), &attributes);

    bool ok = false;
    HANDLE directory = CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info {};
    if (directory == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(directory, &info)) {
        why = "cannot open it";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = "it is a reparse point (a junction or link)";
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = "it is not a directory";
    } else {
        // A folder made before (or by someone else) gets the same rights.
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ok = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)
            && SetSecurityInfo(directory, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                   nullptr, nullptr, dacl, nullptr)
                == ERROR_SUCCESS;
        if (!ok)
            why = "cannot set its access rights";
    }
    if (directory != INVALID_HANDLE_VALUE)
        CloseHandle(directory);
    LocalFree(descriptor);
    return ok;
}

// The engine reads the bytes that were checked, from a file only the service
// writes: the user-writable active.json could be swapped between check and run.
bool writeCheckedCopy(const std::wstring &path, const std::string &bytes)
{
    // A fresh file: whatever had the name (a link included) is removed first.
    DeleteFileW(path.c_str());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size());
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok)
        DeleteFileW(path.c_str());
    return ok;
}

bool fileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool startSingBoxProcess()
{
    const std::wstring serviceDirectory = moduleDirectory();
    const std::wstring sharedDirectory = programDataDirectory();
    const std::wstring engine = serviceDirectory + L"\\bin\\sing-box.exe";
    const std::wstring config = sharedDirectory + L"\\configs\\active.json";
    const std::wstring logs = serviceDirectory + L"\\logs";
    const std::wstring runtime = sharedDirectory + L"\\runtime";

    ensureDirectory(logs);
    std::string why;
    if (!prepareRuntimeDirectory(runtime, why)) {
        appendLog(L"refused runtime folder " + runtime + L": " + fromUtf8(why));
        return false;
    }
    if (!fileExists(engine)) {
        appendLog(L"sing-box.exe not found: " + engine);
        return false;
    }
    std::string checkedBytes;
    if (!configIsSafe(config, checkedBytes))
        return false;
    const std::wstring checkedConfig = runtime + L"\\" + QuilletService::kCheckedConfigNameWide;
    if (!writeCheckedCopy(checkedConfig, checkedBytes)) {
        appendLog(std::string(QuilletService::kConfigRefused) + "cannot write the checked copy");
        return false;
    }

    g_engineLog = logs + L"\\sing-box.log";
    HANDLE logFile = openLogForAppend(g_engineLog);
    if (logFile == INVALID_HANDLE_VALUE) {
        appendLog(QuilletService::kLogOpenFailed);
        return false;
    }
    SetHandleInformation(logFile, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE nullDevice = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (nullDevice != INVALID_HANDLE_VALUE)
        SetHandleInformation(nullDevice, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    const std::wstring commandLine = QuilletService::engineCommandLine(engine, runtime, checkedConfig);
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullDevice != INVALID_HANDLE_VALUE ? nullDevice : nullptr;
    startup.hStdOutput = logFile;
    startup.hStdError = logFile;

    const BOOL created = CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
        nullptr, serviceDirectory.c_str(), &startup, &g_child);
    CloseHandle(logFile);
    if (nullDevice != INVALID_HANDLE_VALUE)
        CloseHandle(nullDevice);
    if (!created) {
        g_child = PROCESS_INFORMATION {};
        appendLog(QuilletService::kEngineStartFailed);
        return false;
    }
    appendLog(fromUtf8(QuilletService::kEngineStarted) + config);
    return true;
}

void stopSingBoxProcess()
{
    if (g_child.hProcess) {
        TerminateProcess(g_child.hProcess, 0);
        WaitForSingleObject(g_child.hProcess, QuilletService::kEngineStopWaitMs);
        CloseHandle(g_child.hProcess);
        g_child.hProcess = nullptr;
    }
    if (g_child.hThread) {
        CloseHandle(g_child.hThread);
        g_child.hThread = nullptr;
    }
    appendLog(QuilletService::kEngineStopped);
}

DWORD WINAPI controlHandler(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 5000);
        if (g_stopEvent)
            SetEvent(g_stopEvent);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD /*argc*/, LPWSTR * /*argv*/)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(QuilletService::kServiceNameWide, controlHandler, nullptr);
    if (!g_statusHandle)
        return;
    reportStatus(SERVICE_START_PENDING, NO_ERROR, 5000);

    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stopEvent) {
        reportStatus(SERVICE_STOPPED, GetLastError(), 0);
        return;
    }
    if (!startSingBoxProcess()) {
        CloseHandle(g_stopEvent);
        g_stopEvent = nullptr;
        reportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
        return;
    }
    reportStatus(SERVICE_RUNNING, NO_ERROR, 0);

    HANDLE waits[2] = {g_stopEvent, g_child.hProcess};
    // Nothing rotates the engine's log: a chatty engine must not fill the disk.
    while (WaitForMultipleObjects(2, waits, FALSE, kLogCapCheckMs) == WAIT_TIMEOUT)
        capLogFile(g_engineLog);

    reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 5000);
    stopSingBoxProcess();
    CloseHandle(g_stopEvent);
    g_stopEvent = nullptr;
    reportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"--console") == 0) {
        appendLog(QuilletService::kConsoleModeStart);
        if (!startSingBoxProcess())
            return 1;
        WaitForSingleObject(g_child.hProcess, INFINITE);
        stopSingBoxProcess();
        return 0;
    }

    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(QuilletService::kServiceNameWide), serviceMain},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherW(table))
        return 0;
    appendLog(QuilletService::kDispatcherFailed);
    return 1;
}
