#include "intercept/hotkeys.h"

#include <initializer_list>

#include "shared/bits.h"
#include "intercept/modifiers.h"

namespace velto {

int HotkeyMatches(const Region& region, std::uint16_t scan, std::uint16_t hotkeyScan,
                  std::uint16_t hotkeyMask) {
  const ControlBlock& cb = region.control();
  if (scan == hotkeyScan && cb.modifiers == hotkeyMask) return 1;
  if (hotkeyScan == kModifierOnlyHotkey && cb.modsChord == hotkeyMask && hotkeyMask != 0) return 1;
  return 0;
}

namespace {

enum HotkeyBit : std::uint8_t { kHotkeyToggle = 0, kHotkeyDisable = 1, kHotkeyEnable = 2 };

struct Hotkey {
  std::uint16_t scan;
  std::uint16_t mask;
  std::uint8_t bit;  // in hotkeysPressed
};

// Whether a hotkey acts on (key-up) or swallows (key-down) this event.
// People often let go of the modifiers a moment before the key: once a
// key-down matched, the key-up of the same scan code is the hotkey's
// whatever is held then, and so are the repeats between: they belong to the
// hotkeys that the first key-down matched, and to those alone. Modifier-only
// chords keep their own rules.
bool Matches(const Region& region, std::uint16_t scan, bool keyUp, const Hotkey& h,
             std::uint16_t pressedHere) {
  ControlBlock& cb = region.control();
  const bool match = HotkeyMatches(region, scan, h.scan, h.mask) != 0;
  if (h.scan == kModifierOnlyHotkey || scan != h.scan) return match;
  if (pressedHere != 0) return TestBit(pressedHere, h.bit) != 0;
  if (match && !keyUp) SetBit(&cb.hotkeysPressed, h.bit, 1);
  return match;
}

// Whether a hotkey could act on or swallow a key of this scan code: it is
// the key of one, or one of modifiers alone has its chord held. Any other
// key leaves the hotkeys as they are.
bool MayBeHotkey(const Region& region, std::uint16_t scan) {
  const OptionBlock& opt = region.options();
  if (scan == opt.layoutHotkeyScan || scan == opt.disableHotkeyScan || scan == opt.enableHotkeyScan) {
    return true;
  }
  // A chord matches a hotkey of modifiers alone only when it is not empty.
  const std::uint16_t chord = region.control().modsChord;
  if (chord == 0) return false;
  const auto chordOf = [chord](std::uint16_t hotkeyScan, std::uint16_t mask) {
    return hotkeyScan == kModifierOnlyHotkey && chord == mask;
  };
  return chordOf(opt.layoutHotkeyScan, opt.layoutHotkeyMods) ||
         chordOf(opt.disableHotkeyScan, opt.disableHotkeyMods) ||
         chordOf(opt.enableHotkeyScan, opt.enableHotkeyMods);
}

}  // namespace

void ForgetHotkeyPress(const Region& region, std::uint16_t scan) {
  ControlBlock& cb = region.control();
  const OptionBlock& opt = region.options();
  if (scan == opt.layoutHotkeyScan) SetBit(&cb.hotkeysPressed, kHotkeyToggle, 0);
  if (scan == opt.disableHotkeyScan) SetBit(&cb.hotkeysPressed, kHotkeyDisable, 0);
  if (scan == opt.enableHotkeyScan) SetBit(&cb.hotkeysPressed, kHotkeyEnable, 0);
}

int KeyStep(const Region& region, std::uint16_t scan, bool prevDown, bool keyUp) {
  ControlBlock& cb = region.control();
  const OptionBlock& opt = region.options();
  UpdateModifiers(region, scan, keyUp);
  if (!MayBeHotkey(region, scan)) return 0;
  const Hotkey toggle{opt.layoutHotkeyScan, opt.layoutHotkeyMods, kHotkeyToggle};
  const Hotkey disable{opt.disableHotkeyScan, opt.disableHotkeyMods, kHotkeyDisable};
  const Hotkey enable{opt.enableHotkeyScan, opt.enableHotkeyMods, kHotkeyEnable};
  // The hotkeys pressed on this scan code, before this event changes them.
  std::uint16_t pressedHere = 0;
  // A new press (no repeat) starts afresh: the release of an earlier one may
  // have gone where the hook does not look, to a console window say.
  const bool newPress = !keyUp && !prevDown;
  for (const Hotkey* h : {&toggle, &disable, &enable}) {
    if (h->scan != scan || !TestBit(cb.hotkeysPressed, h->bit)) continue;
    if (newPress) {
      SetBit(&cb.hotkeysPressed, h->bit, 0);
    } else {
      SetBit(&pressedHere, h->bit, 1);
    }
  }
  // A modifier chord fires on the first release of its keys; that release
  // goes on to the application, which would otherwise keep the key down.
  const int swallow = keyUp && IsModifierKey(scan) ? 0 : 1;
  int result = 0;
  if (cb.enabled != 0) {
    if (Matches(region, scan, keyUp, toggle, pressedHere)) {
      result = toggle.scan == kModifierOnlyHotkey ? swallow : 1;
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
    if (Matches(region, scan, keyUp, disable, pressedHere)) {
      result = disable.scan == kModifierOnlyHotkey ? (result | swallow) : 1;
      if (keyUp) {
        cb.enabled = 0;
        SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
      }
    }
  } else if (Matches(region, scan, keyUp, enable, pressedHere)) {
    result = enable.scan == kModifierOnlyHotkey ? swallow : 1;
    if (keyUp) {
      cb.enabled = 1;
      SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
    }
  }
  if (keyUp) cb.hotkeysPressed &= static_cast<std::uint16_t>(~pressedHere);
  return result;
}

}  // namespace velto
