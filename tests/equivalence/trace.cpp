// Replays a random but reproducible life of the engine (keys typed and
// peeked at, timer ticks, other messages, focus and foreground changes, the
// controller's calls) on a platform that records what it is asked, and
// prints every platform call the engine makes with its arguments and a
// digest of the whole region after each step. Two builds of the engine that
// print the same trace for the same seeds write the same bytes and make the
// same calls in the same order. tests/equivalence/compare.sh runs it. The
// library comes up as in every other run (tools/simharness/library.h), on
// this program's own platform instead of the simulator.
//
// Usage: trace SEED STEPS DESCRIPTION.vkb
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "control/exports.h"
#include "hooks/procs.h"
#include "platform/platform.h"
#include "sim/us_layout.h"
#include "shared/region.h"
#include "simharness/library.h"

namespace {

using velto::platform::Handle;
using velto::platform::LParam;
using velto::platform::MessageFields;
using velto::platform::WParam;

constexpr std::uint32_t kControllerThread = 1;
constexpr std::uint32_t kAppThread = 2;
constexpr Handle kController = 0x100;
constexpr Handle kNotepad = 0x200;
constexpr Handle kEdit = 0x210;
constexpr Handle kConsole = 0x300;
constexpr int kHcbtActivate = 5;

struct Input {
  std::uint8_t vk;
  std::uint16_t scan;
  bool up;
};

struct World {
  alignas(64) std::uint8_t region[velto::kRegionSize];
  alignas(64) std::uint8_t compositions[velto::kCompositionsSize];
  std::uint8_t keys[256] = {};
  std::deque<Input> input;
  std::deque<MessageFields> posted;  // the application thread's queue
  std::uint32_t thread = kControllerThread;
  Handle foreground = kNotepad;
  Handle nextHandle = 0x1000;
  LParam hookedMessage = 0;  // the MSG the message hook is called with
} g;

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
}

Handle FocusOf(Handle foreground) { return foreground == kNotepad ? kEdit : foreground; }

std::uint64_t Digest() {
  std::uint64_t h = 1469598103934665603ull;
  for (const std::uint8_t b : g.region) h = (h ^ b) * 1099511628211ull;
  return h;
}

}  // namespace

namespace velto::platform {

SharedMapping OpenSharedMemory(const char* name, std::size_t size) {
  Log("OpenSharedMemory %s %zu", name, size);
  if (std::strcmp(name, velto::kCompositionsName) == 0) return {g.compositions, 2};
  return {g.region, 1};
}
void CloseSharedMemory(const SharedMapping&, std::size_t) { Log("CloseSharedMemory"); }

std::int16_t GetKeyState(int vk) {
  Log("GetKeyState %d", vk);
  const std::uint8_t s = g.keys[vk & 0xFF];
  return static_cast<std::int16_t>((s & 0x80 ? 0x8000 : 0) | (s & 1));
}
std::int16_t GetAsyncKeyState(int vk) {
  Log("GetAsyncKeyState %d", vk);
  return g.keys[vk & 0xFF] & 0x80 ? -0x8000 : 0;
}
bool GetKeyboardState(std::uint8_t state[256]) {
  Log("GetKeyboardState");
  std::memcpy(state, g.keys, 256);
  return true;
}
void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  Log("KeybdEvent %u %u %u", vk, scan, flags);
  g.input.push_back({vk, static_cast<std::uint16_t>(scan | (flags & 1 ? 0x100 : 0)), (flags & 2) != 0});
}

Handle GetKeyboardLayout(std::uint32_t threadId) {
  Log("GetKeyboardLayout %u", threadId);
  return sim::kUsLayoutHandle;
}
// The system types what the US keyboard types.
int ToAsciiEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256], std::uint16_t* out,
              std::uint32_t flags, Handle layout) {
  Log("ToAsciiEx %u %u %u %x", vk, scan, flags, layout);
  const char ch = sim::UsCharOf(static_cast<std::uint8_t>(vk), (state[0x10] & 0x80) != 0,
                                (state[0x11] & 0x80) != 0, (state[0x14] & 1) != 0);
  if (ch == 0) return 0;
  *out = static_cast<unsigned char>(ch);
  return 1;
}
std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t mapType) {
  Log("MapVirtualKey %u %u", code, mapType);
  const sim::UsKey* key = sim::UsKeyByVk(static_cast<std::uint8_t>(code));
  return key == nullptr ? 0 : key->scan & 0xFF;
}
std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t mapType, Handle layout) {
  Log("MapVirtualKeyEx %u %u %x", code, mapType, layout);
  const sim::UsKey* key = sim::UsKeyByVk(static_cast<std::uint8_t>(code));
  return key == nullptr ? 0 : key->scan & 0xFF;
}
std::int16_t VkKeyScanEx(char ch, Handle layout) {
  Log("VkKeyScanEx %d %x", ch, layout);
  return sim::UsVkKeyScan(ch);
}
int ToUnicodeEx(std::uint32_t vk, std::uint32_t scan, const std::uint8_t state[256], char16_t* out, int size,
                std::uint32_t flags, Handle layout) {
  Log("ToUnicodeEx %u %u %d %u %x", vk, scan, size, flags, layout);
  const char ch = sim::UsCharOf(static_cast<std::uint8_t>(vk), (state[0x10] & 0x80) != 0,
                                (state[0x11] & 0x80) != 0, (state[0x14] & 1) != 0);
  if (ch == 0 || size < 1) return 0;
  *out = static_cast<unsigned char>(ch);
  return 1;
}
std::int16_t VkKeyScanExW(char16_t ch, Handle layout) {
  Log("VkKeyScanExW %d %x", ch, layout);
  return ch < 0x80 ? sim::UsVkKeyScan(static_cast<char>(ch)) : -1;
}

Handle GetFocus() {
  Log("GetFocus");
  return g.thread == kAppThread ? FocusOf(g.foreground) : 0;
}
Handle GetForegroundWindow() {
  Log("GetForegroundWindow");
  return g.foreground;
}
std::uint32_t GetCurrentThreadId() {
  Log("GetCurrentThreadId");
  return g.thread;
}
std::uint32_t GetWindowThreadId(Handle window) {
  Log("GetWindowThreadId %x", window);
  if (window == 0) return 0;
  return window == kController ? kControllerThread : kAppThread;
}
int GetClassName(Handle window, char* buf, int size) {
  Log("GetClassName %x %d", window, size);
  const char* name = window == kConsole ? "ConsoleWindowClass" : window == kNotepad ? "Notepad" : "Edit";
  std::snprintf(buf, static_cast<std::size_t>(size), "%s", name);
  return static_cast<int>(std::strlen(buf));
}
// PostMessageA and PostMessageW: only the application's thread takes messages.
bool Post(const char* call, Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  Log("%s %x %x %zx %zx", call, window, message, static_cast<std::size_t>(wParam),
      static_cast<std::size_t>(lParam));
  if (window == 0 ? g.thread == kAppThread : GetWindowThreadId(window) == kAppThread) {
    g.posted.push_back({window, message, wParam, lParam});
  }
  return true;
}
bool PostMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return Post("PostMessage", window, message, wParam, lParam);
}
bool PostUnicodeMessage(Handle window, std::uint32_t message, WParam wParam, LParam lParam) {
  return Post("PostMessageW", window, message, wParam, lParam);
}
std::uint32_t RegisterWindowMessage(const char* name) {
  Log("RegisterWindowMessage %s", name);
  return 0xC123;
}

MessageFields ReadHookedMessage(LParam msg) { return *reinterpret_cast<const MessageFields*>(msg); }
void ReplaceHookedMessage(LParam msg, std::uint32_t message) {
  Log("ReplaceHookedMessage %x", message);
  reinterpret_cast<MessageFields*>(msg)->message = message;
}

Handle InstallHook(HookKind kind, std::uint32_t thread) {
  if (thread != 0) Log("InstallHook %d for thread %x", static_cast<int>(kind), thread);
  if (thread == 0) Log("InstallHook %d", static_cast<int>(kind));
  return g.nextHandle++;
}
bool RemoveHook(Handle hook) {
  Log("RemoveHook %x", hook);
  return true;
}
LParam CallNextHook(Handle hook, int code, WParam wParam, LParam lParam) {
  if (lParam == g.hookedMessage) {
    Log("CallNextHook %x %d %zx MSG", hook, code, static_cast<std::size_t>(wParam));
  } else {
    Log("CallNextHook %x %d %zx %zx", hook, code, static_cast<std::size_t>(wParam),
        static_cast<std::size_t>(lParam));
  }
  return 0;
}
Handle StartTimer(std::uint32_t ms) {
  Log("StartTimer %u", ms);
  return g.nextHandle++;
}
bool StopTimer(Handle id) {
  Log("StopTimer %x", id);
  return true;
}
void Sleep(std::uint32_t ms) { Log("Sleep %u", ms); }
bool OfThisArchitecture(Handle window) {
  Log("OfThisArchitecture %x", window);
  return true;
}
std::uint64_t ThreadStartTime(std::uint32_t thread) {
  Log("ThreadStartTime %x", thread);
  return 0;
}
bool WatchFocus(bool on) {
  Log("WatchFocus %d", on ? 1 : 0);
  return false;
}

}  // namespace velto::platform

namespace {

LParam KeyLParam(const Input& in, bool prevDown) {
  std::uint32_t bits = 1 | (in.scan & 0xFFu) << 16;
  if (in.scan & 0x100) bits |= 1u << 24;
  if (g.keys[0x12] & 0x80) bits |= 1u << 29;
  if (prevDown || in.up) bits |= 1u << 30;
  if (in.up) bits |= 1u << 31;
  return static_cast<LParam>(bits);
}

// The application takes its next key input; a peek offers it to the hook
// first, which may swallow it for good.
void TakeInput(bool peek) {
  if (g.input.empty()) return;
  const Input in = g.input.front();
  std::uint8_t& state = g.keys[in.vk];
  const bool prevDown = (state & 0x80) != 0;
  const LParam lParam = KeyLParam(in, prevDown);
  if (peek) {
    Log("-- peek %u %x", in.vk, static_cast<unsigned>(lParam));
    if (velto::KeyboardHookProc(3, in.vk, lParam) != 0) g.input.pop_front();
    return;
  }
  g.input.pop_front();
  state = static_cast<std::uint8_t>(in.up ? state & 0x7F : (state | 0x80) ^ (prevDown ? 0 : 1));
  Log("-- key %u %x", in.vk, static_cast<unsigned>(lParam));
  if (velto::KeyboardHookProc(0, in.vk, lParam) != 0) return;
  if (g.foreground == kController) return;
  g.posted.push_back({FocusOf(g.foreground), in.up ? 0x101u : 0x100u, in.vk, lParam});
}

void Retrieve() {
  MessageFields m = g.posted.front();
  g.posted.pop_front();
  Log("-- message %x", m.message);
  g.hookedMessage = reinterpret_cast<LParam>(&m);
  velto::GetMessageHookProc(0, 1, g.hookedMessage);
  g.hookedMessage = 0;
}

// Keys of the US keyboard that the layouts give work to: character keys,
// and less often the others.
constexpr std::uint16_t kCharacterScans[] = {
    0x1E, 0x12, 0x16, 0x15, 0x2C, 0x22, 0x23, 0x28, 0x27, 0x1A, 0x0C, 0x0D, 0x29, 0x07, 0x39,
    0x02, 0x1F, 0x2F, 0x24, 0x33, 0x34, 0x10, 0x18, 0x31, 0x03, 0x32,
};
constexpr std::uint16_t kOtherScans[] = {
    0x1C, 0x0E, 0x3F, 0x58, 0x47, 0x4B, 0x4C, 0x52, 0x2A, 0x2A, 0x2A, 0x36, 0x1D, 0x11D, 0x38,
    0x138, 0x138, 0x138, 0x15B, 0x15C, 0x3A, 0x145, 0x46, 0x15D, 0x14B, 0x147,
};

void Step(std::mt19937& rng, int step) {
  const unsigned roll = rng() % 100;
  g.thread = kAppThread;
  if (roll < 50) {
    // Keys pressed go up again soon; a key pressed again while held repeats.
    static std::vector<std::uint16_t> held;
    std::uint16_t scan;
    bool up = false;
    if (!held.empty() && rng() % 2 == 0) {
      const std::size_t i = rng() % held.size();
      scan = held[i];
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      up = true;
    } else {
      scan = rng() % 4 != 0 ? kCharacterScans[rng() % std::size(kCharacterScans)]
                            : kOtherScans[rng() % std::size(kOtherScans)];
      if (std::find(held.begin(), held.end(), scan) == held.end()) held.push_back(scan);
    }
    const std::uint8_t vk = velto::sim::UsVkOfScan(scan, (g.keys[0x90] & 1) != 0);
    Log("== %d user %x %s", step, scan, up ? "up" : "down");
    g.input.push_back({vk, scan, up});
    if (rng() % 3 != 0) TakeInput(false);
  } else if (roll < 70) {
    Log("== %d pump", step);
    for (int i = 0; i < 64 && (!g.posted.empty() || !g.input.empty()); ++i) {
      if (!g.posted.empty()) {
        Retrieve();
      } else {
        TakeInput(false);
      }
    }
  } else if (roll < 82) {
    Log("== %d tick", step);
    g.thread = kControllerThread;
    velto::TimerProc();
  } else if (roll < 86) {
    Log("== %d other message", step);
    g.posted.push_back({FocusOf(g.foreground), 0x113, 1, 0});
  } else if (roll < 89) {
    Log("== %d peek", step);
    TakeInput(true);
  } else if (roll < 92) {
    Log("== %d focus", step);
    velto::CbtHookProc(9, FocusOf(g.foreground), 0);
  } else if (roll < 95) {
    static constexpr Handle kWindows[] = {kNotepad, kNotepad, kConsole, kController};
    g.foreground = kWindows[rng() % std::size(kWindows)];
    Log("== %d foreground %x", step, g.foreground);
    // The window that comes to the front is activated in its own thread,
    // which the focus hook sees.
    g.thread = g.foreground == kController ? kControllerThread : kAppThread;
    velto::CbtHookProc(kHcbtActivate, g.foreground, 0);
  } else {
    g.thread = kControllerThread;
    const unsigned call = rng() % 4;
    Log("== %d controller %u", step, call);
    if (call == 0) SelectLayout(rng() % 3 != 0 ? 1 : rng() % 5);
    if (call == 1) ToggleLayout();
    if (call == 2) Enable(rng() % 4 != 0);
    if (call == 3) SetCurrentKR(rng() % 2 ? kController : 0);
  }
  const velto::ControlBlock& cb = *reinterpret_cast<const velto::ControlBlock*>(g.region);
  Log("== %d region %016llx enabled %d layout %u modifiers %x leds %x", step,
      static_cast<unsigned long long>(Digest()), cb.enabled, cb.currentLayout, cb.modifiers, cb.leds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: trace SEED STEPS DESCRIPTION.vkb\n", stderr);
    return 2;
  }
  std::ifstream file(argv[3], std::ios::binary);
  const std::vector<char> vkb((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The five blocks, and the table of compositions after them if it has one.
  if (vkb.size() < velto::simharness::kCompiledSize) {
    std::fprintf(stderr, "trace: %s is not a compiled description\n", argv[3]);
    return 2;
  }
  std::mt19937 rng(static_cast<std::uint32_t>(std::atoi(argv[1])));
  const int steps = std::atoi(argv[2]);
  velto::simharness::AttachLibrary(velto::simharness::Attach::kLibrary);
  InstallHook(kController);
  velto::simharness::HandOver(velto::simharness::BlocksOfCompiled(vkb.data()));
  for (int i = 0; i < steps; ++i) Step(rng, i);
  return 0;
}
