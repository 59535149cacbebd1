// The library's picture of the keyboard: held modifiers, the combinations the
// hotkeys compare against, the lock lights, and releases counted during macro
// playback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/region.h"

namespace velto {

// Scan codes (9-bit, 256 added for extended keys).
constexpr std::uint16_t kScanLeftCtrl = 29;
constexpr std::uint16_t kScanRightCtrl = 285;
constexpr std::uint16_t kScanLeftAlt = 56;
constexpr std::uint16_t kScanRightAlt = 312;
constexpr std::uint16_t kScanLeftWin = 347;
constexpr std::uint16_t kScanRightWin = 348;
constexpr std::uint16_t kScanLeftShift = 42;
constexpr std::uint16_t kScanRightShift = 54;
constexpr std::uint16_t kScanCapsLock = 58;
constexpr std::uint16_t kScanNumLock = 325;
constexpr std::uint16_t kScanApps = 349;

// `modifiers` bits.
enum ModifierBit : std::uint8_t {
  kModLeftCtrl = 0,
  kModRightCtrl = 1,
  kModLeftAlt = 2,
  kModRightAlt = 3,
  kModLeftWin = 4,
  kModRightWin = 5,
  kModLeftShift = 6,
  kModRightShift = 7,
  kModCapsHeld = 10,
};

constexpr std::uint16_t kCtrlMask = 0x0003;
constexpr std::uint16_t kAltMask = 0x000C;
constexpr std::uint16_t kWinMask = 0x0030;
constexpr std::uint16_t kShiftMask = 0x00C0;
constexpr std::uint16_t kHeldKeyMask = 0x00FF;  // the eight modifier keys, without Caps Lock

// Virtual keys.
constexpr std::uint8_t kVkShift = 16;
constexpr std::uint8_t kVkControl = 17;
constexpr std::uint8_t kVkMenu = 18;
constexpr std::uint8_t kVkCapital = 20;
constexpr std::uint8_t kVkLeftWin = 91;
constexpr std::uint8_t kVkRightWin = 92;
constexpr std::uint8_t kVkNumLock = 144;
constexpr std::uint8_t kVkLeftShift = 160;  // VK_LSHIFT; VK_RSHIFT, VK_LCONTROL, ... VK_RMENU follow
constexpr std::uint8_t kVkRightMenu = 165;
constexpr std::uint8_t kVkScroll = 145;

namespace detail {

// The nine modifier keys in heldCounts order; the first eight have the
// `modifiers` bit of their index.
constexpr std::uint16_t kModifierScans[kHeldCounters] = {
    kScanLeftCtrl, kScanRightCtrl, kScanLeftAlt,    kScanRightAlt, kScanLeftWin,
    kScanRightWin, kScanLeftShift, kScanRightShift, kScanCapsLock,
};

// The heldCounts index of every scan code, -1 for the keys that are no modifier.
struct ModifierIndexTable {
  std::int8_t index[kScanCodes];
  constexpr ModifierIndexTable() : index() {
    for (std::int8_t& i : index) i = -1;
    for (std::size_t i = 0; i < kHeldCounters; ++i) index[kModifierScans[i]] = static_cast<std::int8_t>(i);
  }
};
inline constexpr ModifierIndexTable kModifierIndex{};

}  // namespace detail

// The heldCounts index of a modifier scan code, or -1.
inline int ModifierIndex(std::uint16_t scan) {
  return scan < kScanCodes ? detail::kModifierIndex.index[scan] : -1;
}
// The `modifiers` bit of a modifier scan code, or -1.
inline int ModifierBitOf(std::uint16_t scan) {
  const int index = ModifierIndex(scan);
  return index == static_cast<int>(kHeldCounters) - 1 ? kModCapsHeld : index;
}

// 1 for the nine modifier scan codes, else 0.
inline int IsModifierKey(std::uint16_t scan) {
  return ModifierIndex(scan) >= 0 ? 1 : 0;
}

void UpdateModifiers(const Region& region, std::uint16_t scan, bool keyUp);
// Notes a key-down of `modifiers` bit `bit` for the next sweep.
void NotePressedSinceSweep(const Region& region, int bit, bool keyUp);
void CountReleasedModifier(const Region& region, std::uint16_t scan);
void SweepModifiers(const Region& region);

void RefreshLeds(const Region& region);
void ToggleLed(const Region& region, std::uint16_t vk);
void SyncScrollLockToLayout(const Region& region);

}  // namespace velto
