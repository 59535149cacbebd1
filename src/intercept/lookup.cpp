#include "intercept/lookup.h"

#include <array>

#include "shared/bits.h"
#include "intercept/modifiers.h"

namespace velto {

namespace {

// The `modifiers` bit of the key whose slot it is.
constexpr unsigned BitOfSlot(std::uint8_t slot) {
  for (const ModifierKey& key : kModifierKeys) {
    if (key.slot == slot) return key.bit;
  }
  return 16;  // no key: tests as 0
}

// The slot of the modifiers that matter for the lookup: bit 0 left Ctrl (or
// right Ctrl where the layout makes them the same), 1 right Ctrl, 2 left
// Alt (or its equivalent), 3 right Alt, 4 left Win (or its equivalent), 5
// right Win. Alt comes first, then Ctrl, then Win; left before right.
struct SlotTable {
  std::uint8_t slot[64];
  constexpr SlotTable() : slot() {
    for (unsigned held = 0; held < 64; ++held) {
      constexpr std::uint8_t kOrder[] = {kSlotLeftAlt,   kSlotRightAlt, kSlotLeftCtrl,
                                         kSlotRightCtrl, kSlotLeftWin,  kSlotRightWin};
      slot[held] = kSlotPlain;
      for (int i = 5; i >= 0; --i) {
        if (held >> BitOfSlot(kOrder[i]) & 1) slot[held] = kOrder[i];
      }
    }
  }
};
constexpr SlotTable kSlots{};

// The layout's equivalence bits (Ctrl, Alt, Win, Shift in bits 0..3) moved
// onto the places of the right keys' bits shifted down by one, which are
// the left keys' bits.
constexpr std::array<std::uint8_t, kRightAsLeftMask + 1> kEquivalentOnLeft = [] {
  std::array<std::uint8_t, kRightAsLeftMask + 1> bits{};
  for (unsigned eq = 0; eq <= kRightAsLeftMask; ++eq) {
    bits[eq] = static_cast<std::uint8_t>(ModifierMaskOf([eq](const ModifierKey& k) {
      return k.equivalence != kNoEquivalence && (eq >> k.equivalence & 1) != 0 && k.bit % 2 == 0;
    }));
  }
  return bits;
}();

// The column by left Shift (or its equivalent) in bit 0 and right Shift in bit 1.
constexpr std::uint8_t kColumns[4] = {0, 1, 2, 1};

}  // namespace

int TranslateKey(const Region& region, std::uint16_t scan) {
  if (scan >= kScanCodes) return 0;
  const ControlBlock& cb = region.control();
  const std::uint8_t key = region.options().scanMap[scan];
  if (key >= kKeysPerPlane) return 0;

  // A right modifier counts as the left one where the layout's equivalence
  // bits (Ctrl, Alt, Win, Shift) say so: the right keys' bits moved onto
  // the left ones' places and added there.
  const unsigned mods = cb.modifiers;
  const unsigned eq = region.currentLayoutRecord().rightModEquivalence & kRightAsLeftMask;
  const unsigned held = (mods & kHeldKeyMask) | (mods >> 1 & kEquivalentOnLeft[eq]);

  unsigned plane = cb.currentLayout;
  if (TestBit(cb.leds, kLedCapsLock)) plane += 2;
  if (TestBit(cb.modifiers, kModCapsHeld)) plane ^= 2;
  if (plane >= kPlanes) return 0;

  const unsigned column = kColumns[held >> kModLeftShift & 3];
  const unsigned slot = kSlots.slot[held & (kCtrlMask | kAltMask | kWinMask)];
  const KeySlot& entry = region.keyTable().planes[plane][key].slots[slot];
  int kind = kKindChar;
  // The column's flags, moved to the places of column 0's.
  if (entry.flags >> column & DeadKeyFlag(0)) kind = kKindDeadKey;
  if (entry.flags >> column & MacroFlag(0)) kind = kKindMacro;
  return kind * 256 + entry.ch[column];
}

}  // namespace velto
