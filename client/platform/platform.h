#pragma once

#include <QString>

// How this operating system does the few things the client cannot do portably.
// Nothing above this layer tests the operating system itself.
namespace Platform {

// The label shown in diagnostics ("Windows", "Linux").
QString platformLabel();

// The platform word sent to the server ("windows", "linux").
QString platformWord();

// The shared data directory used by the client and the tunnel service:
// "ProgramData" + "/Quillet" when that variable is set (blank counts as unset),
// otherwise the system's fixed location.
QString sharedDataDirectory();

// The fixed shared data directory used when "ProgramData" is unset or blank.
QString fallbackSharedDataDirectory();

// Makes a per-user file that holds secrets (the settings file with the session
// token) readable by its owner only, creating it empty when missing, and its
// folder private too. Files written over it later keep these rights. Nothing
// to do on Windows, where the per-user profile already is private.
void makeUserFilePrivate(const QString &path);

// Hands memory the window let go of (a page it unloaded) back to the system, so
// it leaves the resident figure too: the heap's free pages, and the pages of
// font files read for texts no longer shown (they come back from the file cache
// when a glyph needs them). Nothing to do where the heap decommits free pages on
// its own and fonts are not mapped into the process (Windows).
void releaseUnusedMemory();

// A modal error box for a start-up failure; falls back to standard error when
// no display is available.
void showFatalMessage(const QString &title, const QString &text);

} // namespace Platform
