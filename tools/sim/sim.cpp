// Threads, windows, focus and message queues of the simulated system.
#include "control/exports.h"
#include "sim/state.h"
#include "sim/us_layout.h"
#include "shared/charset.h"

namespace velto::sim {

namespace detail {

Thread* FindThread(Handle thread) {
  const auto it = Sys().threads.find(thread);
  return it == Sys().threads.end() ? nullptr : &it->second;
}

Thread* FocusThread() {
  const Handle focus = Sys().focus;
  return focus == 0 ? nullptr : FindThread(ThreadOf(focus));
}

ThreadScope::ThreadScope(Handle thread) : saved_(Sys().current) { Sys().current = thread; }
ThreadScope::~ThreadScope() { Sys().current = saved_; }

bool PostToThread(Handle thread, const Message& msg) {
  Thread* target = FindThread(thread);
  if (target == nullptr) return false;
  target->posted.push_back(msg);
  return true;
}

bool PostFromCurrent(Handle window, std::uint32_t message, WParam wParam, LParam lParam, bool unicode) {
  if (window == 0) return PostToThread(Sys().current, {0, message, wParam, lParam, unicode});
  const Handle thread = ThreadOf(window);
  return thread != 0 && PostToThread(thread, {window, message, wParam, lParam, unicode});
}

Message Retrieve(Handle thread, Message msg) {
  RunChain(kGetMessage, thread, kHcAction, kPmRemove, reinterpret_cast<LParam>(&msg));
  return msg;
}

void RecordDispatch(Handle thread, const Message& msg) {
  if (Thread* t = FindThread(thread)) t->dispatched.push_back(msg);
}

namespace {

// TranslateMessage: a key press that types a character by the US layout
// posts WM_CHAR (WM_SYSCHAR for a system key) to the same window.
void Translate(Handle thread, const Message& msg) {
  if (msg.message != kWmKeyDown && msg.message != kWmSysKeyDown) return;
  const Thread* t = FindThread(thread);
  if (t == nullptr) return;
  const KeyState& keys = t->keys;
  const bool ctrl = IsDown(keys, kVkControl) && !IsDown(keys, kVkMenu);
  const char ch = UsCharOf(static_cast<std::uint8_t>(msg.wParam), IsDown(keys, kVkShift), ctrl,
                           (keys[kVkCapital] & 1) != 0);
  if (ch == 0) return;
  const std::uint32_t charMessage = msg.message == kWmKeyDown ? kWmChar : kWmSysChar;
  PostToThread(thread, {msg.window, charMessage, static_cast<unsigned char>(ch), msg.lParam, false, msg.fromInput});
}

}  // namespace

void Deliver(Handle thread, const Message& msg) {
  const Message retrieved = Retrieve(thread, msg);
  Translate(thread, retrieved);
  RecordDispatch(thread, retrieved);
}

bool RetrievePosted() { return TakeFromFirstThread(&Thread::posted, Deliver); }

}  // namespace detail

using detail::Sys;

void Reset() { Sys() = detail::System{}; }

// --- Threads and windows -------------------------------------------------------

Handle CreateThread() {
  const Handle thread = detail::NewHandle();
  Sys().threads.emplace(thread, detail::Thread{Sys().defaultKeys, {}, {}, {}});
  return thread;
}

Handle CreateOtherArchitectureThread() {
  const Handle thread = CreateThread();
  detail::FindThread(thread)->otherArchitecture = true;
  return thread;
}

void EndChainAtOtherArchitecture(bool wine) { Sys().wineChains = wine; }

Handle CreateWindow(Handle thread, const std::string& className) {
  if (thread == 0 || detail::FindThread(thread) == nullptr) return 0;
  const Handle window = detail::NewHandle();
  Sys().windows.emplace(window, detail::Window{thread, className});
  return window;
}

void DestroyWindow(Handle window) {
  const Handle thread = ThreadOf(window);
  if (thread == 0) return;
  detail::RunChain(kCbt, thread, detail::kHcbtDestroyWnd, window, 0);
  Sys().windows.erase(window);
  if (Sys().focus == window) Sys().focus = 0;
  if (Sys().foreground == window) Sys().foreground = 0;
  detail::Thread& t = *detail::FindThread(thread);
  std::erase_if(t.posted, [window](const Message& m) { return m.window == window; });
  std::erase_if(t.input, [window](const detail::InputMessage& m) { return m.msg.window == window; });
}

Handle ThreadOf(Handle window) {
  const auto it = Sys().windows.find(window);
  return it == Sys().windows.end() ? 0 : it->second.thread;
}

void RunAs(Handle thread) { Sys().current = thread; }
Handle CurrentThread() { return Sys().current; }

// --- Focus -----------------------------------------------------------------------

void SetFocus(Handle window) {
  const Handle old = Sys().focus;
  const Handle thread = ThreadOf(window == 0 ? old : window);
  if (window != 0 && thread == 0) return;  // no such window
  if (window != old &&
      detail::RunChain(kCbt, thread, detail::kHcbtSetFocus, window, static_cast<LParam>(old)) == 0) {
    Sys().focus = window;
    if (window != 0) Sys().foreground = window;
    // Focus events reach a watcher out of context, in its own thread.
    if (window != 0 && Sys().focusWatcher != 0 && detail::FindThread(Sys().focusWatcher) != nullptr) {
      detail::ThreadScope scope(Sys().focusWatcher);
      velto::FocusMoved(window);
    }
  }
  Pump();
}

Handle Focus() { return Sys().focus; }

// --- Messages and records ----------------------------------------------------------

const std::vector<KeyEventCall>& KeyEvents() { return Sys().keyEvents; }
void ClearKeyEvents() { Sys().keyEvents.clear(); }
void OnKeyEvent(std::function<void(const KeyEventCall&)> handler) { Sys().onKeyEvent = std::move(handler); }

void Post(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  detail::PostFromCurrent(window, message, wParam, lParam);
}

const std::vector<Message>& Dispatched(Handle thread) {
  static const std::vector<Message> kNone;
  const detail::Thread* t = detail::FindThread(thread);
  return t == nullptr ? kNone : t->dispatched;
}

std::vector<Message> DispatchedTo(Handle window) {
  std::vector<Message> out;
  for (const auto& [handle, thread] : Sys().threads) {
    for (const Message& msg : thread.dispatched) {
      if (msg.window == window) out.push_back(msg);
    }
  }
  return out;
}

std::string CharsOf(Handle window) {
  std::string chars;
  char16_t high = 0;  // a high half waiting for its low half
  for (const Message& msg : DispatchedTo(window)) {
    if (msg.message != kWmChar) continue;
    const auto unit = static_cast<char16_t>(msg.wParam);
    const bool low = msg.unicode && unit >= 0xDC00 && unit <= 0xDFFF;
    if (high != 0 && !low) AppendUtf8(chars, 0xFFFD);
    if (!msg.unicode) {
      chars.push_back(static_cast<char>(msg.wParam));
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
      high = unit;
      continue;
    } else if (low) {
      AppendUtf8(chars, high != 0 ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD);
    } else {
      AppendUtf8(chars, unit);
    }
    high = 0;
  }
  if (high != 0) AppendUtf8(chars, 0xFFFD);
  return chars;
}

void ClearDispatched() {
  for (auto& [handle, thread] : Sys().threads) thread.dispatched.clear();
}

std::uint32_t RegisteredMessage(const std::string& name) {
  const auto& names = detail::KeptState().registeredMessages;
  const auto it = names.find(name);
  return it == names.end() ? 0 : it->second;
}

}  // namespace velto::sim
