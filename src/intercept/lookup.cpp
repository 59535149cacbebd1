#include "intercept/lookup.h"

#include <array>

#include "intercept/modifiers.h"
#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/charset.h"

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

int NumpadTranslation(const Region& region, const KeyEvent& e, int r) {
  ControlBlock& cb = region.control();
  if (e.keyUp || !IsNumpadDigitKey(e.scan)) return r;
  const bool numLock = TestBit(cb.leds, kLedNumLock) != 0;
  // With Num Lock off the keys are the navigation keys, unless the options
  // ask for the digits' translation anyway.
  if (!numLock && !TestBit(region.options().options, kOptNumpadWithoutNumLock)) return 0;
  if (numLock) {
    // Below VK_EXECUTE (41) the system reports a navigation key: it let go of
    // Shift for it, so the Shift keys stand as they were pressed.
    if (e.vk < 41) {
      // A Shift key the user has let go since stays let go.
      const std::uint16_t shifts = cb.modsAtModifierDown & kShiftMask & ~cb.shiftsLetGo;
      cb.modifiers = static_cast<std::uint16_t>((cb.modifiers & ~kShiftMask) | shifts);
    } else {
      cb.modifiers &= static_cast<std::uint16_t>(~kShiftMask);
    }
  }
  r = TranslateKey(region, e.scan);
  if (r != 0) cb.numpadTranslated = 1;
  return r;
}

bool SystemTypesTheSame(const Region& region, const KeyEvent& e, const std::uint8_t* state, std::uint8_t ch,
                        char32_t c, int setLayout) {
  const ControlBlock& cb = region.control();
  if (setLayout < 0) {
    std::uint16_t out = 0;
    return platform::ToAsciiEx(e.vk, e.scan, state, &out, 0, cb.focusLayout) == 1 && (out & 0xFF) == ch;
  }
  char16_t want[2];
  const int length = ToUtf16(c, want);
  char16_t out[4] = {};
  // Flag 4: the system layout keeps any dead key of its own pending.
  const int typed = platform::ToUnicodeEx(e.vk, e.scan, state, out, 4, 4, cb.focusLayout);
  return length > 0 && typed == length && out[0] == want[0] && (length == 1 || out[1] == want[1]);
}

}  // namespace velto
