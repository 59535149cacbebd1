// The 1 ms timer in the controller's thread and the focus hook.
#include "delivery/deliver.h"
#include "delivery/macro.h"
#include "hooks/hook_thread.h"
#include "hooks/procs.h"
#include "intercept/modifiers.h"
#include "shared/notice.h"

namespace velto {

namespace {

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

}  // namespace

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
}

platform::LParam CbtHookProc(int code, platform::WParam wParam, platform::LParam lParam) {
  const Region& region = TheRegion();
  if (!region.valid()) return platform::CallNextHook(0, code, wParam, lParam);
  if (CalledForAnotherThread(static_cast<platform::Handle>(wParam))) return 0;
  ControlBlock& cb = region.control();
  ++cb.cbtCalls;
  if (code != kHcbtSetFocus) return 0;
  if (BothQueuesEmpty(cb)) cb.playbackWait = 0;
  cb.changeFlags = 0;
  RefreshLeds(region);
  if (ScrollLockIsNoHotkey(region)) SyncScrollLockToLayout(region);
  NotifyClients(region);
  return 0;
}

}  // namespace velto
