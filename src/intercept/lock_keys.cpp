#include "intercept/lock_keys.h"

#include "intercept/modifiers.h"
#include "shared/bits.h"
#include "shared/keys.h"

namespace velto {

namespace {

// Whether the light shows the layout, so that a press of Scroll Lock is
// undone on its release.
bool ScrollLockShowsLayout(const Region& region) {
  const OptionBlock& opt = region.options();
  return region.control().enabled != 0 && TestBit(opt.options, kOptScrollLockShowsLayout) &&
         opt.layoutHotkeyScan != kScrollLockScan;
}

}  // namespace

void TrackLockKeys(const Region& region, const KeyEvent& e) {
  ControlBlock& cb = region.control();
  std::int32_t* down;
  std::uint8_t led;
  switch (e.scan) {
    case kScanNumLock:
      down = &cb.numKeyDown;
      led = kLedNumLock;
      break;
    case kScanCapsLock:
      down = &cb.capsKeyDown;
      led = kLedCapsLock;
      break;
    case kScrollLockScan:
      down = &cb.scrollKeyDown;
      led = kLedScrollLock;
      break;
    default:
      return;
  }
  if (e.keyUp) {
    *down = 0;
  } else if (!e.prevDown && *down == 0) {
    if (!(led == kLedScrollLock && ScrollLockShowsLayout(region))) ToggleBit(&cb.leds, led);
    *down = 1;
  }
}

bool ScrollLockLightToPutBack(const Region& region, const KeyEvent& e) {
  return e.keyUp && e.scan == kScrollLockScan && ScrollLockShowsLayout(region);
}

void CapsLockLayoutSwitch(const Region& region, const KeyEvent& e) {
  ControlBlock& cb = region.control();
  if (e.scan != kScanCapsLock || !TestBit(region.options().options, kOptCapsSwitchesLayout)) return;
  if (!e.keyUp && cb.capsLayoutShift == 0) {
    cb.currentLayout ^= 1;
    cb.capsLayoutShift = 1;
    SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
  } else if (e.keyUp && cb.capsLayoutShift != 0) {
    cb.currentLayout ^= 1;
    // Caps Lock served as a layout key: put its lock state back as it was.
    if (cb.capsUsedWhileShifted != 0) ToggleLed(region, kVkCapital);
    SetBit(&cb.changeFlags, kChangeLayoutOrEnable, 1);
    cb.capsUsedWhileShifted = 0;
    cb.capsLayoutShift = 0;
  }
}

}  // namespace velto
