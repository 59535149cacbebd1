#include "hooks/hold_back.h"

#include "delivery/deliver.h"
#include "delivery/macro.h"
#include "delivery/queues.h"
#include "intercept/lookup.h"
#include "platform/platform.h"
#include "shared/keys.h"

namespace velto {

namespace {

// Output of earlier keys still on its way, which a key that the system has
// at once would overtake. Results the next drain delivers at once keep their
// place by themselves (characters, right-Alt characters among them, and dead
// keys); a macro's keys, and so the rest of it, wait for their markers, and
// the character of a key press the library posts comes only once the
// application has taken the press.
bool OutputPending(const Region& region) {
  const ControlBlock& cb = region.control();
  if (cb.actQEmpty == 0 || cb.playbackWait != 0 || cb.playerBusy != 0 || MacroPending(region) ||
      region.queues().postedPress != 0) {
    return true;
  }
  return AnyKeyResult(region, [](std::uint32_t r) {
    const std::uint8_t kind = ResultKindOf(r);
    return kind == kKindMacro || kind == kKindCharThenLeft || kind == kKindKeyPress;
  });
}

}  // namespace

int detail::HoldBack(const Region& region, const KeyEvent& e) {
  const ControlBlock& cb = region.control();
  const bool pending = OutputPending(region);
  const bool strayAlt = e.altDown && (cb.modifiers & kAltMask) == 0;
  if (!(strayAlt || pending) || IsModifierKey(e.scan) || e.scan == kScrollLockScan ||
      e.scan == kScanNumLock || (cb.modifiers & (kCtrlMask | kAltMask | kWinMask)) != 0) {
    return -1;
  }
  const auto vk = static_cast<std::uint8_t>(e.vk);
  if (e.keyUp) {
    const bool pressWaits = AnyKeyResult(region, [&e](std::uint32_t r) {
      return ResultKindOf(r) == kKindKeyPress && ResultScan(r) == e.scan;
    });
    const std::uint32_t release = MakeResult(e.scan, kKindKeyRelease, vk);
    return pressWaits && PushKeyResult(region, release) ? kKindKeyRelease : -1;
  }
  std::uint8_t* state = region.queues().keyState;
  platform::GetKeyboardState(state);
  if (strayAlt) state[kVkMenu] = state[kVkRightMenu - 1] = state[kVkRightMenu] = 0;
  char16_t out[4] = {};
  // Flag 4: a dead key of the system layout stays as it is.
  const int typed = platform::ToUnicodeEx(e.vk, e.scan, state, out, 4, 4, cb.focusLayout);
  const bool character = typed == 1 && out[0] >= 0x20 && out[0] != 0x7F && FitsSystemChar(out[0]);
  const std::uint32_t r =
      character ? MakeSystemChar(e.scan, out[0]) : MakeResult(e.scan, kKindKeyPress, vk) | kResultHeldBack;
  if (!PushKeyResult(region, r)) return -1;
  // With nothing ahead of it, it goes out at once.
  if (!pending) DeliverPending(region);
  return character ? kKindSystemChar : kKindKeyPress;
}

}  // namespace velto
