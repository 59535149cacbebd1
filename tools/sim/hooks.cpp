// Hook chains: one per hook type, newest hook first.
#include <algorithm>

#include "sim/state.h"

namespace velto::sim {

namespace detail {

namespace {

using HookPtr = std::shared_ptr<const Hook>;

struct Position {
  Chain* chain = nullptr;
  std::size_t index = 0;
};

Position Find(Handle hook) {
  for (auto& [type, chain] : Sys().chains) {
    const auto it = std::find_if(chain.begin(), chain.end(),
                                 [hook](const HookPtr& h) { return h->handle == hook; });
    if (it != chain.end()) return {&chain, static_cast<std::size_t>(it - chain.begin())};
  }
  return {};
}

// Marks a hook as running for the length of its call.
class Running {
 public:
  explicit Running(Handle hook) { Sys().runningHooks.push_back(hook); }
  ~Running() {
    if (!Sys().runningHooks.empty()) Sys().runningHooks.pop_back();  // empty after a Reset
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
};

// Takes the hook by value: it stays alive even if it unhooks itself. The
// library's hooks cannot be loaded into a process of the other architecture
// than the installer's: for its threads the system calls them in the thread
// that installed them.
LParam Call(HookPtr hook, int code, WParam wParam, LParam lParam) {
  Running running(hook->handle);
  const Handle target = Sys().hookTarget;
  const Thread* thread = FindThread(target);
  const bool elsewhere = hook->library && thread != nullptr && thread->otherArchitecture != hook->otherArchitecture;
  if (elsewhere && Sys().wineChains) return 0;
  ThreadScope scope(elsewhere ? hook->installer : target);
  return hook->fn(code, wParam, lParam);
}

}  // namespace

Handle AddHook(HookType type, HookFn fn, bool library, Handle thread) {
  const Handle handle = NewHandle();
  Chain& chain = Sys().chains[type];
  const Thread* installer = FindThread(Sys().current);
  const bool other = installer != nullptr && installer->otherArchitecture;
  // Newest first, but every hook for one thread ahead of those for all.
  const auto at = thread != 0 ? chain.begin()
                              : std::find_if(chain.begin(), chain.end(), [](const HookPtr& h) { return h->thread == 0; });
  chain.insert(at, std::make_shared<const Hook>(Hook{handle, std::move(fn), library, Sys().current, other, thread}));
  return handle;
}

bool DropHook(Handle hook) {
  const Position at = Find(hook);
  if (at.chain == nullptr) return false;
  at.chain->erase(at.chain->begin() + static_cast<std::ptrdiff_t>(at.index));
  return true;
}

namespace {

// The first hook from `index` on that runs for `thread`, or null.
HookPtr NextFor(const Chain& chain, std::size_t index, Handle thread) {
  for (; index < chain.size(); ++index) {
    if (chain[index]->thread == 0 || chain[index]->thread == thread) return chain[index];
  }
  return nullptr;
}

}  // namespace

LParam CallAfter(Handle hook, int code, WParam wParam, LParam lParam) {
  Position at = Sys().runningHooks.empty() ? Find(hook) : Find(Sys().runningHooks.back());
  if (at.chain == nullptr) return 0;
  const HookPtr next = NextFor(*at.chain, at.index + 1, Sys().hookTarget);
  return next ? Call(next, code, wParam, lParam) : 0;
}

LParam RunChain(HookType type, Handle thread, int code, WParam wParam, LParam lParam) {
  const HookPtr head = NextFor(Sys().chains[type], 0, thread);
  if (!head) return 0;
  const Handle saved = Sys().hookTarget;
  Sys().hookTarget = thread;
  ThreadScope scope(thread);
  const LParam result = Call(head, code, wParam, lParam);
  Sys().hookTarget = saved;
  return result;
}

}  // namespace detail

Handle InstallTestHook(HookType type, HookFn fn) { return detail::AddHook(type, std::move(fn), false); }

void UnhookTestHook(Handle hook) { detail::DropHook(hook); }

std::size_t HookCount(HookType type) {
  const auto it = detail::Sys().chains.find(type);
  return it == detail::Sys().chains.end() ? 0 : it->second.size();
}

}  // namespace velto::sim
