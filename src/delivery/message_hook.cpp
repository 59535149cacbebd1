#include "delivery/message_hook.h"

#include "control/notify.h"
#include "control/procs.h"
#include "delivery/macro.h"
#include "delivery/player.h"
#include "delivery/queues.h"
#include "intercept/bits.h"
#include "intercept/lookup.h"
#include "shared/charset.h"
#include "shared/keys.h"

namespace velto {

namespace {

constexpr std::uint32_t kWmKeyDown = 0x100;
constexpr std::uint32_t kWmKeyUp = 0x101;
constexpr std::uint32_t kWmSysKeyDown = 0x104;
constexpr std::uint32_t kWmSysKeyUp = 0x105;
constexpr std::uint32_t kWmKeyLast = 0x108;
constexpr std::uint32_t kWmSysCommand = 0x112;
constexpr std::uint32_t kWmHotkey = 0x312;
constexpr platform::WParam kScTaskList = 0xF130;
constexpr platform::LParam kModWin = 0x0008;

bool Counts(const ControlBlock& cb, std::uint32_t msg) {
  return (msg >= kWmKeyDown && msg <= kWmKeyLast) || msg == kWmSysCommand || msg == kWmHotkey ||
         msg == cb.notifyMsg;
}

// Ctrl+Esc (or a Win key) opening the task list while the layout claims those modifiers.
void EatTaskList(const Region& region, platform::LParam msgPtr, const platform::MessageFields& m) {
  const ControlBlock& cb = region.control();
  const std::uint16_t mods = cb.modsAtKeyDown & region.currentLayoutRecord().modMask;
  if (m.wParam == kScTaskList && (mods & kWinMask || mods & kCtrlMask)) platform::ReplaceHookedMessage(msgPtr, 0);
}

// A system hotkey with the Win key: translated like the key itself.
void TranslateWinHotkey(const Region& region, platform::LParam msgPtr, const platform::MessageFields& m) {
  const std::uint16_t vk = static_cast<std::uint16_t>((static_cast<std::uint32_t>(m.lParam) >> 16) & 0xFFFF);
  const std::uint16_t scan = static_cast<std::uint16_t>(platform::MapVirtualKey(vk, 0));
  const int r = TranslateKey(region, scan);
  if (r != 0) {
    const std::uint32_t result = static_cast<std::uint32_t>(scan) << 16 | static_cast<std::uint32_t>(r);
    if (PushKeyResult(region, WithCharSet(result, CharSetLayout(region, region.control().currentLayout)))) {
      platform::ReplaceHookedMessage(msgPtr, 0);
    }
  } else if (TestBit(region.currentLayoutRecord().modMask, kLayoutMaskWinHotkeyEats)) {
    platform::ReplaceHookedMessage(msgPtr, 0);
  }
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
      if (ch != 0) cb.pendingDeadKey = ch;
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
}

// Whether `msg` is the key press the player posted last, now being taken.
// What waits behind it goes on at the next message: one posted to this
// thread now comes after the character TranslateMessage is about to post.
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

}  // namespace

std::uint8_t CombineDeadKey(const Region& region, std::uint8_t dead, std::uint8_t next, int setLayout) {
  const bool space = setLayout < 0 ? next == 0x20 : CharOf(region, setLayout, next) == U' ';
  if (space) return dead;
  for (const DeadKeyRow& row : region.deadKeys().rows) {
    if (row.dead == dead && row.next == next) return row.composed;
  }
  return 0;
}

void DeliverPending(const Region& region) {
  ControlBlock& cb = region.control();
  if (cb.actQEmpty != 0 && cb.keyQEmpty != 0 && !MacroPending(region)) return;  // as good as always
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
      Deliver(region, PopKeyResult(region));
    } else {
      break;
    }
  }
  GivePlayerTurnBack(region);
}

platform::LParam GetMessageHookProc(int code, platform::WParam wParam, platform::LParam lParam) {
  const Region& region = TheRegion();
  if (!region.valid()) return platform::CallNextHook(0, code, wParam, lParam);
  ControlBlock& cb = region.control();
  const platform::LParam next = platform::CallNextHook(cb.getMsgHook, code, wParam, lParam);

  const platform::MessageFields m = platform::ReadHookedMessage(lParam);
  if (CalledForAnotherThread(m.window)) return next;
  std::uint32_t msg = m.message & 0xFFFF;
  const bool counts = Counts(cb, msg);
  if (cb.enabled != 0 && msg == kWmKeyDown && cb.swallowedScan != 0 &&
      ((static_cast<std::uint32_t>(m.lParam) >> 16) & 0x1FF) == cb.swallowedScan) {
    // The key-down of a key that was swallowed and queued must not arrive
    // too; a key press the library posted for another key still does.
    platform::ReplaceHookedMessage(lParam, 0);
    msg = 0;
    cb.swallowedScan = 0;
  }
  if (cb.ledsReported != cb.leds) {
    cb.ledsReported = cb.leds;
    SetBit(&cb.changeFlags, kChangeLeds, 1);
  }
  // Only the key press the library posted goes first to TranslateMessage,
  // whose character then comes next.
  const bool takesPress = code >= 0 && TakesPostedPress(region, msg, m.lParam);
  if (cb.enabled == 0 || code < 0 || !counts) {
    // What was typed before translation was turned off still goes out.
    if (cb.enabled == 0 && code >= 0 && counts && !takesPress) DeliverPending(region);
    NotifyClients(region);
    return next;
  }

  if (msg == kWmSysCommand) EatTaskList(region, lParam, m);
  if (msg == kWmHotkey && (m.lParam & kModWin)) TranslateWinHotkey(region, lParam, m);

  ++cb.diagnostics[3];
  // Every kind of output starts here at once, macros too: the keys after
  // them must not find it still waiting.
  if (!takesPress) DeliverPending(region);
  ++cb.diagnostics[4];

  if (cb.lastKeyInfo != 0 &&
      (msg == kWmKeyDown || msg == kWmKeyUp || msg == kWmSysKeyDown || msg == kWmSysKeyUp)) {
    platform::PostMessage(0, cb.notifyMsg, kKeyNoticeWParam, cb.lastKeyInfo);
    cb.lastKeyInfo = 0;
  }
  NotifyClients(region);
  return 0;
}

}  // namespace velto
