#include "delivery/player.h"

#include <array>
#include <atomic>

#include "delivery/macro.h"
#include "delivery/queues.h"
#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/charset.h"
#include "shared/injected_keys.h"
#include "shared/keys.h"

namespace velto {

namespace {

using platform::kWmChar;
// A key-up's lParam says "was down" and "being released".
constexpr std::uint32_t kKeyUpBits = 0xC0000000;

void PostEntry(const Region& region, ActionReader& reader, std::uint16_t op) {
  const std::uint16_t wParam = reader.Next() & 0xFF;
  const std::uint32_t scan = reader.Next();
  if (op == kOpPostKeyDown) {
    region.queues().postedPress = static_cast<std::uint16_t>((scan & 0x1FF) | kPostedPressMark);
  }
  const std::uint32_t lParam = ((scan << 16) + 1) | (op == kOpPostKeyUp ? kKeyUpBits : 0);
  platform::PostMessage(region.control().focusWnd, op, wParam, static_cast<platform::LParam>(lParam));
}

// A character beyond U+FFFF goes as its two halves, high first, with
// nothing between them.
void PostWideEntry(const Region& region, ActionReader& reader, std::uint16_t op) {
  const char32_t low16 = reader.Next();
  const char32_t c = IsWidePairOp(op) ? 0x10000 + ((static_cast<char32_t>(op & 0xF) << 16) | low16) : low16;
  char16_t units[2] = {static_cast<char16_t>(low16), 0};
  // A unit as the queue holds it goes out as it stands, even a lone half.
  const int count = IsWidePairOp(op) ? ToUtf16(c, units) : 1;
  const std::uint32_t scan = reader.Next();
  const auto lParam = static_cast<platform::LParam>((scan << 16) + 1);
  for (int i = 0; i < count; ++i) {
    platform::PostUnicodeMessage(region.control().focusWnd, kWmChar, units[i], lParam);
  }
}

}  // namespace

bool TakePlayerTurn(const Region& region) {
  std::int32_t idle = 0;
  return std::atomic_ref<std::int32_t>(region.control().playerBusy).compare_exchange_strong(idle, 1);
}

void GivePlayerTurnBack(const Region& region) {
  std::atomic_ref<std::int32_t>(region.control().playerBusy).store(0);
}

void PlayActions(const Region& region) {
  if (!TakePlayerTurn(region)) return;
  PlayActionsInTurn(region);
  GivePlayerTurnBack(region);
}

void PlayActionsInTurn(const Region& region) {
  ControlBlock& cb = region.control();
  bool stop = false;
  // Between markers 0xC1 and 0xC2 the player lets go of the modifiers held
  // for a macro; between 0xC3 and 0xC4 it presses again only those the user
  // still holds, so none is left down.
  bool releasing = false;
  bool pressingAgain = false;
  // Whether keys of this run are on their way, behind a marker that tells the
  // keyboard hook so.
  bool marked = cb.playbackWait != 0;
  ActionReader reader(region);
  while (!reader.empty() && !stop) {
    const std::uint16_t op = reader.Next();
    if (op == kOpPostKeyDown || op == kOpPostKeyUp || op == kOpPostChar) {
      PostEntry(region, reader, op);
    } else if (op == kOpPostWideChar || IsWidePairOp(op)) {
      PostWideEntry(region, reader, op);
    } else if (op == kOpKeyUp || op == kOpKeyDown) {
      cb.playbackWait = 1;
      const std::uint16_t word = reader.Next();
      const std::uint8_t vk = word & 0xFF;
      std::uint32_t flags = op == kOpKeyUp ? platform::kKeyEventKeyUp : 0;
      // Right Shift is no extended key; the system knows it by its scan code.
      const bool rightShift = vk == kVkShift && (word & kVkWordExtended) != 0;
      if ((word & kVkWordExtended) && !rightShift) flags |= platform::kKeyEventExtendedKey;
      const int heldBit = ModifierBitOfVkWord(word);
      const bool released = op == kOpKeyDown && pressingAgain && heldBit >= 0 &&
                            !TestBit(cb.modifiers, static_cast<std::uint8_t>(heldBit));
      // The keyboard hook runs in another thread and may take a start marker
      // before this one goes on: the window it opens is marked as tracked first.
      const bool startMarker = op == kOpKeyUp && (vk == kMarkReleaseStart || vk == kMarkRepressStart);
      if (startMarker) cb.passThroughKeys |= kPassMarked;
      const bool marker = IsMarker(vk);
      if (!marked && !marker) InjectMarker(kMarkPlainAfterRelease);
      marked = true;
      if (!released) {
        // Until it comes back through the keyboard hook, the user may press
        // or let go of the same key: the hook tells the two apart by these.
        if (heldBit >= 0 && heldBit < kHeldKeyBits) {
          if (op == kOpKeyDown && pressingAgain) cb.sentDown = static_cast<std::uint8_t>(cb.sentDown | 1u << heldBit);
          if (op == kOpKeyUp && releasing) cb.sentUp = static_cast<std::uint8_t>(cb.sentUp | 1u << heldBit);
        }
        const std::uint32_t scan = rightShift ? kScanRightShift : platform::MapVirtualKeyEx(vk, 0, cb.focusLayout);
        InjectKey(vk, static_cast<std::uint8_t>(scan), flags);
      }
      if (op == kOpKeyUp && vk == kMarkReleaseStart) releasing = true;
      if (op == kOpKeyUp && vk == kMarkReleaseEnd) releasing = false;
      if (op == kOpKeyUp && vk == kMarkRepressStart) pressingAgain = true;
      if (op == kOpKeyUp && vk == kMarkRepressEnd) pressingAgain = false;
      if (op == kOpKeyUp && vk == kMarkPlainStart) stop = true;
    }
    reader.Finish();
  }
  // A macro longer than the queue goes on once its keys so far are back
  // through the keyboard hook; a marker tells when, as it does between a
  // macro's keys and its text. Without it playback would wait for good.
  if (!stop && cb.playbackWait != 0 && MacroPending(region)) {
    InjectMarker(kMarkPlainStart);
  }
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
    if (cb.heldCounts[i] != 0) InjectKey(kRelease[i].vk, kRelease[i].scan, kRelease[i].flags);
  }
}

}  // namespace velto
