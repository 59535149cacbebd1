// The one seam between the engine and the operating system.
//
// Every call the library makes to Windows goes through these functions, in the
// engine's own terms: window, hook, timer and keyboard-layout handles are plain
// 32-bit values (Windows keeps them within 32 bits so that 32- and 64-bit
// processes can share them through the region), messages are numbers and
// pointer-sized parameters. The back ends implement it: src/win32 with USER32
// and KERNEL32, tools/sim with a simulated input system for the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto::platform {

using Handle = std::uint32_t;  // HWND, HHOOK, HKL, timer id: 0 is "none"
using WParam = std::uintptr_t;
using LParam = std::intptr_t;

// --- Named shared memory ---------------------------------------------------

struct SharedMapping {
  void* view = nullptr;          // null when the mapping could not be made
  std::uintptr_t handle = 0;     // the mapping object, for CloseSharedMemory
};

// Creates the named mapping zero-filled, or opens it when it already exists,
// and maps all of it read-write.
SharedMapping OpenSharedMemory(const char* name, std::size_t size);
void CloseSharedMemory(const SharedMapping& mapping, std::size_t size);

// --- Keyboard state and synthesized input -----------------------------------

std::int16_t GetKeyState(int vk);
std::int16_t GetAsyncKeyState(int vk);
bool GetKeyboardState(std::uint8_t state[256]);
// keybd_event: the event enters the input stream; the call returns at once.
void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags);

constexpr std::uint32_t kKeyEventExtendedKey = 1;
constexpr std::uint32_t kKeyEventKeyUp = 2;

// --- Keyboard layouts --------------------------------------------------------

Handle GetKeyboardLayout(std::uint32_t threadId);
int ToAsciiEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256],
              std::uint16_t* out, std::uint32_t flags, Handle layout);
std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t mapType);
std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t mapType, Handle layout);
std::int16_t VkKeyScanEx(char ch, Handle layout);
// The Unicode forms: ToUnicodeEx writes up to `size` UTF-16 units.
int ToUnicodeEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256], char16_t* out,
                int size, std::uint32_t flags, Handle layout);
std::int16_t VkKeyScanExW(char16_t ch, Handle layout);

// --- Windows and messages ----------------------------------------------------

// The messages the engine posts, watches or replaces.
constexpr std::uint32_t kWmNull = 0x0000;
constexpr std::uint32_t kWmContextMenu = 0x007B;
constexpr std::uint32_t kWmKeyDown = 0x0100;
constexpr std::uint32_t kWmKeyUp = 0x0101;
constexpr std::uint32_t kWmChar = 0x0102;
constexpr std::uint32_t kWmSysKeyDown = 0x0104;
constexpr std::uint32_t kWmSysKeyUp = 0x0105;
constexpr std::uint32_t kWmSysChar = 0x0106;
constexpr std::uint32_t kWmKeyLast = 0x0108;
constexpr std::uint32_t kWmSysCommand = 0x0112;
constexpr std::uint32_t kWmTimer = 0x0113;
constexpr std::uint32_t kWmHotkey = 0x0312;

Handle GetFocus();
Handle GetForegroundWindow();
// The calling thread's id, and the id of the thread that owns a window (0
// when there is no such window).
std::uint32_t GetCurrentThreadId();
std::uint32_t GetWindowThreadId(Handle window);
// Copies the class name, NUL-terminated, into buf; returns its length (0 on failure).
int GetClassName(Handle window, char* buf, int size);
// A window of 0 posts to the calling thread's own queue.
bool PostMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam);
// PostMessageW: a WM_CHAR so posted carries a UTF-16 unit, which the system
// converts for a window that takes ANSI messages.
bool PostUnicodeMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam);
std::uint32_t RegisterWindowMessage(const char* name);

// The MSG that a WH_GETMESSAGE hook receives through its lParam.
struct MessageFields {
  Handle window;
  std::uint32_t message;
  WParam wParam;
  LParam lParam;
};
MessageFields ReadHookedMessage(LParam msg);
void ReplaceHookedMessage(LParam msg, std::uint32_t message);

// --- Hooks, timer, sleep -----------------------------------------------------

enum class HookKind { Keyboard, GetMessage, Cbt };

// Installs the library's own procedure of that kind for all threads, or for
// the one thread given (the back end owns the thin procedure that hands
// the call to the engine). The hooks for a thread run before those for all.
// Returns 0 on failure.
Handle InstallHook(HookKind kind, std::uint32_t thread = 0);
bool RemoveHook(Handle hook);
LParam CallNextHook(Handle hook, int code, WParam wParam, LParam lParam);

// A thread timer in the calling thread that runs the engine's timer procedure.
Handle StartTimer(std::uint32_t milliseconds);
bool StopTimer(Handle timerId);

void Sleep(std::uint32_t milliseconds);

// --- The other architecture's processes -------------------------------------

// Whether the process that owns `window` is of the calling process's
// architecture (32-bit or 64-bit).
bool OfThisArchitecture(Handle window);
// When a thread began, in the system's units; 0 when there is no such thread.
// Tells a thread from a later one that got the same id.
std::uint64_t ThreadStartTime(std::uint32_t thread);
// While on, the engine's FocusMoved (control/exports.h) runs in the calling
// thread, which must take messages, whenever the keyboard focus moves to a
// window of any process. Returns false if that cannot be watched.
bool WatchFocus(bool on);

}  // namespace velto::platform
