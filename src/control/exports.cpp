#include "control/exports.h"

#include <algorithm>
#include <cstring>

#include "control/companion_hooks.h"
#include "hooks/hook_thread.h"
#include "hooks/timer.h"
#include "intercept/modifiers.h"
#include "platform/platform.h"
#include "shared/bits.h"
#include "shared/notice.h"

using velto::ControlBlock;
using velto::Region;

namespace {

constexpr std::uint32_t kTimerProbeMs = 100;

const Region* Attached() {
  const Region& region = velto::TheRegion();
  return region.valid() ? &region : nullptr;
}

std::uint32_t Handle32(std::uintptr_t window) { return static_cast<std::uint32_t>(window); }


void Unhook(std::uint32_t& hook) {
  if (hook != 0 && velto::platform::RemoveHook(hook)) hook = 0;
}

// Hooks and timer left in the region by a controller that is gone.
void ForgetDeadController(ControlBlock& cb) {
  velto::StopOwnTimer(cb);
  Unhook(cb.getMsgHook);
  Unhook(cb.keyboardHook);
  Unhook(cb.cbtHook);
  cb.timerId = 0;
  cb.keyboardHook = 0;
  cb.getMsgHook = 0;
  cb.cbtHook = 0;
  cb.clientCount = 0;
}

void InstallMissing(std::uint32_t& hook, velto::platform::HookKind kind) {
  if (hook != 0) return;
  hook = velto::platform::InstallHook(kind);
  if (hook != 0) velto::SetHookThread(velto::platform::GetCurrentThreadId());
}

bool IsCompanion(std::uintptr_t window) {
  char name[sizeof velto::kCompanionClass + 1];
  return velto::platform::GetClassName(window, name, sizeof name) > 0 &&
         std::strcmp(name, velto::kCompanionClass) == 0;
}

// The region for a controller's call with `window`: null when there is
// none, or when the window is a companion's, whose hooks `forCompanion` then
// installs or removes.
const Region* ForController(std::uintptr_t window, void (*forCompanion)()) {
  const Region* region = Attached();
  if (region == nullptr || !IsCompanion(window)) return region;
  forCompanion();
  return nullptr;
}

void LayoutChanged(const Region& region, bool syncScrollLock) {
  velto::SetBit(&region.control().changeFlags, velto::kChangeLayoutOrEnable, 1);
  if (syncScrollLock) velto::SyncScrollLockToLayout(region);
  velto::NotifyClients(region);
  // The timer puts the light right.
  velto::WakeTimerIfNeeded(region);
}

}  // namespace

namespace velto {

void ProcessAttach() {
  ForgetOwnTimer();
  SetHookThread(0);
  ForgetCompanion();
  AttachRegion();
}

void ProcessDetach() { DetachRegion(); }

}  // namespace velto

extern "C" {

void InstallHook(std::uintptr_t window) {
  const Region* region = ForController(window, velto::InstallCompanionHooks);
  if (region == nullptr) return;
  ControlBlock& cb = region->control();
  // While the calling thread waits here its own timer cannot tick, yet its
  // controller is alive.
  const bool ownTimer = velto::IsOwnTimer(cb.timerId);
  const bool ticks = velto::ProbeTimer(*region, [] { velto::platform::Sleep(kTimerProbeMs); });
  if (!ticks && !ownTimer) ForgetDeadController(cb);

  InstallMissing(cb.keyboardHook, velto::platform::HookKind::Keyboard);
  InstallMissing(cb.getMsgHook, velto::platform::HookKind::GetMessage);
  InstallMissing(cb.cbtHook, velto::platform::HookKind::Cbt);
  if (cb.timerId == 0) velto::StartOwnTimer(*region);
  cb.notifyMsg = velto::platform::RegisterWindowMessage(velto::kNotifyMessageName);
  velto::RefreshLeds(*region);
  // There are 32 slots; a further window is not registered.
  if (cb.clientCount < velto::kMaxClients) cb.clients[cb.clientCount++] = Handle32(window);
}

void SetupKeyboard(const void* options, const void* keyTable, const void* layouts, const void* deadKeys,
                   const void* macros) {
  const Region* region = Attached();
  if (region == nullptr) return;
  velto::LoadDescription(*region, options, keyTable, layouts, deadKeys, macros);
  velto::ResetState(*region);
  velto::SyncScrollLockToLayout(*region);
  velto::SetBit(&region->control().changeFlags, velto::kChangeLayoutOrEnable, 1);
  velto::NotifyClients(*region);
  velto::WakeTimerIfNeeded(*region);
}

void Enable(std::uint32_t flag) {
  const Region* region = Attached();
  if (region == nullptr) return;
  ControlBlock& cb = region->control();
  const std::uint16_t f = flag & 0xFFFF;
  const std::uint16_t o = region->options().options;
  if (f != 0) {
    for (const velto::LockKey& lock : velto::kLockKeys) {
      if (velto::TestBit(o, lock.enforce) && velto::TestBit(o, lock.state) != velto::TestBit(cb.leds, lock.led)) {
        velto::ToggleLed(*region, lock.vk);
      }
    }
  }
  velto::SetBit(&cb.changeFlags, velto::kChangeLayoutOrEnable, 1);
  velto::ResetState(*region);
  cb.enabled = f;
  velto::SyncScrollLockToLayout(*region);
  velto::NotifyClients(*region);
  velto::WakeTimerIfNeeded(*region);
}

void SelectLayout(std::uint32_t layout) {
  const Region* region = Attached();
  if (region == nullptr) return;
  region->control().currentLayout = static_cast<std::uint8_t>(layout);
  LayoutChanged(*region, false);
}

void ToggleLayout() {
  const Region* region = Attached();
  if (region == nullptr) return;
  region->control().currentLayout ^= 1;
  LayoutChanged(*region, true);
}

void SetCurrentKR(std::uintptr_t window) {
  if (const Region* region = Attached()) region->control().currentKR = Handle32(window);
}

void RemoveHook(std::uintptr_t window) {
  const Region* region = ForController(window, velto::RemoveCompanionHooks);
  if (region == nullptr) return;
  ControlBlock& cb = region->control();
  const std::size_t count = std::min<std::size_t>(cb.clientCount, velto::kMaxClients);
  std::uint32_t* const end = cb.clients + count;
  std::uint32_t* const slot = std::find(cb.clients, end, Handle32(window));
  // A window that is not registered changes nothing.
  if (slot == end) return;
  if (count == 1) {
    cb.enabled = 0;
    velto::ResetState(*region);
    velto::StopOwnTimer(cb);
    Unhook(cb.getMsgHook);
    Unhook(cb.keyboardHook);
    Unhook(cb.cbtHook);
    velto::SetHookThread(0);
  }
  std::copy(slot + 1, end, slot);
  cb.clientCount = static_cast<std::uint16_t>(count - 1);
}

std::uint32_t DLLHooked() {
  const Region* region = Attached();
  return region ? region->control().clientCount : 0;
}

std::uint32_t DLLEnabled() {
  const Region* region = Attached();
  return region && region->control().enabled != 0 ? 1 : 0;
}

std::uint32_t Leds() {
  const Region* region = Attached();
  return region ? region->control().leds : 0;
}

std::uint32_t CurrentLayout() {
  const Region* region = Attached();
  return region ? region->control().currentLayout : 0;
}

void CurrentLayoutName(char* name) {
  const Region* region = Attached();
  if (region == nullptr || name == nullptr) return;
  std::memcpy(name, region->currentLayoutRecord().name, velto::kLayoutNameSize);
}

std::uint32_t MMFileSize() { return velto::kRegionSize; }

}  // extern "C"
