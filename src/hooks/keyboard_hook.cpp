// The WH_KEYBOARD hook: the entry of every keystroke. KeyboardHookProc at
// the end of this file reads as the road of one key: stage after stage, each
// deciding whether the key goes on to the next.
#include <cstring>

#include "delivery/deliver.h"
#include "delivery/macro.h"
#include "delivery/own_keys.h"
#include "delivery/player.h"
#include "delivery/queues.h"
#include "hooks/hold_back.h"
#include "hooks/hook_thread.h"
#include "hooks/procs.h"
#include "hooks/timer.h"
#include "intercept/hotkeys.h"
#include "intercept/lock_keys.h"
#include "intercept/lookup.h"
#include "intercept/modifiers.h"
#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/charset.h"
#include "shared/key_event.h"
#include "shared/notice.h"

namespace velto {

namespace {

constexpr int kHcAction = 0;
constexpr char kConsoleClass[] = "ConsoleWindowClass";
// Either Alt key, by the low byte of its scan code.
constexpr std::uint16_t kScanAltLow = kScanLeftAlt;
static_assert((kScanRightAlt & 0xFF) == kScanAltLow);

// Asks the system what holds for the calling thread's focus.
[[gnu::noinline]] void AskFocusFacts(FocusFacts& facts, std::uint32_t thread) {
  facts.focus = platform::GetFocus();
  facts.layout = platform::GetKeyboardLayout(0);
  const platform::Handle foreground = platform::GetForegroundWindow();
  if (!facts.named || facts.foreground != foreground) {
    std::memset(facts.name, 0, kClassNameSize);
    facts.named = platform::GetClassName(foreground, facts.name, kClassNameSize) > 0;
    facts.name[kClassNameSize - 1] = '\0';
    facts.console = std::memcmp(facts.name, kConsoleClass, sizeof kConsoleClass) == 0;
  }
  facts.foreground = foreground;
  // A class name that could not be had is asked for again on the next key.
  facts.thread = facts.named ? thread : 0;
}

// Returns whether the foreground window is a console.
bool RecordFocus(const Region& region, const KeyEvent& e) {
  ControlBlock& cb = region.control();
  FocusFacts& facts = FocusFactsOfThisProcess();
  const std::uint32_t thread = platform::GetCurrentThreadId();
  if (facts.thread != thread) AskFocusFacts(facts, thread);
  cb.focusWnd = facts.focus;
  cb.focusLayout = facts.layout;
  std::memcpy(cb.foregroundClass, facts.name, kClassNameSize);
  cb.lastKeyInfo = KeyInfo(e.scan, e.keyUp);
  return facts.console;
}

struct Translation {
  std::uint8_t kind;
  std::uint8_t ch;
};

// deadKeyPending while a composition through the composition table stands
// at a state: the state with this bit, so that it is never 0.
constexpr std::int32_t kComposingBit = 0x40000000;

// What deadKeyPending becomes after the key `t` of a layout that composes
// through the composition table.
[[gnu::noinline]] std::int32_t ComposingAfter(const Region& region, std::int32_t pending, Translation t, int setLayout) {
  const bool deadKey = t.kind == kKindDeadKey;
  // A macro or a key press ends a composition, as delivery ends it.
  if (!deadKey && (t.kind != kKindChar || (pending & kComposingBit) == 0)) return 0;
  const std::uint32_t state = (pending & kComposingBit) != 0 ? static_cast<std::uint32_t>(pending & ~kComposingBit) : 0;
  const char32_t input = InputOfByte(region.layoutRecords()[setLayout], region.macros(), t.ch);
  const ComposeStep step = region.compositions().Walk(state, input, deadKey);
  return step.kind == ComposeStep::kState ? kComposingBit | static_cast<std::int32_t>(step.state) : 0;
}

// Queues a translated key-down unless the system would type the same
// character itself. Returns whether the key is swallowed.
// `c` is what a plain character's byte stands for in the layout's set.
bool QueueTranslation(const Region& region, const KeyEvent& e, Translation t, char32_t c, std::uint16_t activeMods,
                      int setLayout) {
  ControlBlock& cb = region.control();
  const LayoutRecord& layout = region.currentLayoutRecord();
  const bool useSys = TestBit(layout.flags, kLayoutFlagCharThenLeft) != 0;
  // While a composition through the composition table is under way,
  // deadKeyPending holds where it stands (delivery walks the same keys in
  // the same order), so that every key of it is the layout's.
  // Only a dead key or a key in the middle of one asks.
  const bool composing = (t.kind == kKindDeadKey || (cb.deadKeyPending & kComposingBit) != 0) && setLayout >= 0 &&
                         ComposesThroughTable(region.layoutRecords()[setLayout]);
  const std::int32_t pendingAfter = composing ? ComposingAfter(region, cb.deadKeyPending, t, setLayout) : 0;
  if (t.kind == kKindDeadKey) cb.deadKeyPending = composing ? pendingAfter : 1;
  bool sysFlag = false;
  if (t.kind == kKindChar) {
    sysFlag = (layout.charBitmap[t.ch / 8] >> (t.ch % 8)) & 1;
    std::uint8_t* state = region.queues().keyState;
    platform::GetKeyboardState(state);
    // With Alt held without Ctrl the system would make it a WM_SYSCHAR, which
    // types nothing: then the library delivers the character itself.
    const bool altOnly = (cb.modifiers & kAltMask) != 0 && (cb.modifiers & kCtrlMask) == 0;
    if (cb.deadKeyPending == 0 && !TestBit(cb.modifiers, kModCapsHeld) && !useSys && !altOnly &&
        SystemTypesTheSame(region, e, state, t.ch, c, setLayout)) {
      return false;
    }
  }
  std::uint8_t kind = t.kind;
  if (useSys && sysFlag && t.kind == kKindChar) {
    kind = kKindCharThenLeft;
  } else if ((activeMods & kAltMask) && t.kind == kKindChar) {
    kind = kKindOneCharMacro;
  }
  // A full queue must not lose keys: the key then goes its normal way.
  if (!PushKeyResult(region, WithCharSet(MakeResult(e.scan, kind, t.ch), setLayout))) return false;
  if (t.kind != kKindDeadKey) cb.deadKeyPending = pendingAfter;
  return true;
}

// The Menu key's release opens the window's context menu: not when its
// press was the layout's (a compose key, say). Returns whether the key is a
// release to swallow; the context menu that the system may post for it all
// the same is dropped by the message hook.
[[gnu::noinline]] bool MenuKeyTaken(const Region& region, const KeyEvent& e, bool queued, int code) {
  std::uint16_t& menu = region.queues().menuKeyTaken;
  if (e.scan != kScanApps) {
    if (menu == kMenuKeyReleaseTaken && !e.keyUp) menu = 0;  // no context menu came of it
    return false;
  }
  if (!e.keyUp) {
    menu = queued ? kMenuKeyPressTaken : 0;
    return false;
  }
  if (menu == 0) return false;
  if (code == kHcAction) menu = kMenuKeyReleaseTaken;
  return true;
}

// What a stage decided for the key: whether a later stage decides, or what
// the hook answers the system (bit 0: swallowed), with or without calling
// the next hook first (bit 1).
enum class Verdict : std::uint8_t {
  kLetThrough = 0,
  kSwallow = 1,
  kChainAndLetThrough = 2,
  kChainAndSwallow = 3,
  kNextStage = 4,
};

// What the stages know of one key on its way besides the key event.
struct Keystroke {
  int code;
  platform::LParam lParam;
  bool console = false;
  int result = 0;  // 1 once a stage has decided to swallow the key
};

// The controller's hooks see the input of threads of the other architecture
// too: their keys are that architecture's library's business.
// Only in the installing thread is the foreground window worth asking for:
// there it is asked on every key, as the keys of other threads come without
// any focus event in this one.
Verdict ForAnotherThread() {
  if (!InHookThread()) return Verdict::kNextStage;
  const platform::Handle foreground = platform::GetForegroundWindow();
  if (FocusFactsOfThisProcess().foreground != foreground) ForgetFocusFacts();
  return CalledForAnotherThread(foreground) ? Verdict::kChainAndLetThrough : Verdict::kNextStage;
}

// The markers around a macro's keys, and the modifiers and Scroll Lock
// presses the library sends itself.
Verdict KeysOfTheLibrary(const Region& region, const KeyEvent& e) {
  ControlBlock& cb = region.control();
  cb.swallowedScan = 0;
  if (TakeMarker(region, e)) {
    // The wait is over: what follows the marker goes out now, in this
    // thread, rather than at the next tick.
    if (e.vk == kMarkPlainStart) DeliverPending(region);
    return Verdict::kSwallow;
  }
  if (cb.countHeld != 0 && e.keyUp && (!e.prevDown || ReleasedBeforePressedAgain(cb, e))) {
    CountReleasedModifier(region, e.scan);
  }
  if (cb.passThrough != 0 && SentByTheLibrary(cb, e)) {
    // Keys synthesized around a macro change the key state but reach no window.
    NotifyClients(region);
    return Verdict::kChainAndSwallow;
  }
  return Verdict::kNextStage;
}

// The picture of the keyboard: lights, a macro's own keys, the focus, the
// modifiers and the hotkeys.
Verdict FollowTheKeyboard(const Region& region, KeyEvent& e, Keystroke& k) {
  ControlBlock& cb = region.control();
  TrackLockKeys(region, e);
  if (ScrollLockLightToPutBack(region, e)) PutScrollLockLightBack(region);
  if (region.queues().ownKeys != 0) {
    // A macro's own key passes untranslated; the modifiers still follow it,
    // so that the macro presses again only what is held. A key the user
    // typed meanwhile is translated as if it came after the macro.
    if (MacroKeyMeetsTheUsersAlt(region, e, k.lParam)) return Verdict::kSwallow;
    const int bit = ModifierBitOf(e.scan);
    if (bit >= 0) SetBit(&cb.modifiers, static_cast<std::uint8_t>(bit), e.keyUp ? 0 : 1);
    NotePressedSinceSweep(region, bit, e.keyUp);
    e.scan = 0;
  }
  k.console = RecordFocus(region, e);
  cb.keyIsModifier = IsModifierKey(e.scan);
  if (k.console && e.keyUp && k.code == kHcAction) {
    // Consoles are left alone, but a modifier let go there is no longer held:
    // a macro played later must not press it again. Nor is a hotkey's key:
    // its repeats elsewhere are no longer the hotkey's.
    const int bit = ModifierBitOf(e.scan);
    if (bit >= 0) SetBit(&cb.modifiers, static_cast<std::uint8_t>(bit), 0);
    ForgetHotkeyPress(region, e.scan);
  }
  if (k.code == kHcAction && !k.console) k.result = KeyStep(region, e.scan, e.prevDown, e.keyUp);
  return Verdict::kNextStage;
}

// Translation off, a code the hook only passes on, a console, or a macro's
// own key: the key goes its way, unless what was typed before it is still on
// its way.
Verdict WithoutTranslation(const Region& region, const KeyEvent& e, const Keystroke& k) {
  const ControlBlock& cb = region.control();
  if (cb.enabled != 0 && k.code >= 0 && !k.console && e.scan != 0) return Verdict::kNextStage;
  const bool taken = k.code == kHcAction && !k.console;
  // Turned off while what was typed before is still on its way: the keys
  // after it wait behind it all the same.
  const bool heldWhileOff = cb.enabled == 0 && taken && e.scan != 0 && k.result == 0 && HoldBack(region, e) >= 0;
  if (taken) NotifyClients(region);
  if (heldWhileOff) return Verdict::kSwallow;
  return k.result != 0 ? Verdict::kChainAndSwallow : Verdict::kChainAndLetThrough;
}

// The layout's answer for the key: queued for the message-retrieval hook,
// left to the system, or held back behind output still on its way.
Verdict Translate(const Region& region, const KeyEvent& e, const Keystroke& k) {
  ControlBlock& cb = region.control();
  int result = k.result;
  CapsLockLayoutSwitch(region, e);
  const std::uint16_t activeMods = cb.modifiers & region.currentLayoutRecord().modMask;
  // The Alt release after an Alt translation would open the window's menu.
  const bool altLetGo =
      e.keyUp && (e.scan & 0xFF) == kScanAltLow && ((activeMods & kAltMask) || cb.numpadTranslated != 0);
  // Of a key-up, only one that is swallowed needs its translation.
  int r = e.keyUp && result != 1 && !altLetGo ? 0 : TranslateKey(region, e.scan);
  r = NumpadTranslation(region, e, r);
  Translation t{ResultKindOf(static_cast<std::uint32_t>(r)), ResultChar(static_cast<std::uint32_t>(r))};
  ++cb.keysLookedUp;
  const int setLayout = t.ch != 0 ? CharSetLayout(region, cb.currentLayout) : -1;
  // A plain character below 32 (or, in a character set, a byte that stands
  // for none) is never typed.
  char32_t c = 0;
  if (t.kind == kKindChar && t.ch != 0) {
    if (setLayout >= 0) c = CharOf(region, setLayout, t.ch);
    if (setLayout < 0 ? t.ch < 32 : c < 32) t.ch = 0;
  }
  if (t.kind == kKindMacro && region.macros().entries[t.ch].length == 0) t.ch = 0;

  // Ctrl and Alt combinations that translate to nothing go nowhere.
  if (!e.keyUp && t.ch == 0 && cb.keyIsModifier == 0 && (activeMods & (kAltMask | kCtrlMask))) result = 1;
  if (altLetGo) {
    cb.modifiers &= static_cast<std::uint16_t>(~kAltMask);
    t.ch = 0;
    cb.numpadTranslated = 0;
    result = 1;
  }
  if (!e.keyUp && e.scan == kScanApps &&
      TestBit(region.currentLayoutRecord().modMask, kLayoutMaskAppsKeyEats)) {
    result = 1;
  }
  ++cb.keysToQueue;
  const bool queued = !e.keyUp && t.ch != 0 && QueueTranslation(region, e, t, c, activeMods, setLayout);
  if (queued) result = 1;
  if (e.scan == kScanApps || region.queues().menuKeyTaken != 0) {
    // Only layouts with a character set: the others keep the system's Menu key release.
    if (MenuKeyTaken(region, e, queued && setLayout >= 0, k.code)) result = 1;
  }
  // Held back only as the key is taken: a key only peeked at comes again.
  const int held = result == 0 && k.code == kHcAction ? HoldBack(region, e) : -1;
  const bool altCombination =
      result == 0 && held < 0 && k.code == kHcAction && TypedWhileAMacroLetGoOfAlt(region, e, k.lParam);
  if (held >= 0 || altCombination) result = 1;
  if (result == 1) {
    // A key press the library posts must not be taken for the swallowed one.
    const bool posted = t.kind == kKindKeyPress || held == kKindKeyPress || held == kKindKeyRelease;
    if (!posted) cb.swallowedScan = e.scan;
    PostKeyNotice(region);
    cb.lastKeyInfo = 0;
  }
  ++cb.keysDecided;
  // On this road the next hook is not called, whether the key is swallowed or not.
  return result == 1 ? Verdict::kSwallow : Verdict::kLetThrough;
}

}  // namespace

platform::LParam KeyboardHookProc(int code, platform::WParam wParam, platform::LParam lParam) {
  const Region& region = TheRegion();
  if (!region.valid()) return platform::CallNextHook(0, code, wParam, lParam);
  KeyEvent e = Decode(wParam, lParam);
  Keystroke k{code, lParam};
  Verdict v = ForAnotherThread();
  if (v == Verdict::kNextStage) v = KeysOfTheLibrary(region, e);
  if (v == Verdict::kNextStage) v = FollowTheKeyboard(region, e, k);
  if (v == Verdict::kNextStage) v = WithoutTranslation(region, e, k);
  if (v == Verdict::kNextStage) v = Translate(region, e, k);
  const auto answer = static_cast<std::uint8_t>(v);
  if ((answer & 2) != 0) platform::CallNextHook(region.control().keyboardHook, code, wParam, lParam);
  WakeTimerIfNeeded(region);
  return answer & 1;
}

}  // namespace velto
