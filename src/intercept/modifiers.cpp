#include "intercept/modifiers.h"

#include <array>

#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/key_event.h"

namespace velto {

namespace {

// What a sweep asks the system about: each virtual key of the eight held
// modifier keys, in ascending order, and the `modifiers` bits it keeps when
// that key is up (Shift, Ctrl and Alt answer for both their keys).
struct SweepRow {
  std::uint8_t vk;
  std::uint16_t keep;
};
constexpr std::size_t kSweepRows = 5;  // Shift, Ctrl, Alt and each Windows key

constexpr std::array<SweepRow, kSweepRows> MakeSweep() {
  std::array<SweepRow, kSweepRows> rows{};
  std::size_t count = 0;
  for (unsigned vk = 0; vk < 256; ++vk) {
    const std::uint16_t bits =
        ModifierMaskOf([vk](const ModifierKey& k) { return k.vk == vk && k.bit < kHeldKeyBits; });
    if (bits != 0) rows[count++] = {static_cast<std::uint8_t>(vk), static_cast<std::uint16_t>(~bits)};
  }
  return rows;
}
constexpr std::array<SweepRow, kSweepRows> kSweep = MakeSweep();
static_assert(kSweep[kSweepRows - 1].vk != 0);

}  // namespace

void NotePressedSinceSweep(const Region& region, int bit, bool keyUp) {
  ControlBlock& cb = region.control();
  if (keyUp || bit < 0 || bit >= kHeldKeyBits) return;
  cb.pressedSinceSweep = static_cast<std::uint8_t>(cb.pressedSinceSweep | 1u << bit);
}

void UpdateModifiers(const Region& region, std::uint16_t scan, bool keyUp) {
  ControlBlock& cb = region.control();
  const int bit = ModifierBitOf(scan);
  if (bit >= 0) SetBit(&cb.modifiers, static_cast<std::uint8_t>(bit), keyUp ? 0 : 1);
  NotePressedSinceSweep(region, bit, keyUp);
  if (keyUp && (bit == kModLeftShift || bit == kModRightShift)) {
    cb.shiftsLetGo = static_cast<std::uint8_t>(cb.shiftsLetGo | 1u << bit);
  }
  if (cb.keyIsModifier != 0 && !keyUp) {
    cb.shiftsLetGo = 0;
    cb.modsAtModifierDown = cb.modifiers;
    cb.modsChord = cb.modifiers;
  }
  if (!keyUp) cb.modsAtKeyDown = cb.modifiers;
  if (cb.keyIsModifier == 0 && keyUp) cb.modsChord = 0;
}

void CountReleasedModifier(const Region& region, std::uint16_t scan) {
  const int index = ModifierIndex(scan);
  if (index < 0) return;
  std::uint8_t& count = region.control().heldCounts[index];
  if (count < 255) ++count;
}

void SweepModifiers(const Region& region) {
  ControlBlock& cb = region.control();
  for (const SweepRow& row : kSweep) {
    // A key pressed since the last sweep may be up for the system while its
    // release still waits for the keyboard hook, behind keys typed with it.
    const bool up = platform::GetAsyncKeyState(row.vk) == 0;
    const bool pressedLately = (cb.pressedSinceSweep & ~row.keep & kHeldKeyMask) != 0;
    if (up && !pressedLately) cb.modifiers &= row.keep;
  }
  cb.pressedSinceSweep = 0;
}

void RefreshLeds(const Region& region) {
  ControlBlock& cb = region.control();
  const std::uint16_t before = cb.leds;
  SetBit(&cb.leds, kLedNumLock, platform::GetKeyState(kVkNumLock) & 1);
  SetBit(&cb.leds, kLedCapsLock, platform::GetKeyState(kVkCapital) & 1);
  SetBit(&cb.leds, kLedScrollLock, platform::GetKeyState(kVkScroll) & 1);
  if (cb.leds != before) SetBit(&cb.changeFlags, kChangeLeds, 1);
}

void ToggleLed(const Region& region, std::uint16_t vk) {
  ControlBlock& cb = region.control();
  switch (vk) {
    case kVkNumLock: ToggleBit(&cb.leds, kLedNumLock); break;
    case kVkCapital: ToggleBit(&cb.leds, kLedCapsLock); break;
    case kVkScroll: ToggleBit(&cb.leds, kLedScrollLock); break;
    default: return;  // not a lock key
  }
  TapKey(static_cast<std::uint8_t>(vk));
  SetBit(&cb.changeFlags, kChangeLeds, 1);
}

bool ScrollLockLightOutOfLine(const Region& region) {
  const ControlBlock& cb = region.control();
  if (cb.enabled == 0 || !TestBit(region.options().options, kOptScrollLockShowsLayout)) return false;
  // The light shows "a layout other than 0": layouts 2 and 3 light it like 1.
  return TestBit(cb.leds, kLedScrollLock) != (cb.currentLayout != 0 ? 1 : 0);
}

void SyncScrollLockToLayout(const Region& region) {
  ControlBlock& cb = region.control();
  if (cb.modifiers != 0 || !ScrollLockLightOutOfLine(region)) return;
  const int wanted = cb.currentLayout != 0 ? 1 : 0;
  SetBit(&cb.leds, kLedScrollLock, wanted);
  TapKey(kVkScroll);
  SetBit(&cb.changeFlags, kChangeLeds, 1);
}

}  // namespace velto
