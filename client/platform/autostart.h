#pragma once

#include <string>

// Starting the client with the user's session, with the window in the tray.
// Linux: "$XDG_CONFIG_HOME/autostart/quillet-desktop.desktop" (~/.config when
// the variable is unset). Windows: the value "Quillet" under
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run. No Qt here: the Windows
// side is compile-checked and run under wine with mingw-w64.
namespace Platform {

// The argument the entry adds to the program.
inline const char *launchAtLoginArgument() { return "--minimized"; }

// Writes the entry for the program (an absolute path, UTF-8); false when the
// path is not absolute or holds a line break, or the entry cannot be written.
bool enableLaunchAtLogin(const std::string &programUtf8);

// Removes the entry; true when none is left (also when there was none).
bool disableLaunchAtLogin();

// The command line the entry starts, UTF-8; empty when there is no entry.
std::string launchAtLoginCommand();

} // namespace Platform
