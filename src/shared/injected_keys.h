// Keys the library itself puts into the input stream: the lock keys it
// toggles, the modifiers a macro lets go of and presses again, a macro's
// chords, and the marker keys around them. They all come back through the
// keyboard hook like the user's keys, which tells them apart by the markers;
// every one of them is sent from here.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace velto {

// Marker keys: private virtual keys, sent as key-ups only.
constexpr std::uint8_t kMarkReleaseStart = 0xC1;       // the player lets go of held modifiers
constexpr std::uint8_t kMarkReleaseEnd = 0xC2;         // ... and is done (also after Scroll Lock is put back)
constexpr std::uint8_t kMarkRepressStart = 0xC3;       // the player presses held modifiers again
constexpr std::uint8_t kMarkRepressEnd = 0xC4;         // ... and is done
constexpr std::uint8_t kMarkPlainStart = 0xC5;         // the end of every run of the player's keys
constexpr std::uint8_t kMarkPlainAfterRelease = 0xC6;  // a run that starts with a chord key

constexpr bool IsMarker(std::uint16_t vk) { return vk >= kMarkReleaseStart && vk <= kMarkPlainAfterRelease; }

// One key event; `flags` as platform::KeybdEvent takes them.
inline void InjectKey(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  platform::KeybdEvent(vk, scan, flags);
}

inline void InjectMarker(std::uint8_t marker) { InjectKey(marker, 0, platform::kKeyEventKeyUp); }

// A press and release, as of a lock key whose light is to change.
inline void TapKey(std::uint8_t vk) {
  InjectKey(vk, 0, 0);
  InjectKey(vk, 0, platform::kKeyEventKeyUp);
}

}  // namespace velto
