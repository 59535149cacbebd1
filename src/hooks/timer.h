// The library's timer: a 1 ms thread timer in the thread of the controller
// that started it. It stops itself once it has found nothing to finish or to
// watch for a whole sweep interval: no output pending, no playback waiting
// for its marker, no modifier held, the Scroll Lock light in line with the
// layout. A hook or an export that gives it work again wakes it: in the
// timer's own thread at once, from elsewhere by a WM_NULL posted to the first
// client window (whose thread is the timer's, or it would not sleep), on
// which the message hook in that thread starts it again. Built with VELTO_STEADY_TIMER it never stops.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "shared/region.h"

namespace velto {

// timerAlive while the timer sleeps, and after a hook woke it until it ticks.
constexpr std::int32_t kTimerAsleep = 2;
constexpr std::int32_t kTimerWoken = 3;

// Starts the timer in the calling thread (cb.timerId).
void StartOwnTimer(const Region& region);
// Whether `timerId` is the timer this process started, running or asleep.
bool IsOwnTimer(std::uint32_t timerId);
// Stops this process's timer for good: returns false when the system would
// not (a timer of another thread).
bool StopOwnTimer(ControlBlock& cb);
// This process forgets its timer (the region is attached anew).
void ForgetOwnTimer();

// Whether the timer has anything to finish or to watch.
bool TimerHasWork(const Region& region);
namespace detail {
void WakeTimer(const Region& region);
void StartWokenTimer(const Region& region);
}  // namespace detail

// After a change of state: wakes the timer if it sleeps and now has work.
inline void WakeTimerIfNeeded(const Region& region) {
  if (region.control().timerAlive == kTimerAsleep) detail::WakeTimer(region);
}
// Whether the timer runs, for a controller that finds one in the region:
// wakes it if it sleeps, calls `wait` (which must give it time to tick) and
// tells whether it ticked or was started again.
bool ProbeTimer(const Region& region, void (*wait)());
// The message hook, on every message: a woken timer is started again in the
// thread of the first client window.
inline void StartTimerIfWoken(const Region& region) {
  if (region.control().timerAlive == kTimerWoken) detail::StartWokenTimer(region);
}

}  // namespace velto
