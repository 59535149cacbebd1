// Thread timers. They tick only when a test or its Scheduler says so.
#include "hooks/procs.h"
#include "sim/state.h"

namespace velto::sim {

namespace detail {

// Dispatching the WM_TIMER calls the engine's timer procedure, unless a
// message hook changed the message.
void Tick(Handle timer) {
  const auto it = Sys().timers.find(timer);
  if (it == Sys().timers.end()) return;  // stopped by an earlier tick
  const Handle thread = it->second;
  const Message msg = Retrieve(thread, {0, kWmTimer, timer, 0});
  RecordDispatch(thread, msg);
  if (msg.message != kWmTimer) return;
  ThreadScope scope(thread);
  velto::TimerProc();
}

// Ticks come only from TickTimers and the Scheduler, so the period plays no part.
Handle AddTimer(std::uint32_t) {
  const Handle timer = NewHandle();
  Sys().timers.emplace(timer, Sys().current);
  return timer;
}

bool DropTimer(Handle timer) { return Sys().timers.erase(timer) > 0; }

}  // namespace detail

void TickTimers(int ticks) {
  for (int i = 0; i < ticks; ++i) {
    Pump();  // WM_TIMER comes only when nothing else waits
    std::vector<Handle> timers;
    for (const auto& [timer, thread] : detail::Sys().timers) timers.push_back(timer);
    for (const Handle timer : timers) detail::Tick(timer);
    Pump();
  }
}

std::size_t LiveTimers() { return detail::Sys().timers.size(); }

void OnSleep(std::function<void(std::uint32_t milliseconds)> handler) {
  detail::Sys().onSleep = std::move(handler);
}

}  // namespace velto::sim
