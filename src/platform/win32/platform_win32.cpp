// The seam of platform.h on USER32 and KERNEL32.
#include "platform/win32/win32.h"

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

Handle InstallHook(HookKind kind) {
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
  return Narrow(::SetWindowsHookExA(type, proc, win32::ModuleInstance(), 0));
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

}  // namespace velto::platform
