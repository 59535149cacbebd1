// The platform seam with (almost) nothing behind it. Tables that the real
// system would look up are filled once by ResetNullSystem, so that every call
// costs a handful of instructions.
#include "null_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hooks/procs.h"
#include "control/exports.h"
#include "sim/us_layout.h"
#include "shared/region.h"

namespace velto::bench {

std::size_t g_calls[kPlatformCallKinds];
#ifdef VELTO_COUNT_CALLS
#define VELTO_CALL(kind) ++bench::g_calls[static_cast<std::size_t>(bench::PlatformCall::kind)]
#else
#define VELTO_CALL(kind) static_cast<void>(0)
#endif

namespace {

using platform::Handle;
using platform::LParam;
using platform::MessageFields;
using platform::WParam;

constexpr Handle kLayout = 0x04070407;
using platform::kWmKeyDown;
using platform::kWmKeyUp;
using platform::kWmChar;
constexpr int kHcAction = 0;
constexpr WParam kPmRemove = 1;
constexpr char kClassName[] = "Notepad";

// A ring of a power-of-two size; overrunning it is a fault of the benchmark.
template <typename T, std::size_t N>
struct Ring {
  T items[N];
  std::size_t head = 0;
  std::size_t tail = 0;
  bool empty() const { return head == tail; }
  void push(const T& item) {
    if (tail - head == N) {
      std::fputs("null platform: a queue overran; the benchmark pumps too seldom\n", stderr);
      std::abort();
    }
    items[tail++ & (N - 1)] = item;
  }
  T pop() { return items[head++ & (N - 1)]; }
};

struct Input {
  std::uint8_t vk;
  std::uint16_t scan;
  bool up;
};

struct System {
  alignas(64) std::uint8_t region[kRegionSize];
  alignas(64) std::uint8_t compositions[kCompositionsSize];
  std::uint8_t keys[256];  // the key state, the thread's and the system's alike
  std::uint8_t vkOfScan[512];
  std::uint16_t scanOfVk[256];
  std::int16_t vkOfChar[256];
  Ring<Input, 1024> input;
  Ring<MessageFields, 1024> posted;
  std::size_t chars = 0;
  bool record = false;
  std::string text;
};

System g_system;

System& Sys() { return g_system; }

void FillTables(System& s) {
  for (unsigned scan = 0; scan < 512; ++scan) s.vkOfScan[scan] = sim::UsVkOfScan(scan, true);
  for (unsigned vk = 0; vk < 256; ++vk) {
    const sim::UsKey* key = sim::UsKeyByVk(static_cast<std::uint8_t>(vk));
    s.scanOfVk[vk] = key == nullptr ? 0 : key->scan;
  }
  for (unsigned ch = 0; ch < 256; ++ch) s.vkOfChar[ch] = sim::UsVkKeyScan(static_cast<char>(ch));
}

// The system calls the hooks through pointers, and so does this one: the
// procedures stay whole, and their instructions can be counted apart.
platform::LParam (*volatile g_keyboardHook)(int, WParam, LParam) = KeyboardHookProc;
platform::LParam (*volatile g_getMessageHook)(int, WParam, LParam) = GetMessageHookProc;

void Take(const Input& in) {
  System& s = Sys();
  std::uint8_t& state = s.keys[in.vk];
  const bool prevDown = (state & 0x80) != 0;
  state = static_cast<std::uint8_t>(in.up ? state & 0x7F : (state | 0x80) ^ (prevDown ? 0 : 1));
  std::uint32_t bits = 1 | (in.scan & 0xFFu) << 16;
  if (in.scan & 0x100) bits |= 1u << 24;
  if (prevDown || in.up) bits |= 1u << 30;
  if (in.up) bits |= 1u << 31;
  const LParam lParam = static_cast<LParam>(bits);
  if (g_keyboardHook(kHcAction, in.vk, lParam) != 0) return;
  s.posted.push({kFocusWindow, in.up ? kWmKeyUp : kWmKeyDown, in.vk, lParam});
}

void Retrieve(MessageFields m) {
  System& s = Sys();
  g_getMessageHook(kHcAction, kPmRemove, reinterpret_cast<LParam>(&m));
  if (m.message == kWmChar) {
    ++s.chars;
    if (s.record) s.text.push_back(static_cast<char>(m.wParam));
  }
}

}  // namespace

void ResetNullSystem() {
  System& s = Sys();
  static bool filled = false;
  if (!filled) FillTables(s);
  filled = true;
  std::memset(s.keys, 0, sizeof s.keys);
  s.input.head = s.input.tail = 0;
  s.posted.head = s.posted.tail = 0;
  s.chars = 0;
  s.text.clear();
}

std::size_t CharsReceived() { return Sys().chars; }
void RecordText(bool on) { Sys().record = on; }
const std::string& ReceivedText() { return Sys().text; }

void UserKey(std::uint16_t scan, bool up) {
  System& s = Sys();
  s.input.push({s.vkOfScan[scan & 0x1FF], scan, up});
}

void PostToApplication(std::uint32_t message) { Sys().posted.push({kFocusWindow, message, 0, 0}); }

void Pump() {
  System& s = Sys();
  while (true) {
    if (!s.posted.empty()) {
      Retrieve(s.posted.pop());
    } else if (!s.input.empty()) {
      Take(s.input.pop());
    } else {
      return;
    }
  }
}

bool Pending() { return !Sys().posted.empty() || !Sys().input.empty(); }

void DropPosted() { Sys().posted.head = Sys().posted.tail; }

}  // namespace velto::bench

namespace velto::platform {

using bench::Sys;

SharedMapping OpenSharedMemory(const char* name, std::size_t) {
  VELTO_CALL(kOpenSharedMemory);
  if (std::strcmp(name, kCompositionsName) == 0) return {Sys().compositions, 2};
  return {Sys().region, 1};
}
void CloseSharedMemory(const SharedMapping&, std::size_t) {
  VELTO_CALL(kCloseSharedMemory);
}

std::int16_t GetKeyState(int vk) {
  VELTO_CALL(kGetKeyState);
  const std::uint8_t state = Sys().keys[vk & 0xFF];
  return static_cast<std::int16_t>((state & 0x80 ? 0x8000 : 0) | (state & 1));
}
std::int16_t GetAsyncKeyState(int vk) {
  VELTO_CALL(kGetAsyncKeyState);
  return Sys().keys[vk & 0xFF] & 0x80 ? -0x8000 : 0;
}
bool GetKeyboardState(std::uint8_t state[256]) {
  VELTO_CALL(kGetKeyboardState);
  std::memcpy(state, Sys().keys, 256);
  return true;
}
void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  VELTO_CALL(kKeybdEvent);
  bench::System& s = Sys();
  const std::uint16_t extended = flags & kKeyEventExtendedKey ? 0x100 : 0;
  s.input.push({vk, static_cast<std::uint16_t>(scan | extended), (flags & kKeyEventKeyUp) != 0});
}

Handle GetKeyboardLayout(std::uint32_t) {
  VELTO_CALL(kGetKeyboardLayout);
  return bench::kLayout;
}
// The system's own layout types nothing here, so every character key goes
// the library's way: through both queues to a posted WM_CHAR.
int ToAsciiEx(std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint16_t*, std::uint32_t, Handle) {
  VELTO_CALL(kToAsciiEx);
  return 0;
}
std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t) {
  VELTO_CALL(kMapVirtualKey);
  return Sys().scanOfVk[code & 0xFF] & 0xFF;
}
std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t, Handle) {
  VELTO_CALL(kMapVirtualKeyEx);
  return Sys().scanOfVk[code & 0xFF] & 0xFF;
}
std::int16_t VkKeyScanEx(char ch, Handle) {
  VELTO_CALL(kVkKeyScanEx);
  return Sys().vkOfChar[static_cast<unsigned char>(ch)];
}
int ToUnicodeEx(std::uint32_t, std::uint32_t, const std::uint8_t*, char16_t*, int, std::uint32_t, Handle) {
  VELTO_CALL(kToUnicodeEx);
  return 0;
}
std::int16_t VkKeyScanExW(char16_t ch, Handle) {
  VELTO_CALL(kVkKeyScanExW);
  return ch < 0x100 ? Sys().vkOfChar[ch] : -1;
}

Handle GetFocus() {
  VELTO_CALL(kGetFocus);
  return bench::kFocusWindow;
}
Handle GetForegroundWindow() {
  VELTO_CALL(kGetForegroundWindow);
  return bench::kFocusWindow;
}
std::uint32_t GetCurrentThreadId() {
  VELTO_CALL(kGetCurrentThreadId);
  return bench::kApplicationThread;
}
std::uint32_t GetWindowThreadId(Handle window) {
  VELTO_CALL(kGetWindowThreadId);
  return window != 0 ? bench::kApplicationThread : 0;
}
int GetClassName(Handle, char* buf, int size) {
  VELTO_CALL(kGetClassName);
  if (size < static_cast<int>(sizeof bench::kClassName)) return 0;
  std::memcpy(buf, bench::kClassName, sizeof bench::kClassName);
  return static_cast<int>(sizeof bench::kClassName) - 1;
}
namespace {
bool Post(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  bench::System& s = Sys();
  // A message to another window (the controller's) leaves this thread.
  if (window != 0 && window != bench::kFocusWindow) return true;
  s.posted.push({bench::kFocusWindow, message, wParam, lParam});
  return true;
}
}  // namespace
bool PostMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  VELTO_CALL(kPostMessage);
  return Post(window, message, wParam, lParam);
}
bool PostUnicodeMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  VELTO_CALL(kPostUnicodeMessage);
  return Post(window, message, wParam, lParam);
}
std::uint32_t RegisterWindowMessage(const char*) {
  VELTO_CALL(kRegisterWindowMessage);
  return 0xC0DE;
}

MessageFields ReadHookedMessage(LParam msg) {
  VELTO_CALL(kReadHookedMessage);
  return *reinterpret_cast<const MessageFields*>(msg);
}
void ReplaceHookedMessage(LParam msg, std::uint32_t message) {
  VELTO_CALL(kReplaceHookedMessage);
  reinterpret_cast<MessageFields*>(msg)->message = message;
}

Handle InstallHook(HookKind, std::uint32_t) {
  VELTO_CALL(kInstallHook);
  return 1;
}
bool RemoveHook(Handle) {
  VELTO_CALL(kRemoveHook);
  return true;
}
LParam CallNextHook(Handle, int, WParam, LParam) {
  VELTO_CALL(kCallNextHook);
  return 0;
}
Handle StartTimer(std::uint32_t) {
  VELTO_CALL(kStartTimer);
  return 1;
}
bool StopTimer(Handle) {
  VELTO_CALL(kStopTimer);
  return true;
}
void Sleep(std::uint32_t) {
  VELTO_CALL(kSleep);
}
bool OfThisArchitecture(Handle) {
  VELTO_CALL(kOfThisArchitecture);
  return true;
}
std::uint64_t ThreadStartTime(std::uint32_t) {
  VELTO_CALL(kThreadStartTime);
  return 0;
}
bool WatchFocus(bool) {
  VELTO_CALL(kWatchFocus);
  return false;
}

}  // namespace velto::platform
