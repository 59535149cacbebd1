#include "delivery/deliver.h"

#include "delivery/macro.h"
#include "delivery/player.h"
#include "delivery/queues.h"
#include "shared/bits.h"
#include "shared/charset.h"
#include "shared/compositions.h"
#include "shared/keys.h"
#include "shared/result.h"

namespace velto {

namespace {

using platform::kWmKeyDown;

// A key of a layout that composes through the composition table, while a
// composition is under way or the key is a dead key: walks the table.
// Returns whether the key is done with (nothing more to deliver for it).
[[gnu::noinline]] bool Compose(const Region& region, int setLayout, std::uint8_t ch, bool deadKey, std::uint16_t scan) {
  std::uint32_t& state = region.queues().composeState;
  if (!deadKey && state == 0) return false;
  const Compositions table = region.compositions();
  const char32_t input = InputOfByte(region.layoutRecords()[setLayout], region.macros(), ch);
  const ComposeStep step = table.Walk(state, input, deadKey);
  state = step.kind == ComposeStep::kState ? step.state : 0;
  if (step.kind == ComposeStep::kText) {
    // An empty ActionQueue holds some 120 characters; a longer text ends there.
    for (std::uint32_t i = 0; i < step.length && PushWideChar(region, step.text[i], scan); ++i) {
    }
  }
  return deadKey || step.kind != ComposeStep::kNone;
}

bool ComposesThroughTable(const Region& region, int setLayout) {
  return setLayout >= 0 && ComposesThroughTable(region.layoutRecords()[setLayout & 3]);
}

// Turns one TranslationResult into ActionQueue entries.
void Deliver(const Region& region, std::uint32_t r) {
  ControlBlock& cb = region.control();
  std::uint8_t ch = ResultChar(r);
  const std::uint8_t kind = ResultKindOf(r);
  const int setLayout = ResultCharSet(r);
  if (TestBit(cb.modifiers, kModCapsHeld)) cb.capsUsedWhileShifted = 1;
  switch (kind) {
    case kKindDeadKey:
      if (ComposesThroughTable(region, setLayout)) {
        if (ch != 0) Compose(region, setLayout, ch, true, ResultScan(r));
      } else if (ch != 0) {
        cb.pendingDeadKey = ch;
      }
      return;
    case kKindKeyPress:
      PushPostedMessage(region, kOpPostKeyDown, ch, r);
      if ((r & kResultHeldBack) != 0) return;  // the system's key: a dead key stays pending
      break;
    case kKindSystemChar:
      // Held back behind earlier output: a pending dead key of the layout's
      // is not for it, as it would not have been had it gone its way.
      PushWideChar(region, SystemCharOf(r), ResultScan(r));
      return;
    case kKindKeyRelease:
      PushPostedMessage(region, kOpPostKeyUp, ch, r);
      return;
    case kKindChar:
    case kKindCharThenLeft:
    case kKindOneCharMacro:
      if (region.queues().composeState != 0 && ComposesThroughTable(region, setLayout) &&
          Compose(region, setLayout, ch, false, ResultScan(r))) {
        cb.pendingDeadKey = 0;
        return;
      }
      if (cb.pendingDeadKey != 0) {
        const std::uint8_t combined = CombineDeadKey(region, cb.pendingDeadKey & 0xFF, ch, setLayout);
        if (combined != 0) ch = combined;
      }
      if (kind == kKindChar && setLayout < 0) PushPostedMessage(region, kOpPostChar, ch, r);
      if (kind == kKindChar && setLayout >= 0) PushWideChar(region, CharOf(region, setLayout, ch), ResultScan(r));
      if (kind == kKindCharThenLeft) ExpandMacro(region, ch, MacroMode::kCharThenLeft, setLayout);
      if (kind == kKindOneCharMacro) ExpandMacro(region, ch, MacroMode::kOneChar, setLayout);
      break;
    case kKindMacro:
      cb.pendingDeadKey = 0;
      ExpandMacro(region, ch, MacroMode::kTable, setLayout);
      break;
    default:
      break;  // consumed without output
  }
  cb.pendingDeadKey = 0;
  region.queues().composeState = 0;
}

// A character with nothing before it in the ActionQueue and nothing to
// combine it with, as almost every key's: its entry is written and played at
// once, leaving the queue as a push and a round of the player would.
// Returns false, having done nothing, for any other result.
bool DeliveredAtOnce(const Region& region, std::uint32_t r) {
  ControlBlock& cb = region.control();
  QueueArea& queues = region.queues();
  const std::uint16_t write = cb.actQWrite;
  if (ResultKindOf(r) != kKindChar || cb.pendingDeadKey != 0 || queues.composeState != 0 || cb.actQEmpty == 0 ||
      write != cb.actQRead || write >= kActionSlots) {
    return false;
  }
  const int setLayout = ResultCharSet(r);
  const std::uint8_t ch = ResultChar(r);
  const char32_t c = setLayout >= 0 ? CharOf(region, setLayout, ch) : ch;
  if (setLayout >= 0 && (c >= 0x10000 || !IsCharacter(c))) return false;
  if (TestBit(cb.modifiers, kModCapsHeld)) cb.capsUsedWhileShifted = 1;
  const std::uint16_t scan = ResultScan(r);
  std::uint16_t* slots = queues.actions + write;
  slots[0] = setLayout >= 0 ? kOpPostWideChar : kOpPostChar;
  slots[1] = static_cast<std::uint16_t>(c);
  slots[2] = scan;
  const std::size_t next = write + 3u;
  cb.actQWrite = cb.actQRead = static_cast<std::uint16_t>(next >= kActionSlots ? 0 : next);
  const auto lParam = static_cast<platform::LParam>((static_cast<std::uint32_t>(scan) << 16) + 1);
  if (setLayout >= 0) {
    platform::PostUnicodeMessage(cb.focusWnd, platform::kWmChar, c, lParam);
  } else {
    platform::PostMessage(cb.focusWnd, kOpPostChar, ch, lParam);
  }
  return true;
}

}  // namespace

std::uint8_t CombineDeadKey(const Region& region, std::uint8_t dead, std::uint8_t next, int setLayout) {
  const bool space = setLayout < 0 ? next == 0x20 : CharOf(region, setLayout, next) == U' ';
  if (space) return dead;
  for (const DeadKeyRow& row : region.deadKeys().rows) {
    if (row.dead == dead && row.next == next) return row.composed;
  }
  return 0;
}

void detail::DeliverPendingNow(const Region& region) {
  ControlBlock& cb = region.control();
  if (cb.actQEmpty != 0 && cb.keyQEmpty != 0 && !MacroPending(region)) return;
  // Whoever holds the turn sees the output through; the others leave it.
  if (!TakePlayerTurn(region)) return;
  // Each round plays, goes on with a macro or takes a key result; the bound
  // only guards against a garbled region.
  for (std::size_t round = 0; round < 4 * kKeySlots && cb.playbackWait == 0; ++round) {
    if (cb.actQEmpty == 0) {
      PlayActionsInTurn(region);
    } else if (MacroPending(region)) {
      ResumeMacro(region);
    } else if (cb.keyQEmpty == 0 && region.queues().postedPress == 0) {
      const std::uint32_t r = PopKeyResult(region);
      if (!DeliveredAtOnce(region, r)) Deliver(region, r);
    } else {
      break;
    }
  }
  GivePlayerTurnBack(region);
}

bool TakesPostedPress(const Region& region, std::uint32_t msg, platform::LParam lParam) {
  std::uint16_t& posted = region.queues().postedPress;
  if (posted == 0 || msg != kWmKeyDown) return false;
  const auto scan = static_cast<std::uint16_t>((static_cast<std::uint32_t>(lParam) >> 16) & 0x1FF);
  if ((scan | kPostedPressMark) != posted) return false;
  posted = 0;
  const ControlBlock& cb = region.control();
  if (cb.keyQEmpty == 0 || cb.actQEmpty == 0) platform::PostMessage(0, cb.notifyMsg, 0, 0);
  return true;
}

}  // namespace velto
