// A simulated Windows input system, faithful to what the library expects of
// Windows, so that whole keystrokes can be tested on Linux. Tests drive it
// through this header; the engine reaches it only through platform.h.
//
// The model (see WIN32-INPUT.md beside the project):
// - Threads own message queues and windows; one window has the focus and
//   its thread receives the keyboard input. The code that runs "in" a thread
//   (hook procedures, the timer procedure, exports) sees that thread's
//   GetFocus, GetKeyboardLayout and PostMessage(NULL).
// - Key events (hardware ones from tests, synthesized ones from keybd_event)
//   enter one system input stream. keybd_event called from a hook only
//   queues the event: it is processed after the current hook has returned.
// - Taking an event from the stream updates the asynchronous key state and
//   turns it into WM_KEYDOWN/WM_KEYUP (WM_SYSKEY* while Alt is held without
//   Ctrl, and for F10) for the focus thread. When that thread removes it, the
//   WH_KEYBOARD chain runs with HC_ACTION; a non-zero result discards it.
//   Otherwise the thread's key state follows it, the WH_GETMESSAGE chain sees
//   it, TranslateMessage posts WM_CHAR (US layout) and it is dispatched.
// - Threads retrieve posted messages before input; WM_TIMER comes only when
//   a test ticks the timers, or its Scheduler grants ticks.
// - Pump() runs everything in one fixed order; a Scheduler runs it in an
//   order drawn at random, as threads that run side by side would.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velto::sim {

using platform::Handle;
using platform::LParam;
using platform::WParam;

// --- Shared memory -----------------------------------------------------------

// Names of shared memory objects get this prefix, so that tests running in
// parallel never share a region. Defaults to $VELTO_SIM_SHM_PREFIX, else
// "velto-sim-<pid>-".
void SetSharedMemoryPrefix(const std::string& prefix);
const std::string& SharedMemoryPrefix();
// Removes the named object of the current prefix (processes that map it keep
// their view).
void RemoveSharedMemory(const char* name);
// Makes OpenSharedMemory fail, as when the mapping cannot be created.
void FailSharedMemory(bool fail);

// --- The whole system ----------------------------------------------------------

// Forgets everything: threads, windows, hooks, timers, queues, key state,
// the sleep handler and the records below. Shared memory, FailSharedMemory and
// the registered message names are left alone: the engine may keep a message
// number for the life of the process, as it does on Windows.
void Reset();

// --- Threads and windows -------------------------------------------------------

// Thread 0 always exists: the test's own thread, which runs until RunAs
// says otherwise. It has a queue and key state but owns no windows.
Handle CreateThread();
// A thread of a process of the other architecture. The library's hooks run
// only in processes of the architecture of the thread that installed them:
// for a thread of the other one the system calls them in the installing
// thread, as 64-bit Windows does. So hooks installed from a thread created
// here (a companion's) run in its kind and are called elsewhere for the rest.
// The test's own hooks run in every thread as usual.
Handle CreateOtherArchitectureThread();
// Wine instead never calls such a hook, and the rest of that thread's chain
// is not called either (the hook "returns" 0). Reset() goes back to Windows.
void EndChainAtOtherArchitecture(bool wine);
// 0 when the thread does not exist (or is thread 0).
Handle CreateWindow(Handle thread, const std::string& className);
// The WH_CBT chain runs in its thread with HCBT_DESTROYWND first.
void DestroyWindow(Handle window);
Handle ThreadOf(Handle window);

// The thread whose code is running: hook procedures run in the thread that
// receives the message, the timer procedure in the timer's thread; tests set
// it before calling exports (the controller's thread).
void RunAs(Handle thread);
Handle CurrentThread();

// Makes `window` the foreground window and gives it the focus: the WH_CBT
// chain runs in the window's thread with HCBT_SETFOCUS (wParam the new
// window, lParam the old), then the focus moves. Processes what follows.
void SetFocus(Handle window);
Handle Focus();

// --- Input -----------------------------------------------------------------------

// A hardware key event: 9-bit scan code (256 added for extended keys). The
// virtual key comes from the US layout (numeric-pad keys give navigation keys
// while Num Lock is off). Queued only: Pump() processes it.
void KeyDown(std::uint16_t scan);
void KeyUp(std::uint16_t scan);
// Down and up, then Pump().
void Tap(std::uint16_t scan);
// Types the US keys for `text` (letters, digits, punctuation, space), with
// left Shift where needed, and pumps.
void TypeUs(const std::string& text);

// Peeks the next input message of the focus thread without removing it: the
// WH_KEYBOARD chain runs with HC_NOREMOVE. Returns false if no input waits.
bool PeekInput();

// Processes the input stream and every thread's posted messages until
// nothing is left.
void Pump();

// Runs the system one step at a time in an order drawn from its seed (the
// same seed, the same order). A step is one of what may happen now, each as
// likely as the others: the system takes the next event of the input stream;
// a thread with messages waiting retrieves the next one (its posted messages
// before its input, as always); the thread of a live timer, with nothing
// waiting, retrieves a WM_TIMER, while granted ticks are left.
class Scheduler {
 public:
  explicit Scheduler(std::uint32_t seed) : rng_(seed) {}

  // Grants `ticks` more timer ticks, to come when the order picks them.
  void AddTicks(int ticks) { ticks_ += ticks; }
  int TicksLeft() const { return ticks_; }

  // One step; false when none may happen.
  bool Step();
  // Steps until none may happen, or `limit` of them have run; returns how
  // many ran. Aborts, as Pump() does, when hooks keep feeding the input.
  long Run(long limit = -1);

 private:
  std::mt19937 rng_;
  int ticks_ = 0;
};

// Ticks every live timer `ticks` times; each tick is retrieved by the timer's
// thread (WH_GETMESSAGE sees WM_TIMER) and dispatched to the timer
// procedure, and the system is pumped after each.
void TickTimers(int ticks = 1);
std::size_t LiveTimers();

// platform::Sleep returns at once. It calls this handler (if any) with the
// time asked for, so that a test can let things happen meanwhile, e.g. tick
// the timers. An empty function removes the handler.
void OnSleep(std::function<void(std::uint32_t milliseconds)> handler);

// --- Hooks -----------------------------------------------------------------------

enum HookType { kKeyboard = 2, kGetMessage = 3, kCbt = 5 };
using HookFn = std::function<LParam(int code, WParam wParam, LParam lParam)>;
// Installs a hook of the test's own, as SetWindowsHookEx does: at the head of
// the chain. Returns its handle (for UnhookTestHook and platform::CallNextHook).
Handle InstallTestHook(HookType type, HookFn fn);
void UnhookTestHook(Handle hook);
// Hooks of each type currently installed (the library's and the tests').
std::size_t HookCount(HookType type);

// --- Key state -----------------------------------------------------------------

// Sets both the asynchronous and every thread's key state.
void SetKeyDown(std::uint8_t vk, bool down);
void SetToggled(std::uint8_t vk, bool on);
bool AsyncKeyDown(std::uint8_t vk);
bool Toggled(std::uint8_t vk);

// --- Records ---------------------------------------------------------------------

struct KeyEventCall {
  std::uint8_t vk;
  std::uint8_t scan;
  std::uint32_t flags;
  bool operator==(const KeyEventCall&) const = default;
};
// Every keybd_event call, in order.
const std::vector<KeyEventCall>& KeyEvents();
void ClearKeyEvents();
// Called after each keybd_event call, once its event has joined the input
// stream: a test may queue the user's keys right behind it. An empty
// function removes the handler.
void OnKeyEvent(std::function<void(const KeyEventCall&)> handler);

struct Message {
  Handle window;
  std::uint32_t message;
  WParam wParam;
  LParam lParam;
  bool unicode = false;  // posted with PostMessageW: a WM_CHAR carries a UTF-16 unit
  // Made from the keyboard input: a key message of the input queue, or the
  // character TranslateMessage posts for one (not for a key press posted).
  bool fromInput = false;
  bool operator==(const Message&) const = default;
};
// Messages dispatched in a thread (after the WH_GETMESSAGE chain; WM_NULL
// included), in order. Window 0 for messages posted to the thread itself.
const std::vector<Message>& Dispatched(Handle thread);
// Messages dispatched to one window.
std::vector<Message> DispatchedTo(Handle window);
// The WM_CHAR characters a window received, in order: an ANSI one as its
// byte, a Unicode one in UTF-8 (the two halves of a character beyond U+FFFF
// together; a half without its other one as U+FFFD).
std::string CharsOf(Handle window);
// Forgets the dispatched messages of every thread.
void ClearDispatched();

// The message number RegisterWindowMessageA gave for a name (0 if never asked).
std::uint32_t RegisteredMessage(const std::string& name);

using platform::kWmNull;
using platform::kWmKeyDown;
using platform::kWmKeyUp;
using platform::kWmChar;
using platform::kWmSysKeyDown;
using platform::kWmSysKeyUp;
using platform::kWmSysChar;
using platform::kWmTimer;
using platform::kWmSysCommand;
using platform::kWmHotkey;

// Posts a message as another program would (e.g. WM_HOTKEY, WM_SYSCOMMAND).
void Post(Handle window, std::uint32_t message, WParam wParam, LParam lParam);

}  // namespace velto::sim

// --- Queries for checks of the whole system ----------------------------------
// Read only: they change nothing in the simulated system.

namespace velto::sim {

// Key events waiting in the system input stream plus key messages waiting in
// the threads' input queues: 0 once Pump() has returned.
std::size_t PendingInput();
// Posted messages waiting in the threads' queues: 0 once Pump() has returned.
std::size_t PendingMessages();

// The key a hardware event of `scan` would move in the asynchronous key state
// if the system took it now: the US layout's virtual key by the present Num
// Lock state, for Shift, Ctrl and Alt the left or right key (VK_LSHIFT, ...).
std::uint8_t HardwareKeyOf(std::uint16_t scan);

}  // namespace velto::sim
