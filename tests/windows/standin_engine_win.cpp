// A Windows stand-in for the sing-box engine, for the service checks under wine.
//   check -c FILE          exit 0 when FILE can be read and holds a JSON object
//   run -D DIR -c FILE     write the command line as seen to standard output (the
//                          service's sing-box.log) and to DIR\engine-args.txt, then
//                          wait until terminated; with a file DIR\exit-soon it
//                          ends by itself after a second instead
//   alive PID              exit 0 while process PID runs, 1 otherwise
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

bool readFile(const wchar_t *path, std::string &bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return true;
}

void writeLine(HANDLE out, const std::string &line)
{
    DWORD written = 0;
    WriteFile(out, line.data(), DWORD(line.size()), &written, nullptr);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 4 && std::wcscmp(argv[1], L"check") == 0 && std::wcscmp(argv[2], L"-c") == 0) {
        std::string bytes;
        const bool ok = readFile(argv[3], bytes) && bytes.find('{') != std::string::npos;
        std::fprintf(ok ? stdout : stderr, ok ? "" : "stand-in engine: configuration not readable\n");
        return ok ? 0 : 1;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"alive") == 0) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(std::wcstoul(argv[2], nullptr, 10)));
        const bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        if (process)
            CloseHandle(process);
        return alive ? 0 : 1;
    }
    if (argc == 6 && std::wcscmp(argv[1], L"run") == 0 && std::wcscmp(argv[2], L"-D") == 0
        && std::wcscmp(argv[4], L"-c") == 0) {
        std::string report = "stand-in engine pid=" + std::to_string(GetCurrentProcessId()) + "\r\n";
        report += "commandline=" + utf8(GetCommandLineW()) + "\r\n";
        for (int i = 1; i < argc; ++i)
            report += "arg" + std::to_string(i) + "=" + utf8(argv[i]) + "\r\n";
        writeLine(GetStdHandle(STD_OUTPUT_HANDLE), report);
        const std::wstring argsPath = std::wstring(argv[3]) + L"\\engine-args.txt";
        HANDLE file = CreateFileW(argsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            writeLine(file, report);
            CloseHandle(file);
        }
        std::string config;
        if (!readFile(argv[5], config))
            return 2;
        if (GetFileAttributesW((std::wstring(argv[3]) + L"\\exit-soon").c_str()) != INVALID_FILE_ATTRIBUTES) {
            Sleep(1000);
            return 0;
        }
        Sleep(INFINITE);
        return 0;
    }
    std::fprintf(stderr, "stand-in engine: unknown command\n");
    return 64;
}
