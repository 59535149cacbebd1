#include "control/companion_hooks.h"

#include <cstddef>

#include "control/exports.h"
#include "platform/platform.h"

namespace velto {

namespace {

constexpr platform::HookKind kKinds[] = {platform::HookKind::Keyboard, platform::HookKind::GetMessage,
                                         platform::HookKind::Cbt};
constexpr std::size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

struct HookedThread {
  std::uint32_t thread;
  std::uint64_t started;  // tells it from a later thread of the same id
  std::uint32_t hooks[kKindCount];
};

constexpr std::size_t kMaxThreads = 256;

struct State {
  std::uint32_t thread = 0;
  std::size_t count = 0;
  HookedThread hooked[kMaxThreads] = {};
};
State g_state;

bool Alive(const HookedThread& t) { return platform::ThreadStartTime(t.thread) == t.started; }

// The hooks of a thread that has ended went with it, and their handles may
// since belong to other hooks: only a live thread's are taken down.
void Unhook(HookedThread& t) {
  const bool alive = Alive(t);
  for (std::uint32_t& hook : t.hooks) {
    if (hook != 0 && alive) platform::RemoveHook(hook);
    hook = 0;
  }
}

// Drops the threads that have ended (their hooks went with them).
void DropEnded() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < g_state.count; ++i) {
    const HookedThread& t = g_state.hooked[i];
    if (Alive(t)) g_state.hooked[kept++] = t;
  }
  g_state.count = kept;
}

HookedThread* SlotFor(std::uint32_t thread) {
  for (std::size_t i = 0; i < g_state.count; ++i) {
    if (g_state.hooked[i].thread == thread) return &g_state.hooked[i];
  }
  if (g_state.count == kMaxThreads) DropEnded();
  if (g_state.count == kMaxThreads) return nullptr;
  HookedThread& t = g_state.hooked[g_state.count++];
  t = HookedThread{thread, 0, {}};
  return &t;
}

void HookThread(std::uint32_t thread) {
  const std::uint64_t started = platform::ThreadStartTime(thread);
  if (started == 0) return;
  HookedThread* t = SlotFor(thread);
  if (t == nullptr) return;
  if (t->started != started) {
    *t = HookedThread{thread, started, {}};  // an earlier thread of this id had them, gone with it
  }
  for (std::size_t k = 0; k < kKindCount; ++k) {
    if (t->hooks[k] == 0) t->hooks[k] = platform::InstallHook(kKinds[k], thread);
  }
}

}  // namespace

void FocusMoved(platform::Handle window) {
  if (g_state.thread == 0 || !platform::OfThisArchitecture(window)) return;
  const std::uint32_t thread = platform::GetWindowThreadId(window);
  if (thread != 0) HookThread(thread);
}

void InstallCompanionHooks() {
  if (g_state.thread != 0) return;
  g_state.thread = platform::GetCurrentThreadId();
  platform::WatchFocus(true);
  FocusMoved(platform::GetForegroundWindow());
}

void RemoveCompanionHooks() {
  if (g_state.thread == 0) return;
  platform::WatchFocus(false);
  for (std::size_t i = 0; i < g_state.count; ++i) Unhook(g_state.hooked[i]);
  g_state = State{};
}

void ForgetCompanion() { g_state = State{}; }

}  // namespace velto
