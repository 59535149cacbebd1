// Hook chains: one per hook type, newest hook first.
#include <algorithm>

#include "platform/sim/state.h"

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
  ThreadScope scope(elsewhere ? hook->installer : target);
  return hook->fn(code, wParam, lParam);
}

}  // namespace

Handle AddHook(HookType type, HookFn fn, bool library) {
  const Handle handle = NewHandle();
  Chain& chain = Sys().chains[type];
  const Thread* installer = FindThread(Sys().current);
  const bool other = installer != nullptr && installer->otherArchitecture;
  chain.insert(chain.begin(),
               std::make_shared<const Hook>(Hook{handle, std::move(fn), library, Sys().current, other}));
  return handle;
}

bool DropHook(Handle hook) {
  const Position at = Find(hook);
  if (at.chain == nullptr) return false;
  at.chain->erase(at.chain->begin() + static_cast<std::ptrdiff_t>(at.index));
  return true;
}

LParam CallAfter(Handle hook, int code, WParam wParam, LParam lParam) {
  Position at = Sys().runningHooks.empty() ? Find(hook) : Find(Sys().runningHooks.back());
  if (at.chain == nullptr || at.index + 1 >= at.chain->size()) return 0;
  return Call((*at.chain)[at.index + 1], code, wParam, lParam);
}

LParam RunChain(HookType type, Handle thread, int code, WParam wParam, LParam lParam) {
  const Chain& chain = Sys().chains[type];
  if (chain.empty()) return 0;
  const HookPtr head = chain.front();
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
