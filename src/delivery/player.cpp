#include "delivery/player.h"

#include "delivery/macro.h"
#include "delivery/own_keys.h"
#include "delivery/queues.h"
#include "platform/platform.h"
#include "shared/charset.h"

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

// The turn is one word of the region that every process shares, taken and
// given back with the compiler's atomic operations on it (what
// std::atomic_ref does, which not every standard library has).
bool TakePlayerTurn(const Region& region) {
  std::int32_t idle = 0;
  return __atomic_compare_exchange_n(&region.control().playerBusy, &idle, 1, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST);
}

void GivePlayerTurnBack(const Region& region) { __atomic_store_n(&region.control().playerBusy, 0, __ATOMIC_SEQ_CST); }

void PlayActions(const Region& region) {
  if (!TakePlayerTurn(region)) return;
  PlayActionsInTurn(region);
  GivePlayerTurnBack(region);
}

void PlayActionsInTurn(const Region& region) {
  ControlBlock& cb = region.control();
  bool stop = false;
  OwnKeyRun run;
  run.marked = cb.playbackWait != 0;
  ActionReader reader(region);
  while (!reader.empty() && !stop) {
    const std::uint16_t op = reader.Next();
    if (op == kOpPostKeyDown || op == kOpPostKeyUp || op == kOpPostChar) {
      PostEntry(region, reader, op);
    } else if (op == kOpPostWideChar || IsWidePairOp(op)) {
      PostWideEntry(region, reader, op);
    } else if (op == kOpKeyUp || op == kOpKeyDown) {
      cb.playbackWait = 1;
      stop = PlayOwnKey(region, run, op, reader.Next());
    }
    reader.Finish();
  }
  // A macro longer than the queue goes on once its keys so far are back
  // through the keyboard hook; a marker tells when, as it does between a
  // macro's keys and its text. Without it playback would wait for good.
  if (!stop && cb.playbackWait != 0 && MacroPending(region)) {
    SendMarker(kMarkPlainStart);
  }
}

}  // namespace velto
