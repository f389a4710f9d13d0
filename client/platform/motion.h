#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What the desktop says about motion: whether the user asked for reduced
// motion, and whether the compositor hides ("cloaks") a window it still counts
// as shown, as Windows does for a window on another virtual desktop. No Qt in
// this header: the Windows side is compile-checked and run under wine.
namespace Platform {

enum class MotionPreference { NoPreference, Reduced, Full };

struct MotionReading
{
    MotionPreference preference = MotionPreference::NoPreference;
    // Where the answer came from, for the log ("none" when nothing answered).
    std::string source = "none";
};

// "reduced", "full" or "no preference".
const char *motionPreferenceName(MotionPreference preference);

// The answer of `gsettings get org.gnome.desktop.interface enable-animations`:
// "false" asks for reduced motion, "true" for full; anything else says nothing.
MotionPreference parseGnomeEnableAnimations(const std::string &answer);

// kdeglobals: AnimationDurationFactor in the [KDE] group; 0 asks for reduced
// motion, a positive number for full; missing or unreadable says nothing.
MotionPreference parseKdeAnimationDurationFactor(const std::string &kdeglobals);

// SystemParametersInfo(SPI_GETCLIENTAREAANIMATION): FALSE turns animations off.
MotionPreference clientAreaAnimationPreference(bool answered, bool enabled);

// Reads the preference and calls done with it once: before returning (Windows,
// KDE's file) or from the event loop once a helper program has answered or has
// timed out (GNOME's gsettings). Nothing waits for a program.
void readMotionPreference(std::function<void(const MotionReading &)> done);

// True when the compositor keeps the window (an HWND on Windows) off screen
// although it is shown. Linux: always false; Qt's exposure is the truth there.
bool windowCloaked(std::uintptr_t nativeWindow);

// Calls changed(window, cloaked) when the compositor cloaks or uncloaks a
// window of this process, from the thread's message loop. Returns a token for
// stopWatchingWindowCloaking, 0 when the system tells nothing (Linux).
std::uintptr_t watchWindowCloaking(std::function<void(std::uintptr_t window, bool cloaked)> changed);
void stopWatchingWindowCloaking(std::uintptr_t token);

} // namespace Platform
