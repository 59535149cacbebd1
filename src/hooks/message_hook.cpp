// The WH_GETMESSAGE hook: where the thread that retrieves messages delivers
// what its keys queued.
#include "delivery/deliver.h"
#include "delivery/queues.h"
#include "hooks/hook_thread.h"
#include "hooks/procs.h"
#include "hooks/timer.h"
#include "intercept/lookup.h"
#include "shared/bits.h"
#include "shared/charset.h"
#include "shared/keys.h"
#include "shared/notice.h"

namespace velto {

namespace {

using platform::kWmKeyDown;
using platform::kWmKeyUp;
using platform::kWmSysKeyDown;
using platform::kWmSysKeyUp;
using platform::kWmKeyLast;
using platform::kWmSysCommand;
using platform::kWmHotkey;
constexpr platform::WParam kScTaskList = 0xF130;
constexpr std::uint32_t kWmInputLangChangeRequest = 0x0050;
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

}  // namespace

namespace {

platform::LParam TakeMessage(const Region& region, int code, platform::WParam wParam, platform::LParam lParam) {
  ControlBlock& cb = region.control();
  const platform::LParam next = platform::CallNextHook(cb.getMsgHook, code, wParam, lParam);

  const platform::MessageFields m = platform::ReadHookedMessage(lParam);
  if (CalledForAnotherThread(m.window)) return next;
  std::uint32_t msg = m.message & 0xFFFF;
  // The thread's keyboard layout is about to change: asked again at its next key.
  if (msg == kWmInputLangChangeRequest) ForgetFocusFacts();
  const bool counts = Counts(cb, msg);
  if (cb.enabled != 0 && msg == kWmKeyDown && cb.swallowedScan != 0 &&
      ((static_cast<std::uint32_t>(m.lParam) >> 16) & 0x1FF) == cb.swallowedScan) {
    // The key-down of a key that was swallowed and queued must not arrive
    // too; a key press the library posted for another key still does.
    platform::ReplaceHookedMessage(lParam, 0);
    msg = 0;
    cb.swallowedScan = 0;
  }
  if (msg == platform::kWmContextMenu && region.queues().menuKeyTaken == kMenuKeyReleaseTaken &&
      static_cast<std::int32_t>(m.lParam) == -1) {
    // The context menu of a Menu key release the layout took (a keyboard's
    // context menu has no position).
    platform::ReplaceHookedMessage(lParam, 0);
    region.queues().menuKeyTaken = 0;
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

  ++cb.messagesToDeliver;
  // Every kind of output starts here at once, macros too: the keys after
  // them must not find it still waiting.
  if (!takesPress) DeliverPending(region);
  ++cb.messagesDelivered;

  if (cb.lastKeyInfo != 0 &&
      (msg == kWmKeyDown || msg == kWmKeyUp || msg == kWmSysKeyDown || msg == kWmSysKeyUp)) {
    platform::PostMessage(0, cb.notifyMsg, kKeyNoticeWParam, cb.lastKeyInfo);
    cb.lastKeyInfo = 0;
  }
  NotifyClients(region);
  return 0;
}

}  // namespace

platform::LParam GetMessageHookProc(int code, platform::WParam wParam, platform::LParam lParam) {
  const Region& region = TheRegion();
  if (!region.valid()) return platform::CallNextHook(0, code, wParam, lParam);
  StartTimerIfWoken(region);
  const platform::LParam result = TakeMessage(region, code, wParam, lParam);
  WakeTimerIfNeeded(region);
  return result;
}

}  // namespace velto
