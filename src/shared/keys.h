// The keys the library knows by name: the nine modifier keys whose state it
// keeps in `modifiers` and heldCounts, and the three lock keys whose lights
// it tracks. Everything the engine and the tools need to know of them is in
// the two tables below; the lookups the hooks make on every key are tables
// built from them at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "shared/region.h"
#include "shared/tables.h"

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
static_assert(kScrollLockScan == 70);  // shared/tables.h: the options name it for the hotkeys

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

// `modifiers` bits (also those of modsAtKeyDown, modsChord, the hotkeys'
// masks and LayoutRecord::modMask).
enum ModifierBit : std::uint8_t {
  kModLeftCtrl = 0, kModRightCtrl = 1, kModLeftAlt = 2, kModRightAlt = 3,
  kModLeftWin = 4, kModRightWin = 5, kModLeftShift = 6, kModRightShift = 7,
  kModCapsHeld = 10,  // Caps Lock held, while it switches the layout
};

constexpr std::uint16_t kCtrlMask = 0x0003;
constexpr std::uint16_t kAltMask = 0x000C;
constexpr std::uint16_t kWinMask = 0x0030;
constexpr std::uint16_t kShiftMask = 0x00C0;
constexpr std::uint16_t kHeldKeyMask = 0x00FF;  // the eight modifier keys, without Caps Lock
// Bits 0..7, the eight keys of kHeldKeyMask, are also those of the byte-wide
// sets pressedSinceSweep, shiftsLetGo, sentDown and sentUp.
constexpr int kHeldKeyBits = 8;

// A vk word of a macro's key: the virtual key, with this bit for an extended
// key and for right Shift (which the system tells apart by its scan code).
constexpr std::uint16_t kVkWordExtended = 0x100;

struct ModifierKey {
  std::uint16_t scan;
  std::uint8_t bit;  // in `modifiers`
  // The virtual key the system reports and is asked about: the generic one
  // for Shift, Ctrl and Alt, each Windows key's own.
  std::uint8_t vk;
  // The system tells it from its twin by its scan code rather than by the
  // extended flag: the player gives the scan code when it sends the key.
  // Others are sent with no scan code, and with the extended flag where
  // their scan code is extended.
  bool toldByScan;
  std::uint8_t equivalence;  // its LayoutRecord::rightModEquivalence bit, or kNoEquivalence
  std::uint8_t slot;         // the KeyRecord slot it selects, or kSlotPlain
  std::uint8_t macroOrder;   // where a macro lets go of it and presses it again, or kNotByMacros
  std::string_view name;     // in the layout language's claims, hotkeys and key lines
  std::string_view keyName;  // its key name (layout language and macro chords)
  std::string_view alias;    // another key name, or empty
};

constexpr std::uint8_t kNoEquivalence = 0xFF;
constexpr std::uint8_t kNotByMacros = 0xFF;

// The nine modifier keys in heldCounts order; the first eight have the
// `modifiers` bit of their index.
constexpr ModifierKey kModifierKeys[] = {
    {kScanLeftCtrl, kModLeftCtrl, kVkControl, false, kRightAsLeftCtrl, kSlotLeftCtrl, 4, "lctrl", "LCTRL", "CTRL"},
    {kScanRightCtrl, kModRightCtrl, kVkControl, false, kRightAsLeftCtrl, kSlotRightCtrl, 5, "rctrl", "RCTRL", ""},
    {kScanLeftAlt, kModLeftAlt, kVkMenu, false, kRightAsLeftAlt, kSlotLeftAlt, 2, "lalt", "LALT", "ALT"},
    {kScanRightAlt, kModRightAlt, kVkMenu, false, kRightAsLeftAlt, kSlotRightAlt, 3, "ralt", "RALT", "ALTGR"},
    {kScanLeftWin, kModLeftWin, kVkLeftWin, false, kRightAsLeftWin, kSlotLeftWin, 6, "lwin", "LWIN", "WIN"},
    {kScanRightWin, kModRightWin, kVkRightWin, false, kRightAsLeftWin, kSlotRightWin, 7, "rwin", "RWIN", ""},
    {kScanLeftShift, kModLeftShift, kVkShift, false, kRightAsLeftShift, kSlotPlain, 0, "lshift", "LSHIFT", "SHIFT"},
    {kScanRightShift, kModRightShift, kVkShift, true, kRightAsLeftShift, kSlotPlain, 1, "rshift", "RSHIFT", ""},
    {kScanCapsLock, kModCapsHeld, kVkCapital, false, kNoEquivalence, kSlotPlain, kNotByMacros, "caps", "CAPS_LOCK",
     "CAPS"},
};
static_assert(std::size(kModifierKeys) == kHeldCounters);
constexpr std::size_t kCapsHeldIndex = kHeldCounters - 1;

constexpr bool IsExtendedScan(std::uint16_t scan) { return (scan & 0x100) != 0; }

// The vk word a macro presses and lets go of the key by.
constexpr std::uint16_t VkWordOf(const ModifierKey& key) {
  const bool extended = IsExtendedScan(key.scan) || key.toldByScan;
  return static_cast<std::uint16_t>(key.vk | (extended ? kVkWordExtended : 0));
}

// The `modifiers` bits of the keys for which `pick` holds.
template <typename Pick>
constexpr std::uint16_t ModifierMaskOf(Pick pick) {
  std::uint16_t mask = 0;
  for (const ModifierKey& key : kModifierKeys) {
    if (pick(key)) mask = static_cast<std::uint16_t>(mask | 1u << key.bit);
  }
  return mask;
}

// All the bits the nine keys set.
constexpr std::uint16_t kModifierKeysMask = ModifierMaskOf([](const ModifierKey&) { return true; });

namespace detail {

constexpr bool TableAgrees() {
  std::uint16_t held = 0;
  for (std::size_t i = 0; i < kHeldCounters; ++i) {
    const ModifierKey& key = kModifierKeys[i];
    if (i < kCapsHeldIndex && key.bit != i) return false;  // ModifierBitOf counts on it
    if (i < kCapsHeldIndex) held = static_cast<std::uint16_t>(held | 1u << key.bit);
  }
  // Each pair's right key has the bit after its left one's: the lookup
  // shifts the right keys' bits onto the left ones'.
  const auto group = [](std::uint8_t eq) {
    return ModifierMaskOf([eq](const ModifierKey& k) { return k.equivalence == eq; });
  };
  return kModifierKeys[kCapsHeldIndex].bit == kModCapsHeld && held == kHeldKeyMask &&
         group(kRightAsLeftCtrl) == kCtrlMask && group(kRightAsLeftAlt) == kAltMask &&
         group(kRightAsLeftWin) == kWinMask && group(kRightAsLeftShift) == kShiftMask;
}
static_assert(TableAgrees());

// The heldCounts index of every scan code, -1 for the keys that are no modifier.
struct ModifierIndexTable {
  std::int8_t index[kScanCodes];
  constexpr ModifierIndexTable() : index() {
    for (std::int8_t& i : index) i = -1;
    for (std::size_t i = 0; i < kHeldCounters; ++i) {
      index[kModifierKeys[i].scan] = static_cast<std::int8_t>(i);
    }
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
  return index == static_cast<int>(kCapsHeldIndex) ? kModCapsHeld : index;
}

// 1 for the nine modifier scan codes, else 0.
inline int IsModifierKey(std::uint16_t scan) {
  return ModifierIndex(scan) >= 0 ? 1 : 0;
}

// The lock keys, whose lights the library tracks in `leds` and which
// Enable may bring to the state the options ask for.
struct LockKey {
  std::string_view name;  // in the layout language's `lock` lines
  std::uint16_t scan;
  std::uint8_t vk;
  std::uint8_t led;      // `leds` bit
  std::uint8_t state;    // option bit: the light wanted
  std::uint8_t enforce;  // option bit: the state is brought about
};

constexpr LockKey kLockKeys[] = {
    {"numlock", kScanNumLock, kVkNumLock, kLedNumLock, kOptNumLockState, kOptEnforceNumLock},
    {"capslock", kScanCapsLock, kVkCapital, kLedCapsLock, kOptCapsLockState, kOptEnforceCapsLock},
    {"scrolllock", kScrollLockScan, kVkScroll, kLedScrollLock, kOptScrollLockState, kOptEnforceScrollLock},
};

}  // namespace velto
