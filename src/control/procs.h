// The engine's hook and timer procedures. The platform layer installs thin
// procedures of its own that hand every call over to these.
#pragma once

#include "platform/platform.h"

namespace velto {

// WH_KEYBOARD: returns 1 when the key is swallowed.
platform::LParam KeyboardHookProc(int code, platform::WParam wParam, platform::LParam lParam);
// WH_GETMESSAGE: lParam is the hooked MSG (platform::ReadHookedMessage).
platform::LParam GetMessageHookProc(int code, platform::WParam wParam, platform::LParam lParam);
// WH_CBT: always returns 0.
platform::LParam CbtHookProc(int code, platform::WParam wParam, platform::LParam lParam);
// The 1 ms thread timer.
void TimerProc();

// Whether a hook procedure runs in the thread that installed the hooks for
// the input of another thread, that is for `window` of another thread: the
// system does so on 64-bit Windows for the processes of the other
// architecture, into which it cannot load this library. There GetFocus knows
// nothing of the target's windows, so the hooks pass everything on.
bool CalledForAnotherThread(platform::Handle window);
// Whether the calling thread installed the hooks (a cheap first test).
bool InHookThread();

// The keyboard focus moved to `window` (platform::WatchFocus).
void FocusMoved(platform::Handle window);

// Process attach and detach of the library.
void ProcessAttach();
void ProcessDetach();

}  // namespace velto
