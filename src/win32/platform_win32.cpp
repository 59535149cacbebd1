// The seam of platform.h on USER32 and KERNEL32.
#include "control/exports.h"
#include "win32/win32.h"

namespace velto::platform {

using win32::Narrow;
using win32::Widen;

// --- Named shared memory ---------------------------------------------------

SharedMapping OpenSharedMemory(const char* name, std::size_t size) {
  // A pagefile-backed section comes zero-filled; when another process made it
  // first, CreateFileMappingA opens that one.
  HANDLE section = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), name);
  if (section == nullptr) return {};
  void* view = ::MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
  if (view == nullptr) {
    ::CloseHandle(section);
    return {};
  }
  SharedMapping mapping;
  mapping.view = view;
  mapping.handle = reinterpret_cast<std::uintptr_t>(section);
  return mapping;
}

void CloseSharedMemory(const SharedMapping& mapping, std::size_t) {
  if (mapping.view != nullptr) ::UnmapViewOfFile(mapping.view);
  if (mapping.handle != 0) ::CloseHandle(reinterpret_cast<HANDLE>(mapping.handle));
}

// --- Keyboard state and synthesized input -----------------------------------

std::int16_t GetKeyState(int vk) { return ::GetKeyState(vk); }

std::int16_t GetAsyncKeyState(int vk) { return ::GetAsyncKeyState(vk); }

bool GetKeyboardState(std::uint8_t state[256]) { return ::GetKeyboardState(state) != FALSE; }

void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  ::keybd_event(vk, scan, flags, 0);
}

// --- Keyboard layouts --------------------------------------------------------

Handle GetKeyboardLayout(std::uint32_t threadId) { return Narrow(::GetKeyboardLayout(threadId)); }

int ToAsciiEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256],
              std::uint16_t* out, std::uint32_t flags, Handle layout) {
  return ::ToAsciiEx(vk, scan, state, out, flags, Widen<HKL>(layout));
}

std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t mapType) {
  return ::MapVirtualKeyA(code, mapType);
}

std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t mapType, Handle layout) {
  return ::MapVirtualKeyExA(code, mapType, Widen<HKL>(layout));
}

std::int16_t VkKeyScanEx(char ch, Handle layout) { return ::VkKeyScanExA(ch, Widen<HKL>(layout)); }

int ToUnicodeEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256], char16_t* out, int size,
                std::uint32_t flags, Handle layout) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return ::ToUnicodeEx(vk, scan, state, reinterpret_cast<wchar_t*>(out), size, flags, Widen<HKL>(layout));
}

std::int16_t VkKeyScanExW(char16_t ch, Handle layout) {
  return ::VkKeyScanExW(static_cast<wchar_t>(ch), Widen<HKL>(layout));
}

// --- Windows and messages ----------------------------------------------------

Handle GetFocus() { return Narrow(::GetFocus()); }

Handle GetForegroundWindow() { return Narrow(::GetForegroundWindow()); }

std::uint32_t GetCurrentThreadId() { return ::GetCurrentThreadId(); }

std::uint32_t GetWindowThreadId(Handle window) {
  return window == 0 ? 0 : ::GetWindowThreadProcessId(Widen<HWND>(window), nullptr);
}

int GetClassName(Handle window, char* buf, int size) {
  if (buf == nullptr || size <= 0) return 0;
  buf[0] = '\0';
  const int length = ::GetClassNameA(Widen<HWND>(window), buf, size);
  if (length <= 0) {
    buf[0] = '\0';
    return 0;
  }
  return length;
}

bool PostMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return ::PostMessageA(Widen<HWND>(window), message, wParam, lParam) != FALSE;
}

bool PostUnicodeMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return ::PostMessageW(Widen<HWND>(window), message, wParam, lParam) != FALSE;
}

std::uint32_t RegisterWindowMessage(const char* name) { return ::RegisterWindowMessageA(name); }

MessageFields ReadHookedMessage(LParam msg) {
  const MSG* m = reinterpret_cast<const MSG*>(msg);
  if (m == nullptr) return {0, 0, 0, 0};
  return {Narrow(m->hwnd), m->message, m->wParam, m->lParam};
}

void ReplaceHookedMessage(LParam msg, std::uint32_t message) {
  MSG* m = reinterpret_cast<MSG*>(msg);
  if (m != nullptr) m->message = message;
}

// --- Hooks, timer, sleep -----------------------------------------------------

Handle InstallHook(HookKind kind, std::uint32_t thread) {
  int type = 0;
  HOOKPROC proc = nullptr;
  switch (kind) {
    case HookKind::Keyboard:
      type = WH_KEYBOARD;
      proc = win32::KeyboardHook;
      break;
    case HookKind::GetMessage:
      type = WH_GETMESSAGE;
      proc = win32::GetMessageHook;
      break;
    case HookKind::Cbt:
      type = WH_CBT;
      proc = win32::CbtHook;
      break;
  }
  if (proc == nullptr) return 0;
  return Narrow(::SetWindowsHookExA(type, proc, win32::ModuleInstance(), thread));
}

bool RemoveHook(Handle hook) { return ::UnhookWindowsHookEx(Widen<HHOOK>(hook)) != FALSE; }

LParam CallNextHook(Handle hook, int code, WParam wParam, LParam lParam) {
  return ::CallNextHookEx(Widen<HHOOK>(hook), code, wParam, lParam);
}

Handle StartTimer(std::uint32_t milliseconds) {
  return static_cast<Handle>(::SetTimer(nullptr, 0, milliseconds, win32::TimerTick));
}

bool StopTimer(Handle timerId) { return ::KillTimer(nullptr, timerId) != FALSE; }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// --- The other architecture's processes -------------------------------------

namespace {

bool IsWow64(HANDLE process) {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(process, &wow64) && wow64;
}

// Focus events from every process, and a poll of the foreground window
// besides, for a focus change whose event comes late or not at all.
constexpr UINT kFocusPollMs = 20;
HWINEVENTHOOK g_focusEvents = nullptr;
UINT_PTR g_focusPoll = 0;
HWND g_lastForeground = nullptr;

VOID CALLBACK OnFocusEvent(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  if (window != nullptr) velto::FocusMoved(Narrow(window));
}

VOID CALLBACK PollForeground(HWND, UINT, UINT_PTR, DWORD) {
  HWND foreground = ::GetForegroundWindow();
  if (foreground == nullptr || foreground == g_lastForeground) return;
  g_lastForeground = foreground;
  velto::FocusMoved(Narrow(foreground));
}

}  // namespace

bool OfThisArchitecture(Handle window) {
  DWORD pid = 0;
  if (window == 0 || ::GetWindowThreadProcessId(Widen<HWND>(window), &pid) == 0) return false;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return false;
  const bool same = IsWow64(process) == IsWow64(::GetCurrentProcess());
  ::CloseHandle(process);
  return same;
}

std::uint64_t ThreadStartTime(std::uint32_t thread) {
  HANDLE handle = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread);
  if (handle == nullptr) return 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool ok = ::GetThreadTimes(handle, &created, &exited, &kernel, &user) != FALSE;
  ::CloseHandle(handle);
  if (!ok) return 0;
  const std::uint64_t time = (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
  return time == 0 ? 1 : time;
}

bool WatchFocus(bool on) {
  if (g_focusEvents != nullptr) ::UnhookWinEvent(g_focusEvents);
  if (g_focusPoll != 0) ::KillTimer(nullptr, g_focusPoll);
  g_focusEvents = nullptr;
  g_focusPoll = 0;
  g_lastForeground = nullptr;
  if (!on) return true;
  g_focusEvents = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnFocusEvent, 0, 0,
                                    WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  g_focusPoll = ::SetTimer(nullptr, 0, kFocusPollMs, PollForeground);
  return g_focusEvents != nullptr || g_focusPoll != 0;
}

}  // namespace velto::platform
