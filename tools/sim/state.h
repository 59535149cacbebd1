// The state of the simulated system and the helpers that the files of
// tools/sim share. Tests use sim.h; nothing outside this directory
// includes this header.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"
#include "shared/keys.h"  // the virtual keys of the modifiers and lock keys

namespace velto::sim::detail {

using KeyState = std::array<std::uint8_t, 256>;  // bit 7 down, bit 0 toggled

constexpr int kHcAction = 0;
constexpr int kHcNoRemove = 3;
constexpr int kHcbtSetFocus = 9;
constexpr int kHcbtDestroyWnd = 4;
constexpr WParam kPmRemove = 1;


// A key message waiting in a thread's input queue. For Shift, Ctrl and Alt the
// message carries the generic virtual key; `key` is the left or right one
// that moved.
struct InputMessage {
  Message msg;
  std::uint8_t key;
  bool up;
};

struct Thread {
  KeyState keys{};
  std::deque<Message> posted;
  std::deque<InputMessage> input;
  std::vector<Message> dispatched;
  bool otherArchitecture = false;  // its process is of the other architecture than thread 0's
};

struct Window {
  Handle thread;
  std::string className;
};

struct Hook {
  Handle handle;
  HookFn fn;
  bool library = false;  // installed from the library's module
  Handle installer = 0;  // the thread that installed it
  bool otherArchitecture = false;  // and whether its process is of the other architecture
  Handle thread = 0;  // the one thread it is for, 0 for all
};
// Head first. Shared pointers keep a hook alive while it runs, even when it
// unhooks itself.
using Chain = std::vector<std::shared_ptr<const Hook>>;

// One event of the system input stream. A hardware event gets its virtual
// key from the scan code when the system takes it.
struct KeyEvent {
  std::uint8_t vk;
  std::uint16_t scan;  // 9-bit: 256 added for the extended flag
  bool up;
  bool hardware;
};

// Everything Reset() forgets.
struct System {
  System();

  Handle nextHandle = 0x100;
  Handle current = 0;  // the thread whose code runs
  Handle focus = 0;
  Handle foreground = 0;
  std::map<Handle, Thread> threads;  // thread 0 is the test's own
  std::map<Handle, Window> windows;
  std::map<int, Chain> chains;  // by HookType
  std::vector<Handle> runningHooks;  // innermost last
  Handle hookTarget = 0;  // the thread whose input or message the running chain is for
  std::map<Handle, Handle> timers;  // timer id -> its thread
  std::deque<KeyEvent> stream;
  KeyState asyncKeys{};
  KeyState defaultKeys{};  // what threads created later start with
  std::vector<KeyEventCall> keyEvents;
  std::function<void(std::uint32_t)> onSleep;
  std::function<void(const KeyEventCall&)> onKeyEvent;
  Handle focusWatcher = 0;  // the thread of platform::WatchFocus
  bool wineChains = false;   // EndChainAtOtherArchitecture
};

// What outlives Reset(): the shared memory settings and the registered
// message names, which the engine may keep for the life of the process.
struct Kept {
  bool failSharedMemory = false;
  std::map<std::string, std::uint32_t> registeredMessages;
};

System& Sys();
Kept& KeptState();
Handle NewHandle();

// --- Threads and messages (sim.cpp) ---------------------------------------

Thread* FindThread(Handle thread);
// The thread of the focus window, or null when no window has the focus.
Thread* FocusThread();

// Runs code "in" a thread for the scope's lifetime.
class ThreadScope {
 public:
  explicit ThreadScope(Handle thread);
  ~ThreadScope();
  ThreadScope(const ThreadScope&) = delete;
  ThreadScope& operator=(const ThreadScope&) = delete;

 private:
  Handle saved_;
};

// Appends to a thread's posted queue; false if there is no such thread.
bool PostToThread(Handle thread, const Message& msg);
// PostMessage: to the window's thread, or the current thread for window 0.
bool PostFromCurrent(Handle window, std::uint32_t message, WParam wParam, LParam lParam,
                     bool unicode = false);
// GetMessage's last step: the WH_GETMESSAGE chain may change the message.
Message Retrieve(Handle thread, Message msg);
void RecordDispatch(Handle thread, const Message& msg);
// Retrieves, translates and dispatches a message the thread took.
void Deliver(Handle thread, const Message& msg);
// One posted message of the first thread that has any; false if none waits.
bool RetrievePosted();

// Takes the front entry of `queue` in the first thread that has one and hands
// it, with that thread, to `take`. False when every such queue is empty.
template <typename Entry, typename Take>
bool TakeFromFirstThread(std::deque<Entry> Thread::*queue, Take take) {
  for (auto& [handle, thread] : Sys().threads) {
    std::deque<Entry>& entries = thread.*queue;
    if (entries.empty()) continue;
    const Handle receiver = handle;
    const Entry entry = entries.front();
    entries.pop_front();
    take(receiver, entry);
    return true;
  }
  return false;
}

// --- Hooks (hooks.cpp) ---------------------------------------------------------

// For one thread (`thread` non-zero) ahead of the hooks for all.
Handle AddHook(HookType type, HookFn fn, bool library, Handle thread = 0);
bool DropHook(Handle hook);
// Calls the hook after the one now running, as Windows does, which ignores
// the handle; outside a hook, the one after `hook`. 0 at the end.
LParam CallAfter(Handle hook, int code, WParam wParam, LParam lParam);
// Calls the head of the chain in `thread`; 0 when no hook is installed.
LParam RunChain(HookType type, Handle thread, int code, WParam wParam, LParam lParam);

// --- Key state (keys.cpp) ------------------------------------------------------

// The generic virtual key of a message and the key that moved: for Shift,
// Ctrl and Alt the left or right key, by the scan code; else both are vk.
struct KeySides {
  std::uint8_t generic;
  std::uint8_t key;
};
KeySides SidesOf(std::uint8_t vk, std::uint16_t scan);
// Moves a key in a state array: the down bit of the key and of its generic
// key, the toggle bit of a lock key on a press. Returns whether it was down.
bool ApplyKey(KeyState& keys, KeySides sides, bool up);
bool IsDown(const KeyState& keys, std::uint8_t vk);
// The state GetKeyState reads: the current thread's.
const KeyState& CurrentKeys();

// --- Shared memory (shm.cpp) ---------------------------------------------------

platform::SharedMapping OpenShm(const char* name, std::size_t size);
void CloseShm(const platform::SharedMapping& mapping, std::size_t size);

// --- Timers (timers.cpp) -------------------------------------------------------

Handle AddTimer(std::uint32_t milliseconds);
bool DropTimer(Handle timer);
// The timer's thread retrieves a WM_TIMER of it and dispatches it.
void Tick(Handle timer);

}  // namespace velto::sim::detail
