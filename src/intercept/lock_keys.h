// The lock keys as the keyboard hook follows them: their lights, Scroll Lock
// put back while its light shows the layout, and Caps Lock held as a layout
// switch.
#pragma once

#include "shared/key_event.h"
#include "shared/region.h"

namespace velto {

// The lights flip once per physical press, not per auto-repeat. A press of
// Scroll Lock that its release undoes leaves the light alone: the clients
// hear of the light once, when it is put back.
void TrackLockKeys(const Region& region, const KeyEvent& e);

// A press of Scroll Lock is undone on its release while the light shows the
// layout: whether `e` is that release (the library's own keys put it back).
bool ScrollLockLightToPutBack(const Region& region, const KeyEvent& e);

// Caps Lock held switches the layout until it is released.
void CapsLockLayoutSwitch(const Region& region, const KeyEvent& e);

}  // namespace velto
