// The library's picture of the keyboard: held modifiers, the combinations the
// hotkeys compare against, the lock lights, and releases counted during macro
// playback.
#pragma once

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

// The heldCounts index (and `modifiers` bit) of a modifier scan code, or -1.
int ModifierIndex(std::uint16_t scan);
int ModifierBitOf(std::uint16_t scan);

// 1 for the nine modifier scan codes, else 0.
int IsModifierKey(std::uint16_t scan);

void UpdateModifiers(const Region& region, std::uint16_t scan, bool keyUp);
// Notes a key-down of `modifiers` bit `bit` for the next sweep.
void NotePressedSinceSweep(const Region& region, int bit, bool keyUp);
void CountReleasedModifier(const Region& region, std::uint16_t scan);
void SweepModifiers(const Region& region);

void RefreshLeds(const Region& region);
void ToggleLed(const Region& region, std::uint16_t vk);
void SyncScrollLockToLayout(const Region& region);

}  // namespace velto
