// The engine's hook and timer procedures. The back end installs thin
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

}  // namespace velto
