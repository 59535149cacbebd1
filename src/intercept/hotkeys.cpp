#include "intercept/hotkeys.h"

#include "intercept/bits.h"
#include "intercept/modifiers.h"

namespace velto {

int HotkeyMatches(const Region& region, std::uint16_t scan, std::uint16_t hotkeyScan,
                  std::uint16_t hotkeyMask) {
  const ControlBlock& cb = region.control();
  if (scan == hotkeyScan && cb.modifiers == hotkeyMask) return 1;
  if (hotkeyScan == kModifierOnlyHotkey && cb.modsChord == hotkeyMask && hotkeyMask != 0) return 1;
  return 0;
}

int KeyStep(const Region& region, std::uint16_t scan, bool /*prevDown*/, bool keyUp) {
  ControlBlock& cb = region.control();
  const OptionBlock& opt = region.options();
  UpdateModifiers(region, scan, keyUp);
  int result = 0;
  if (cb.enabled != 0) {
    if (HotkeyMatches(region, scan, opt.layoutHotkeyScan, opt.layoutHotkeyMods)) {
      result = 1;
      if (keyUp) {
        cb.currentLayout ^= 1;
        SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
        if (opt.layoutHotkeyScan != kScrollLockScan) {
          cb.scrollKeyDown = 0;
          SyncScrollLockToLayout(region);
        }
        if (opt.layoutHotkeyScan == kModifierOnlyHotkey) cb.modsChord = 0;
      }
      // Scroll Lock as the toggle key keeps its own light handling.
      if (opt.layoutHotkeyScan == kScrollLockScan) result = 0;
    }
    if (HotkeyMatches(region, scan, opt.disableHotkeyScan, opt.disableHotkeyMods)) {
      result = 1;
      if (keyUp) {
        cb.enabled = 0;
        SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
      }
    }
  } else if (HotkeyMatches(region, scan, opt.enableHotkeyScan, opt.enableHotkeyMods)) {
    result = 1;
    if (keyUp) {
      cb.enabled = 1;
      SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
    }
  }
  return result;
}

}  // namespace velto
