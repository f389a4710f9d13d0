// The per-user Run value. No Qt here: it is compile-checked with mingw-w64 and run under wine.
#include "platform/autostart.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Platform {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"Quillet";

std::wstring wideFromUtf8(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), &wide[0], size);
    return wide;
}

std::string utf8FromWide(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string narrow(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

// "C:\..." or "\\server\share\...": a drive-qualified or UNC path.
bool isAbsoluteWindowsPath(const std::wstring &path)
{
    if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
        return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

} // namespace

bool enableLaunchAtLogin(const std::string &programUtf8)
{
    std::wstring program = wideFromUtf8(programUtf8);
    if (program.empty() || !isAbsoluteWindowsPath(program)
        || program.find_first_of(L"\r\n\"") != std::wstring::npos)
        return false;
    for (wchar_t &c : program) {
        if (c == L'/')
            c = L'\\';
    }
    const std::wstring command = L"\"" + program + L"\" " + wideFromUtf8(launchAtLoginArgument());
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    const DWORD bytes = DWORD((command.size() + 1) * sizeof(wchar_t));
    const LONG status =
        RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool disableLaunchAtLogin()
{
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    const LONG status = RegDeleteValueW(key, kValueName);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::string launchAtLoginCommand()
{
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes)
            != ERROR_SUCCESS
        || bytes == 0)
        return std::string();
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes)
        != ERROR_SUCCESS)
        return std::string();
    return utf8FromWide(std::wstring(buffer.data()));
}

} // namespace Platform
