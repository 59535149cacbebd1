// The system input stream, the keyboard messages made from it, and the loops
// that let every thread retrieve its messages: Pump's fixed order and the
// Scheduler's random one.
#include <cstdio>
#include <cstdlib>

#include "sim/state.h"
#include "sim/us_layout.h"

namespace velto::sim {

namespace detail {

namespace {

constexpr std::uint8_t kVkF10 = 0x79;
constexpr std::uint16_t kScanLeftCtrl = 0x1D;
constexpr std::uint16_t kScanLeftShift = 0x2A;

// A loop this long means hooks keep feeding each other; a test should fail
// loudly rather than hang.
constexpr long kMaxPumpSteps = 1L << 20;

std::uint32_t KeyMessage(std::uint8_t vk, bool up) {
  const KeyState& keys = Sys().asyncKeys;
  const bool altWithoutCtrl = IsDown(keys, kVkMenu) && !IsDown(keys, kVkControl);
  if (altWithoutCtrl || vk == kVkF10 || vk == kVkMenu) return up ? kWmSysKeyUp : kWmSysKeyDown;
  return up ? kWmKeyUp : kWmKeyDown;
}

LParam KeyLParam(std::uint16_t scan, bool alt, bool prevDown, bool up) {
  std::uint32_t bits = 1 | (scan & 0xFFu) << 16;
  if (scan & 0x100) bits |= 1u << 24;
  if (alt) bits |= 1u << 29;
  // A key-up always says "was down", even for a key that was already up: so
  // Windows documents it, and so Wine sends it.
  if (prevDown || up) bits |= 1u << 30;
  if (up) bits |= 1u << 31;
  return static_cast<LParam>(bits);  // zero-extended, as 64-bit Windows passes it
}

// Hardware events get their virtual key when the system takes them, so that
// the keypad follows the Num Lock state of that moment.
std::uint8_t VirtualKeyOf(const KeyEvent& event) {
  if (!event.hardware) return event.vk;
  return UsVkOfScan(event.scan, (Sys().asyncKeys[kVkNumLock] & 1) != 0);
}

// The system takes the next event from the stream: the asynchronous state
// moves and the key message joins the focus thread's input queue (lost when
// no window has the focus). False when the stream is empty.
bool TakeEvent() {
  System& sys = Sys();
  if (sys.stream.empty()) return false;
  const KeyEvent event = sys.stream.front();
  sys.stream.pop_front();
  const KeySides sides = SidesOf(VirtualKeyOf(event), event.scan);
  const bool prevDown = ApplyKey(sys.asyncKeys, sides, event.up);
  const LParam lParam = KeyLParam(event.scan, IsDown(sys.asyncKeys, kVkMenu), prevDown, event.up);
  const Message msg{sys.focus, KeyMessage(sides.generic, event.up), sides.generic, lParam, false, true};
  if (Thread* thread = FocusThread()) thread->input.push_back({msg, sides.key, event.up});
  return true;
}

// The thread removes a key message: the WH_KEYBOARD chain may discard it;
// else the thread's key state follows it and the thread takes it.
void Receive(Handle thread, const InputMessage& in) {
  if (RunChain(kKeyboard, thread, kHcAction, in.msg.wParam, in.msg.lParam) != 0) return;
  if (Thread* t = FindThread(thread)) {
    ApplyKey(t->keys, {static_cast<std::uint8_t>(in.msg.wParam), in.key}, in.up);
  }
  Deliver(thread, in.msg);
}

bool RemoveInput() { return TakeFromFirstThread(&Thread::input, Receive); }

// The thread retrieves its next message: a posted one before input.
void RetrieveNext(Handle handle) {
  Thread& thread = *FindThread(handle);
  if (!thread.posted.empty()) {
    const Message msg = thread.posted.front();
    thread.posted.pop_front();
    Deliver(handle, msg);
  } else {
    const InputMessage in = thread.input.front();
    thread.input.pop_front();
    Receive(handle, in);
  }
}

bool Waiting(const Thread& thread) { return !thread.posted.empty() || !thread.input.empty(); }

void CountStep(long& steps, const char* who) {
  if (++steps > kMaxPumpSteps) {
    std::fprintf(stderr, "sim::%s: the input never runs dry; hooks keep feeding it\n", who);
    std::abort();
  }
}

void QueueHardwareKey(std::uint16_t scan, bool up) {
  Sys().stream.push_back({0, scan, up, true});
}

// Posted messages before input, input before the next event of the stream.
bool Step() { return RetrievePosted() || RemoveInput() || TakeEvent(); }

}  // namespace

}  // namespace detail

void KeyDown(std::uint16_t scan) { detail::QueueHardwareKey(scan, false); }
void KeyUp(std::uint16_t scan) { detail::QueueHardwareKey(scan, true); }

void Tap(std::uint16_t scan) {
  KeyDown(scan);
  KeyUp(scan);
  Pump();
}

void TypeUs(const std::string& text) {
  for (const char ch : text) {
    const std::int16_t code = UsVkKeyScan(ch);
    const UsKey* key = code == -1 ? nullptr : UsKeyByVk(static_cast<std::uint8_t>(code & 0xFF));
    if (key == nullptr) continue;
    const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    const bool shift = ((code & 0x100) != 0) != (letter && Toggled(kVkCapital));
    const bool ctrl = (code & 0x200) != 0;
    if (ctrl) KeyDown(detail::kScanLeftCtrl);
    if (shift) KeyDown(detail::kScanLeftShift);
    KeyDown(key->scan);
    KeyUp(key->scan);
    if (shift) KeyUp(detail::kScanLeftShift);
    if (ctrl) KeyUp(detail::kScanLeftCtrl);
    Pump();
  }
}

bool PeekInput() {
  detail::Thread* thread = detail::FocusThread();
  if (thread == nullptr) return false;
  while (thread->input.empty() && detail::TakeEvent()) continue;
  if (thread->input.empty()) return false;
  const Handle receiver = ThreadOf(Focus());
  const detail::InputMessage in = thread->input.front();
  if (detail::RunChain(kKeyboard, receiver, detail::kHcNoRemove, in.msg.wParam, in.msg.lParam) != 0) {
    detail::Thread* t = detail::FindThread(receiver);
    if (t != nullptr && !t->input.empty() && t->input.front().msg == in.msg) t->input.pop_front();
  }
  return true;
}

void Pump() {
  long steps = 0;
  while (detail::Step()) detail::CountStep(steps, "Pump");
}

bool Scheduler::Step() {
  using detail::Sys;
  enum Kind { kTake, kRetrieve, kTick };
  struct Choice {
    Kind kind;
    Handle handle;  // the thread that retrieves, or the timer that ticks
  };
  std::vector<Choice> choices;
  if (!Sys().stream.empty()) choices.push_back({kTake, 0});
  for (const auto& [handle, thread] : Sys().threads) {
    if (detail::Waiting(thread)) choices.push_back({kRetrieve, handle});
  }
  for (const auto& [timer, thread] : Sys().timers) {
    const detail::Thread* owner = detail::FindThread(thread);
    if (ticks_ > 0 && owner != nullptr && !detail::Waiting(*owner)) choices.push_back({kTick, timer});
  }
  if (choices.empty()) return false;
  const Choice choice = choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng_)];
  switch (choice.kind) {
    case kTake: detail::TakeEvent(); break;
    case kRetrieve: detail::RetrieveNext(choice.handle); break;
    case kTick:
      --ticks_;
      detail::Tick(choice.handle);
      break;
  }
  return true;
}

long Scheduler::Run(long limit) {
  long steps = 0;
  while ((limit < 0 || steps < limit) && Step()) detail::CountStep(steps, "Scheduler::Run");
  return steps;
}

}  // namespace velto::sim

namespace velto::sim {

std::size_t PendingInput() {
  std::size_t pending = detail::Sys().stream.size();
  for (const auto& [handle, thread] : detail::Sys().threads) pending += thread.input.size();
  return pending;
}

std::size_t PendingMessages() {
  std::size_t pending = 0;
  for (const auto& [handle, thread] : detail::Sys().threads) pending += thread.posted.size();
  return pending;
}

std::uint8_t HardwareKeyOf(std::uint16_t scan) {
  return detail::SidesOf(detail::VirtualKeyOf({0, scan, false, true}), scan).key;
}

}  // namespace velto::sim
