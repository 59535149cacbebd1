// The library's picture of the keyboard: held modifiers, the combinations the
// hotkeys compare against, the lock lights, and releases counted during macro
// playback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/keys.h"
#include "shared/region.h"

namespace velto {

void UpdateModifiers(const Region& region, std::uint16_t scan, bool keyUp);
// Notes a key-down of `modifiers` bit `bit` for the next sweep.
void NotePressedSinceSweep(const Region& region, int bit, bool keyUp);
void CountReleasedModifier(const Region& region, std::uint16_t scan);
void SweepModifiers(const Region& region);

void RefreshLeds(const Region& region);
void ToggleLed(const Region& region, std::uint16_t vk);
// With the Scroll Lock light showing the layout (and translation on):
// whether it shows another.
bool ScrollLockLightOutOfLine(const Region& region);
void SyncScrollLockToLayout(const Region& region);

}  // namespace velto
