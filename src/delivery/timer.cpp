// The 1 ms timer in the controller's thread and the focus hook.
#include "control/notify.h"
#include "control/procs.h"
#include "delivery/macro.h"
#include "delivery/player.h"
#include "intercept/modifiers.h"

namespace velto {

namespace {

constexpr int kHcbtSetFocus = 9;

bool BothQueuesEmpty(const ControlBlock& cb) { return cb.actQEmpty != 0 && cb.keyQEmpty != 0; }

// With Scroll Lock as the layout key, the system keeps the light itself.
bool ScrollLockShowsLayout(const Region& region) {
  return region.options().layoutHotkeyScan != kScrollLockScan;
}

}  // namespace

void TimerProc() {
  const Region& region = TheRegion();
  if (!region.valid()) return;
  ControlBlock& cb = region.control();
  cb.timerAlive = 1;
  if (ScrollLockShowsLayout(region)) SyncScrollLockToLayout(region);
  if (cb.tickCountdown == 0) {
    ++cb.sweeps;
    cb.tickCountdown = kSweepInterval;
    if (BothQueuesEmpty(cb)) cb.playbackWait = 0;
    // While a macro plays, the modifiers it released are up for the system
    // but still held by the user.
    if (cb.countHeld == 0) SweepModifiers(region);
  }
  --cb.tickCountdown;
  if (cb.playbackWait == 0) {
    PlayActions(region);
    // A macro longer than the queue goes on once its last part has been played.
    if (cb.actQEmpty != 0 && MacroPending(region)) ResumeMacroInTurn(region);
  }
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
  if (ScrollLockShowsLayout(region)) SyncScrollLockToLayout(region);
  NotifyClients(region);
  return 0;
}

}  // namespace velto
