#include "delivery/own_keys.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "delivery/queues.h"
#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/keys.h"

namespace velto {

namespace {

// The scan codes of virtual keys in one keyboard layout, as the system gave
// them (0xFFFF: not asked yet): a layout maps a key the same way for its
// whole life, so each is asked once while the layout stays the same.
struct ScanCodes {
  platform::Handle layout = 0;
  bool filled = false;
  std::uint16_t ofVk[256];
} g_scanCodes;

std::uint32_t ScanOfVk(std::uint8_t vk, platform::Handle layout) {
  ScanCodes& known = g_scanCodes;
  if (!known.filled || known.layout != layout) {
    std::fill(std::begin(known.ofVk), std::end(known.ofVk), 0xFFFF);
    known.layout = layout;
    known.filled = true;
  }
  if (known.ofVk[vk] == 0xFFFF) known.ofVk[vk] = static_cast<std::uint16_t>(platform::MapVirtualKeyEx(vk, 0, layout));
  return known.ofVk[vk];
}

using platform::kWmKeyDown;
using platform::kWmSysKeyDown;
constexpr std::uint32_t kLParamAltDown = 1u << 29;
// QueueArea::ownKeys: a run of the player's keys is coming back (bit 0), and
// it has pressed Alt itself (bit 1).
constexpr std::uint16_t kOwnKeysAlt = 2;

// The eight modifier keys in the order they are released and pressed again.
struct HeldKey {
  std::uint8_t bit;
  std::uint16_t vk;
};
constexpr std::array<HeldKey, kHeldKeyBits> kHeldKeys = [] {
  std::array<HeldKey, kHeldKeyBits> keys{};
  for (const ModifierKey& key : kModifierKeys) {
    if (key.macroOrder != kNotByMacros) keys[key.macroOrder] = {key.bit, VkWordOf(key)};
  }
  return keys;
}();
static_assert(std::none_of(kHeldKeys.begin(), kHeldKeys.end(), [](const HeldKey& k) { return k.vk == 0; }));

void PushModifierBlock(const Region& region, std::uint8_t mods, std::uint16_t op, std::uint8_t start,
                       std::uint8_t end) {
  PushKeyAction(region, kOpKeyUp, start);
  for (const HeldKey& key : kHeldKeys) {
    if (mods & (1u << key.bit)) PushKeyAction(region, op, key.vk);
  }
  PushKeyAction(region, kOpKeyUp, end);
}

}  // namespace

// --- Sending -------------------------------------------------------------

void SendOwnKey(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) { platform::KeybdEvent(vk, scan, flags); }

void SendMarker(std::uint8_t marker) { SendOwnKey(marker, 0, platform::kKeyEventKeyUp); }

void PushReleaseBlock(const Region& region, std::uint8_t mods, bool chordFirst) {
  PushModifierBlock(region, mods, kOpKeyUp, kMarkReleaseStart, kMarkReleaseEnd);
  if (!chordFirst) PushKeyAction(region, kOpKeyUp, kMarkPlainAfterRelease);
}

void PushRepressBlock(const Region& region, std::uint8_t mods) {
  PushModifierBlock(region, mods, kOpKeyDown, kMarkRepressStart, kMarkRepressEnd);
}

void PushPlainStart(const Region& region) { PushKeyAction(region, kOpKeyUp, kMarkPlainStart); }

int ModifierBitOfVkWord(std::uint16_t vkWord) {
  for (const HeldKey& key : kHeldKeys) {
    if (key.vk == vkWord) return key.bit;
  }
  return -1;
}

// --- Playing ---------------------------------------------------------------

bool PlayOwnKey(const Region& region, OwnKeyRun& run, std::uint16_t op, std::uint16_t word) {
  ControlBlock& cb = region.control();
  const std::uint8_t vk = word & 0xFF;
  std::uint32_t flags = op == kOpKeyUp ? platform::kKeyEventKeyUp : 0;
  // Right Shift is no extended key; the system knows it by its scan code.
  const bool rightShift = vk == kVkShift && (word & kVkWordExtended) != 0;
  if ((word & kVkWordExtended) && !rightShift) flags |= platform::kKeyEventExtendedKey;
  const int heldBit = ModifierBitOfVkWord(word);
  const bool released = op == kOpKeyDown && run.pressingAgain && heldBit >= 0 &&
                        !TestBit(cb.modifiers, static_cast<std::uint8_t>(heldBit));
  // The keyboard hook runs in another thread and may take a start marker
  // before this one goes on: the window it opens is marked as tracked first.
  const bool startMarker = op == kOpKeyUp && (vk == kMarkReleaseStart || vk == kMarkRepressStart);
  if (startMarker) cb.passThroughKeys |= kPassMarked;
  const bool marker = IsMarker(vk);
  if (!run.marked && !marker) SendMarker(kMarkPlainAfterRelease);
  run.marked = true;
  if (!released) {
    // Until it comes back through the keyboard hook, the user may press
    // or let go of the same key: the hook tells the two apart by these.
    if (heldBit >= 0 && heldBit < kHeldKeyBits) {
      if (op == kOpKeyDown && run.pressingAgain) cb.sentDown = static_cast<std::uint8_t>(cb.sentDown | 1u << heldBit);
      if (op == kOpKeyUp && run.releasing) cb.sentUp = static_cast<std::uint8_t>(cb.sentUp | 1u << heldBit);
    }
    const std::uint32_t scan = rightShift ? kScanRightShift : ScanOfVk(vk, cb.focusLayout);
    SendOwnKey(vk, static_cast<std::uint8_t>(scan), flags);
  }
  if (op == kOpKeyUp && vk == kMarkReleaseStart) run.releasing = true;
  if (op == kOpKeyUp && vk == kMarkReleaseEnd) run.releasing = false;
  if (op == kOpKeyUp && vk == kMarkRepressStart) run.pressingAgain = true;
  if (op == kOpKeyUp && vk == kMarkRepressEnd) run.pressingAgain = false;
  return op == kOpKeyUp && vk == kMarkPlainStart;
}

void ReleaseHeldModifiers(const Region& region) {
  // Right Shift is no extended key: the system tells the Shift keys apart by
  // their scan codes, so it is let go by its own.
  struct Release {
    std::uint8_t vk;
    std::uint8_t scan;
    std::uint32_t flags;
  };
  static constexpr std::array<Release, kHeldCounters> kRelease = [] {
    std::array<Release, kHeldCounters> rows{};
    for (std::size_t i = 0; i < kHeldCounters; ++i) {
      const ModifierKey& key = kModifierKeys[i];
      rows[i] = {key.vk, static_cast<std::uint8_t>(key.toldByScan ? key.scan & 0xFF : 0),
                 platform::kKeyEventKeyUp | (IsExtendedScan(key.scan) ? platform::kKeyEventExtendedKey : 0)};
    }
    return rows;
  }();
  const ControlBlock& cb = region.control();
  for (std::size_t i = 0; i < kHeldCounters; ++i) {
    if (cb.heldCounts[i] != 0) SendOwnKey(kRelease[i].vk, kRelease[i].scan, kRelease[i].flags);
  }
}

void PutScrollLockLightBack(const Region& region) {
  ControlBlock& cb = region.control();
  cb.passThrough = 1;
  cb.passThroughKeys |= kPassScrollLock;
  SetBit(&cb.leds, kLedScrollLock, cb.currentLayout != 0 ? 1 : 0);
  TapKey(kVkScroll);
  SendMarker(kMarkReleaseEnd);
  SetBit(&cb.changeFlags, kChangeLeds, 1);
}

// --- Recognising -----------------------------------------------------------

bool TakeMarker(const Region& region, const KeyEvent& e) {
  if (!e.keyUp) return false;
  ControlBlock& cb = region.control();
  switch (e.vk) {
    case kMarkReleaseEnd:
      cb.passThrough = 0;
      cb.passThroughKeys = 0;
      cb.sentUp = 0;  // what the player sent before the marker is back
      return true;
    case kMarkRepressEnd:
      // Playback goes on waiting for the 0xC5 that always follows: until
      // then keys of the player's may still be on their way.
      cb.passThrough = 0;
      cb.passThroughKeys = 0;
      cb.sentDown = 0;
      cb.countHeld = 0;
      ReleaseHeldModifiers(region);
      return true;
    case kMarkReleaseStart:
      region.queues().ownKeys = 1;
      cb.passThrough = 1;
      cb.passThroughKeys |= kPassModifiers;
      std::memset(cb.heldCounts, 0, kHeldCountsClearSize);
      cb.countHeld = 1;
      return true;
    case kMarkRepressStart:
      region.queues().ownKeys = 1;
      cb.passThrough = 1;
      cb.passThroughKeys |= kPassModifiers;
      return true;
    case kMarkPlainStart:
      cb.playbackWait = 0;
      region.queues().ownKeys = 0;
      return true;
    case kMarkPlainAfterRelease:
      region.queues().ownKeys = 1;
      return true;
    default:
      return false;
  }
}

// A key the user typed in the moment a key of the library's is on its way
// (on Windows within a few milliseconds of Scroll Lock or of a macro's
// start; under Wine before every key while the light shows the layout, since
// Wine first brings its own Scroll Lock state in line with the X server's)
// is handled as usual, and so is the user's own press or release of a
// modifier the player is sending. A key swallowed while it is only peeked at
// is gone as well, so its mark is used up either way.
bool SentByTheLibrary(ControlBlock& cb, const KeyEvent& e) {
  const std::uint8_t keys = cb.passThroughKeys != 0 ? cb.passThroughKeys : kPassModifiers | kPassScrollLock;
  if ((keys & kPassScrollLock) && e.vk == kVkScroll) return true;
  const int bit = ModifierBitOf(e.scan);
  const bool modifier = e.vk == kVkShift || e.vk == kVkControl || e.vk == kVkMenu || e.vk == kVkLeftWin ||
                        e.vk == kVkRightWin || (e.vk >= kVkLeftShift && e.vk <= kVkRightMenu);
  if (!(keys & kPassModifiers) || !modifier) return false;
  if (!(keys & kPassMarked)) return true;
  if (bit < 0 || bit >= kHeldKeyBits) return false;
  std::uint8_t& sent = e.keyUp ? cb.sentUp : cb.sentDown;
  if ((sent >> bit & 1) == 0) return false;
  sent = static_cast<std::uint8_t>(sent & ~(1u << bit));
  return true;
}

// The press would land after the release and leave the key down. Counted,
// it is let go again when the end marker of the macro comes back.
bool ReleasedBeforePressedAgain(const ControlBlock& cb, const KeyEvent& e) {
  const int bit = ModifierBitOf(e.scan);
  return bit >= 0 && bit < kHeldKeyBits && (cb.sentDown >> bit & 1) != 0;
}

// The user pressed Alt after the macro let go of the modifiers, before the
// chord's keys came. The system would make the key a WM_SYSKEYDOWN, which
// types nothing (Enter, say); it goes to the window as the key press the
// macro meant, at once, in its place, and what follows waits for the
// character TranslateMessage makes of it.
bool MacroKeyMeetsTheUsersAlt(const Region& region, const KeyEvent& e, platform::LParam lParam) {
  std::uint16_t& own = region.queues().ownKeys;
  if (e.vk == kVkMenu) {
    own = static_cast<std::uint16_t>(e.keyUp ? own & ~kOwnKeysAlt : own | kOwnKeysAlt);
    return false;
  }
  if (e.keyUp || !e.altDown || (own & kOwnKeysAlt) != 0 || IsModifierKey(e.scan)) return false;
  const auto bits = static_cast<std::uint32_t>(lParam) & ~kLParamAltDown;
  platform::PostMessage(platform::GetFocus(), kWmKeyDown, e.vk, static_cast<platform::LParam>(bits));
  region.queues().postedPress = static_cast<std::uint16_t>(e.scan | kPostedPressMark);
  return true;
}

// The system takes such a key without Alt and would type it as a plain key.
bool TypedWhileAMacroLetGoOfAlt(const Region& region, const KeyEvent& e, platform::LParam lParam) {
  const ControlBlock& cb = region.control();
  if (e.keyUp || e.altDown || cb.countHeld == 0 || (cb.modifiers & kAltMask) == 0 || IsModifierKey(e.scan)) {
    return false;
  }
  const auto bits = static_cast<std::uint32_t>(lParam) | kLParamAltDown;
  platform::PostMessage(platform::GetFocus(), kWmSysKeyDown, e.vk, static_cast<platform::LParam>(bits));
  return true;
}

}  // namespace velto
