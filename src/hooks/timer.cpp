// The 1 ms timer in the controller's thread and the focus hook.
#include "hooks/timer.h"

#include <atomic>

#include "delivery/deliver.h"
#include "delivery/macro.h"
#include "hooks/hook_thread.h"
#include "hooks/procs.h"
#include "intercept/modifiers.h"
#include "shared/notice.h"

namespace velto {

namespace {

constexpr std::uint32_t kTimerPeriodMs = 1;

// The timer this process started (0: none), in which thread, whether it
// sleeps, and for how many ticks in a row it found nothing to do.
struct OwnTimer {
  std::uint32_t id = 0;
  std::uint32_t thread = 0;
  bool asleep = false;
  std::uint16_t idleTicks = 0;
} g_timer;

constexpr int kHcbtActivate = 5;
constexpr int kHcbtDestroyWnd = 4;
constexpr int kHcbtSetFocus = 9;

bool BothQueuesEmpty(const ControlBlock& cb) { return cb.actQEmpty != 0 && cb.keyQEmpty != 0; }

// With Scroll Lock as the layout key, the system keeps the light itself;
// otherwise the light may be brought in line with the layout.
bool ScrollLockIsNoHotkey(const Region& region) {
  return region.options().layoutHotkeyScan != kScrollLockScan;
}

// Playback waits for its marker while nothing is left to play. A sweep
// that happens to fall between the last key played and its marker coming
// back must not end the wait: the keys still on their way would be taken
// for the user's. But a marker that never comes back (the focus was
// nowhere) must not keep the keys typed meanwhile for good, nor must a
// posted key press that no application takes (its window went away): a
// wait that four sweeps in a row (a second under Wine) found ends. An
// application that is only slow to take its messages gets that long.
constexpr std::uint8_t kLostWaitSweeps = 4;

void EndLostWait(const Region& region) {
  ControlBlock& cb = region.control();
  std::uint16_t& posted = region.queues().postedPress;
  const bool stuck = (cb.playbackWait != 0 && cb.actQEmpty != 0 && !MacroPending(region)) || posted != 0;
  cb.waitSeenAtSweep = stuck ? static_cast<std::uint8_t>(cb.waitSeenAtSweep + 1) : 0;
  if (cb.waitSeenAtSweep >= kLostWaitSweeps) {
    cb.playbackWait = 0;
    region.queues().ownKeys = 0;
    posted = 0;
    cb.waitSeenAtSweep = 0;
  }
}

// Starts the timer again in the calling thread. Its first sweep comes a
// whole interval later, not at the first tick: what woke it (a modifier
// pressed, a key typed) is then still under way, and a macro's keys may be
// up for the system for a moment before their marker is back.
void Restart(const Region& region) {
  ControlBlock& cb = region.control();
  const platform::Handle id = platform::StartTimer(kTimerPeriodMs);
  if (id == 0) return;  // it sleeps on; the next wake tries again
  cb.timerId = id;
  cb.timerAlive = 1;
  cb.tickCountdown = kSweepInterval;
  g_timer = {id, platform::GetCurrentThreadId(), false, 0};
}

void PostWake(const Region& region) {
  const ControlBlock& cb = region.control();
  if (cb.clientCount != 0) platform::PostMessage(cb.clients[0], platform::kWmNull, 0, 0);
}

// After a tick: the timer stops once it has had nothing to do for a sweep
// interval, if a hook can wake it through the first client window.
void SleepIfIdle(const Region& region) {
#ifndef VELTO_STEADY_TIMER
  ControlBlock& cb = region.control();
  if (TimerHasWork(region)) {
    g_timer.idleTicks = 0;
    return;
  }
  if (++g_timer.idleTicks < kSweepInterval || !IsOwnTimer(cb.timerId) || cb.clientCount == 0 ||
      platform::GetWindowThreadId(cb.clients[0]) != g_timer.thread) {
    return;
  }
  cb.timerAlive = kTimerAsleep;
  // A hook of another thread that gave it work just now sees either this
  // mark, and wakes it, or is seen here.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (TimerHasWork(region) || !platform::StopTimer(cb.timerId)) {
    cb.timerAlive = 1;
    return;
  }
  g_timer.asleep = true;
#else
  static_cast<void>(region);
#endif
}

}  // namespace

void StartOwnTimer(const Region& region) {
  ControlBlock& cb = region.control();
  cb.timerId = platform::StartTimer(kTimerPeriodMs);
  g_timer = {cb.timerId, platform::GetCurrentThreadId(), false, 0};
}

bool IsOwnTimer(std::uint32_t timerId) { return g_timer.id != 0 && g_timer.id == timerId; }

bool StopOwnTimer(ControlBlock& cb) {
  if (cb.timerId == 0) return true;
  // A sleeping timer has already been stopped.
  if (!(IsOwnTimer(cb.timerId) && g_timer.asleep) && !platform::StopTimer(cb.timerId)) return false;
  if (IsOwnTimer(cb.timerId)) g_timer = {};
  cb.timerId = 0;
  return true;
}

void ForgetOwnTimer() { g_timer = {}; }

bool TimerHasWork(const Region& region) {
  const ControlBlock& cb = region.control();
  const QueueArea& q = region.queues();
  return cb.actQEmpty == 0 || cb.keyQEmpty == 0 || cb.playbackWait != 0 || cb.playerBusy != 0 ||
         cb.countHeld != 0 || cb.passThrough != 0 || cb.modifiers != 0 || cb.pressedSinceSweep != 0 ||
         cb.waitSeenAtSweep != 0 || q.ownKeys != 0 || q.postedPress != 0 || MacroPending(region) ||
         (ScrollLockIsNoHotkey(region) && ScrollLockLightOutOfLine(region));
}

void detail::WakeTimer(const Region& region) {
  ControlBlock& cb = region.control();
  if (cb.timerAlive != kTimerAsleep || !TimerHasWork(region)) return;
  cb.timerAlive = kTimerWoken;
  if (g_timer.asleep && platform::GetCurrentThreadId() == g_timer.thread) {
    Restart(region);
  } else {
    PostWake(region);
  }
}

bool ProbeTimer(const Region& region, void (*wait)()) {
  ControlBlock& cb = region.control();
  const bool asleep = cb.timerAlive == kTimerAsleep;
  cb.timerAlive = asleep ? kTimerWoken : 0;
  if (asleep) PostWake(region);
  wait();
  // A tick, or a timer started again (which may have gone back to sleep).
  return cb.timerAlive == 1 || cb.timerAlive == kTimerAsleep;
}

void detail::StartWokenTimer(const Region& region) {
  const ControlBlock& cb = region.control();
  if (cb.timerAlive == kTimerWoken && cb.clientCount != 0 &&
      platform::GetWindowThreadId(cb.clients[0]) == platform::GetCurrentThreadId()) {
    Restart(region);
  }
}

void TimerProc() {
  const Region& region = TheRegion();
  if (!region.valid()) return;
  ControlBlock& cb = region.control();
  cb.timerAlive = 1;
  if (ScrollLockIsNoHotkey(region)) SyncScrollLockToLayout(region);
  if (cb.tickCountdown == 0) {
    ++cb.sweeps;
    cb.tickCountdown = kSweepInterval;
    EndLostWait(region);
    // While a macro plays, the modifiers it released are up for the system
    // but still held by the user.
    if (cb.countHeld == 0) SweepModifiers(region);
  }
  --cb.tickCountdown;
  // What no hook has delivered yet: a macro's part after a marker that came
  // back while the application slept, or keys queued behind it.
  if (cb.playbackWait == 0) DeliverPending(region);
  SleepIfIdle(region);
}

platform::LParam CbtHookProc(int code, platform::WParam wParam, platform::LParam lParam) {
  const Region& region = TheRegion();
  if (!region.valid()) return platform::CallNextHook(0, code, wParam, lParam);
  if (code == kHcbtActivate || code == kHcbtSetFocus || code == kHcbtDestroyWnd) {
    // The focus of a thread of this process is about to move: asked again at its next key.
    ForgetFocusFacts();
    if (code == kHcbtDestroyWnd) ForgetWindow(static_cast<platform::Handle>(wParam));
  }
  if (CalledForAnotherThread(static_cast<platform::Handle>(wParam))) return 0;
  ControlBlock& cb = region.control();
  ++cb.cbtCalls;
  if (code != kHcbtSetFocus) return 0;
  if (BothQueuesEmpty(cb)) cb.playbackWait = 0;
  cb.changeFlags = 0;
  RefreshLeds(region);
  if (ScrollLockIsNoHotkey(region)) SyncScrollLockToLayout(region);
  NotifyClients(region);
  WakeTimerIfNeeded(region);
  return 0;
}

}  // namespace velto
