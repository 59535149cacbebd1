// The layout-toggle, enable and disable hotkeys, and the key step that runs
// them after the modifier update for every key event the keyboard hook handles.
#pragma once

#include <cstdint>

#include "shared/region.h"

namespace velto {

// 1 when the key event matches a hotkey definition: the scan code with exactly
// the held modifiers, or (scan code word 0xFFFF) the modifier chord with a
// non-zero mask.
int HotkeyMatches(const Region& region, std::uint16_t scan, std::uint16_t hotkeyScan,
                  std::uint16_t hotkeyMask);

// Forgets the hotkey presses on this scan code: its key was let go where the
// hotkeys do not look, in a console window, so its release there cannot act.
void ForgetHotkeyPress(const Region& region, std::uint16_t scan);

// Modifier update, then the hotkeys. Returns 1 when the keyboard hook must
// swallow the key. Hotkeys act on their key-up only.
int KeyStep(const Region& region, std::uint16_t scan, bool prevDown, bool keyUp);

}  // namespace velto
