// The seam of platform.h on the simulated system.
//
// All of platform.h is defined in this one object, together with the state
// that every other object of the simulation uses. A static link that pulls in
// any part of the simulation therefore gets the whole seam, which the engine's
// archive, coming later on the link line, needs.
#include <algorithm>
#include <cstring>

#include "hooks/procs.h"
#include "control/exports.h"
#include "sim/state.h"
#include "sim/us_layout.h"

namespace velto::sim::detail {

System::System() { threads.emplace(0, Thread{}); }

System& Sys() {
  static System system;
  return system;
}

Kept& KeptState() {
  static Kept kept;
  return kept;
}

Handle NewHandle() { return Sys().nextHandle++; }

}  // namespace velto::sim::detail

namespace velto::platform {

namespace detail = sim::detail;
using detail::Sys;

// --- Named shared memory ---------------------------------------------------

SharedMapping OpenSharedMemory(const char* name, std::size_t size) {
  return detail::OpenShm(name, size);
}

void CloseSharedMemory(const SharedMapping& mapping, std::size_t size) {
  detail::CloseShm(mapping, size);
}

// --- Keyboard state and synthesized input -----------------------------------

std::int16_t GetKeyState(int vk) {
  const std::uint8_t v = detail::CurrentKeys()[static_cast<std::uint8_t>(vk)];
  return static_cast<std::int16_t>(((v & 0x80) ? 0xFF80 : 0) | (v & 1));
}

std::int16_t GetAsyncKeyState(int vk) {
  return detail::IsDown(Sys().asyncKeys, static_cast<std::uint8_t>(vk))
             ? static_cast<std::int16_t>(0x8000)
             : std::int16_t{0};
}

bool GetKeyboardState(std::uint8_t state[256]) {
  std::memcpy(state, detail::CurrentKeys().data(), 256);
  return true;
}

void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  Sys().keyEvents.push_back({vk, scan, flags});
  const auto extended = static_cast<std::uint16_t>((flags & kKeyEventExtendedKey) ? 0x100 : 0);
  const bool up = (flags & kKeyEventKeyUp) != 0;
  Sys().stream.push_back({vk, static_cast<std::uint16_t>(scan | extended), up, false});
  if (const auto handler = Sys().onKeyEvent) handler(Sys().keyEvents.back());
}

// --- Keyboard layouts --------------------------------------------------------

Handle GetKeyboardLayout(std::uint32_t) { return sim::kUsLayoutHandle; }

int ToAsciiEx(std::uint32_t vk, std::uint32_t, const std::uint8_t state[256], std::uint16_t* out,
              std::uint32_t, Handle) {
  const bool shift = (state[kVkShift] & 0x80) != 0;
  const bool ctrl = (state[kVkControl] & 0x80) != 0 && (state[kVkMenu] & 0x80) == 0;
  const bool caps = (state[kVkCapital] & 1) != 0;
  const char ch = sim::UsCharOf(static_cast<std::uint8_t>(vk), shift, ctrl, caps);
  if (ch == 0) return 0;
  *out = static_cast<std::uint8_t>(ch);
  return 1;
}

std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t mapType) {
  return MapVirtualKeyEx(code, mapType, sim::kUsLayoutHandle);
}

std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t mapType, Handle) {
  if (mapType != 0 || code > 0xFF) return 0;
  const sim::UsKey* key = sim::UsKeyByVk(static_cast<std::uint8_t>(code));
  return key == nullptr ? 0 : (key->scan & 0xFF);
}

std::int16_t VkKeyScanEx(char ch, Handle) { return sim::UsVkKeyScan(ch); }

// The US layout types only ASCII, so its Unicode answers are its ANSI ones.
int ToUnicodeEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256], char16_t* out, int size,
                std::uint32_t flags, Handle layout) {
  std::uint16_t ch = 0;
  if (size < 1 || ToAsciiEx(vk, scan, state, &ch, flags, layout) != 1) return 0;
  *out = ch;
  return 1;
}

std::int16_t VkKeyScanExW(char16_t ch, Handle layout) {
  return ch < 0x80 ? VkKeyScanEx(static_cast<char>(ch), layout) : -1;
}

// --- Windows and messages ----------------------------------------------------

Handle GetFocus() {
  const Handle focus = Sys().focus;
  return focus != 0 && sim::ThreadOf(focus) == Sys().current ? focus : 0;
}

Handle GetForegroundWindow() { return Sys().foreground; }

std::uint32_t GetCurrentThreadId() { return Sys().current; }

std::uint32_t GetWindowThreadId(Handle window) { return window == 0 ? 0 : sim::ThreadOf(window); }

int GetClassName(Handle window, char* buf, int size) {
  if (buf == nullptr || size <= 0) return 0;
  buf[0] = '\0';
  const auto it = Sys().windows.find(window);
  if (it == Sys().windows.end()) return 0;
  const std::string& name = it->second.className;
  const std::size_t length = std::min(name.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buf, name.data(), length);
  buf[length] = '\0';
  return static_cast<int>(length);
}

bool PostMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return detail::PostFromCurrent(window, message, wParam, lParam);
}

bool PostUnicodeMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return detail::PostFromCurrent(window, message, wParam, lParam, true);
}

std::uint32_t RegisterWindowMessage(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  auto& names = detail::KeptState().registeredMessages;
  const auto number = static_cast<std::uint32_t>(0xC000 + names.size());
  if (!names.contains(name) && number > 0xFFFF) return 0;
  return names.try_emplace(name, number).first->second;
}

MessageFields ReadHookedMessage(LParam msg) {
  const auto* m = reinterpret_cast<const sim::Message*>(msg);
  if (m == nullptr) return {0, 0, 0, 0};
  return {m->window, m->message, m->wParam, m->lParam};
}

void ReplaceHookedMessage(LParam msg, std::uint32_t message) {
  auto* m = reinterpret_cast<sim::Message*>(msg);
  if (m != nullptr) m->message = message;
}

// --- Hooks, timer, sleep -----------------------------------------------------

Handle InstallHook(HookKind kind, std::uint32_t thread) {
  if (thread != 0 && detail::FindThread(thread) == nullptr) return 0;
  switch (kind) {
    case HookKind::Keyboard: return detail::AddHook(sim::kKeyboard, velto::KeyboardHookProc, true, thread);
    case HookKind::GetMessage: return detail::AddHook(sim::kGetMessage, velto::GetMessageHookProc, true, thread);
    case HookKind::Cbt: return detail::AddHook(sim::kCbt, velto::CbtHookProc, true, thread);
  }
  return 0;
}

bool RemoveHook(Handle hook) { return detail::DropHook(hook); }

LParam CallNextHook(Handle hook, int code, WParam wParam, LParam lParam) {
  return detail::CallAfter(hook, code, wParam, lParam);
}

Handle StartTimer(std::uint32_t milliseconds) { return detail::AddTimer(milliseconds); }

bool StopTimer(Handle timerId) { return detail::DropTimer(timerId); }

bool OfThisArchitecture(Handle window) {
  const detail::Thread* owner = detail::FindThread(sim::ThreadOf(window));
  const detail::Thread* self = detail::FindThread(Sys().current);
  return owner != nullptr && self != nullptr && owner->otherArchitecture == self->otherArchitecture;
}

// Handles are never used twice here: a thread's own serves as its start.
std::uint64_t ThreadStartTime(std::uint32_t thread) {
  return thread != 0 && detail::FindThread(thread) != nullptr ? thread : 0;
}

bool WatchFocus(bool on) {
  Sys().focusWatcher = on ? Sys().current : 0;
  return true;
}

// Returns at once; a test's handler decides what happens meanwhile.
void Sleep(std::uint32_t milliseconds) {
  const auto handler = Sys().onSleep;  // a copy: the handler may replace itself
  if (handler) handler(milliseconds);
}

}  // namespace velto::platform
