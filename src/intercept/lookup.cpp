#include "intercept/lookup.h"

#include "intercept/bits.h"
#include "intercept/modifiers.h"

namespace velto {

namespace {

// Keypad 7 8 9 4 5 6 1 2 3 0, then the decimal point, which is not a digit key.
constexpr std::uint16_t kNumpadKeys[] = {0x47, 0x48, 0x49, 0x4B, 0x4C, 0x4D,
                                         0x4F, 0x50, 0x51, 0x52, 0x53};
constexpr int kNumpadDigitKeys = 10;

struct HeldModifiers {
  bool leftCtrl, rightCtrl, leftAlt, rightAlt, leftWin, rightWin, leftShift, rightShift, capsHeld;
};

HeldModifiers ReadModifiers(std::uint16_t mods) {
  return {TestBit(mods, kModLeftCtrl) != 0,  TestBit(mods, kModRightCtrl) != 0,
          TestBit(mods, kModLeftAlt) != 0,   TestBit(mods, kModRightAlt) != 0,
          TestBit(mods, kModLeftWin) != 0,   TestBit(mods, kModRightWin) != 0,
          TestBit(mods, kModLeftShift) != 0, TestBit(mods, kModRightShift) != 0,
          TestBit(mods, kModCapsHeld) != 0};
}

}  // namespace

int TranslateKey(const Region& region, std::uint16_t scan) {
  if (scan >= kScanCodes) return 0;
  const ControlBlock& cb = region.control();
  const std::uint8_t key = region.options().scanMap[scan];
  if (key >= kKeysPerPlane) return 0;

  const HeldModifiers m = ReadModifiers(cb.modifiers);
  const std::uint16_t eq = region.currentLayoutRecord().rightModEquivalence;
  const bool ctrlL = m.leftCtrl || (TestBit(eq, 0) && m.rightCtrl);
  const bool altL = m.leftAlt || (TestBit(eq, 1) && m.rightAlt);
  const bool winL = m.leftWin || (TestBit(eq, 2) && m.rightWin);
  const bool shiftL = m.leftShift || (TestBit(eq, 3) && m.rightShift);

  int slot = kSlotPlain;
  if (altL) {
    slot = kSlotLeftAlt;
  } else if (m.rightAlt) {
    slot = kSlotRightAlt;
  } else if (ctrlL) {
    slot = kSlotLeftCtrl;
  } else if (m.rightCtrl) {
    slot = kSlotRightCtrl;
  } else if (winL) {
    slot = kSlotLeftWin;
  } else if (m.rightWin) {
    slot = kSlotRightWin;
  }

  unsigned plane = cb.currentLayout;
  if (TestBit(cb.leds, kLedCapsLock)) plane += 2;
  if (m.capsHeld) plane ^= 2;
  if (plane >= kPlanes) return 0;

  const int column = shiftL ? 1 : (m.rightShift ? 2 : 0);
  const KeySlot& entry = region.keyTable().planes[plane][key].slots[slot];
  int kind = kKindChar;
  if (entry.flags & (1u << column)) kind = kKindDeadKey;
  if (entry.flags & (1u << (column + 3))) kind = kKindMacro;
  return kind * 256 + entry.ch[column];
}

int IsNumpadDigitKey(std::uint16_t scan) {
  for (int i = 0; i < kNumpadDigitKeys; ++i) {
    if (kNumpadKeys[i] == scan) return 1;
  }
  return 0;
}

}  // namespace velto
