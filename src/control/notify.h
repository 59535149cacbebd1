// Notices to the controlling application's windows.
#pragma once

#include "shared/region.h"

namespace velto {

// Posts `notifyMsg` (wParam `changeFlags`, lParam `lastKeyInfo`) to every
// client window in slot order when any change flag is set, then clears them.
void NotifyClients(const Region& region);

// Posts the key notice (wParam 4, lParam `lastKeyInfo`) to `currentKR`, or
// to the first client when no window was set. Nothing is posted when there is
// neither.
void PostKeyNotice(const Region& region);

}  // namespace velto
