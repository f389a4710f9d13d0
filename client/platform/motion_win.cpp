// The motion preference and window cloaking on Windows. No Qt here: it is
// compile-checked with mingw-w64 and run under wine.
#include "platform/motion.h"

#include <windows.h>
#include <dwmapi.h>

#include <map>

#ifndef SPI_GETCLIENTAREAANIMATION
#define SPI_GETCLIENTAREAANIMATION 0x1042
#endif
#ifndef EVENT_OBJECT_CLOAKED
#define EVENT_OBJECT_CLOAKED 0x8017
#define EVENT_OBJECT_UNCLOAKED 0x8018
#endif
#ifndef DWMWA_CLOAKED
#define DWMWA_CLOAKED 14
#endif

namespace Platform {
namespace {

using CloakCallback = std::function<void(std::uintptr_t, bool)>;

// One hook per watcher. A WINEVENTPROC has no context pointer, so the hooks
// find their callbacks here. Out-of-context hooks call back on the thread that
// set them, through its message loop: no lock is needed.
std::map<HWINEVENTHOOK, CloakCallback> &watchers()
{
    static std::map<HWINEVENTHOOK, CloakCallback> map;
    return map;
}

void CALLBACK cloakEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (!window || object != OBJID_WINDOW || child != CHILDID_SELF)
        return;
    const auto found = watchers().find(hook);
    if (found == watchers().end())
        return;
    // A copy: the callback may stop its own watch.
    const CloakCallback callback = found->second;
    if (callback)
        callback(reinterpret_cast<std::uintptr_t>(window), event == EVENT_OBJECT_CLOAKED);
}

} // namespace

void readMotionPreference(std::function<void(const MotionReading &)> done)
{
    BOOL enabled = TRUE;
    const bool answered = SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &enabled, 0) != FALSE;
    MotionReading reading;
    reading.preference = clientAreaAnimationPreference(answered, enabled != FALSE);
    reading.source = answered ? "SPI_GETCLIENTAREAANIMATION" : "none (SPI_GETCLIENTAREAANIMATION failed)";
    if (done)
        done(reading);
}

bool windowCloaked(std::uintptr_t nativeWindow)
{
    HWND window = reinterpret_cast<HWND>(nativeWindow);
    if (!window || !IsWindow(window))
        return false;
    DWORD cloaked = 0;
    // Fails before Windows 8 and without composition: nothing is cloaked then.
    const HRESULT result = DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked);
    return SUCCEEDED(result) && cloaked != 0;
}

std::uintptr_t watchWindowCloaking(std::function<void(std::uintptr_t window, bool cloaked)> changed)
{
    if (!changed)
        return 0;
    // Out of context: the calls come through this thread's message loop, for this process's windows only.
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CLOAKED, EVENT_OBJECT_UNCLOAKED, nullptr, cloakEvent,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    if (!hook)
        return 0;
    watchers()[hook] = std::move(changed);
    return reinterpret_cast<std::uintptr_t>(hook);
}

void stopWatchingWindowCloaking(std::uintptr_t token)
{
    if (!token)
        return;
    HWINEVENTHOOK hook = reinterpret_cast<HWINEVENTHOOK>(token);
    UnhookWinEvent(hook);
    watchers().erase(hook);
}

} // namespace Platform
