#include "simharness/system.h"

#include <atomic>

#include "control/exports.h"
#include "sim/sim.h"
#include "shared/region.h"

namespace velto::simharness {

SimSystem::SimSystem() {
  // The simulator keeps its state in function statics, which die in the
  // reverse order of their making. Made before this object is, they outlive
  // it, so that a system kept in a static (a fuzz target's) is still taken
  // down at exit.
  sim::SharedMemoryPrefix();
  sim::Focus();
  sim::RegisteredMessage("");
}

bool SimSystem::Up(Attach how) {
  static std::atomic<int> systems{0};
  Down();
  up_ = true;
  how_ = how;
  savedPrefix_ = sim::SharedMemoryPrefix();
  sim::FailSharedMemory(false);
  sim::Reset();
  sim::SetSharedMemoryPrefix(savedPrefix_ + std::to_string(systems++) + "-");
  sim::RemoveSharedMemory(kRegionName);
  sim::RemoveSharedMemory(kCompositionsName);
  controllerThread = controller = appThread = app = 0;
  if (!AttachLibrary(how)) return false;
  if (how == Attach::kLibrary) {
    controllerThread = sim::CreateThread();
    controller = sim::CreateWindow(controllerThread, "VeltoController");
    appThread = sim::CreateThread();
    app = sim::CreateWindow(appThread, "Edit");
  }
  return true;
}

void SimSystem::Down() {
  if (!up_) return;
  up_ = false;
  DetachLibrary(how_);
  sim::RemoveSharedMemory(kRegionName);
  sim::RemoveSharedMemory(kCompositionsName);
  sim::Reset();
  sim::SetSharedMemoryPrefix(savedPrefix_);
  controllerThread = controller = appThread = app = 0;
}

void SimSystem::StartController(const layoutkit::KeyboardDescription& d, const std::function<void()>& after) {
  const auto call = [&](const auto& f) {
    sim::RunAs(controllerThread);
    f();
    if (after) after();
  };
  call([&] { InstallHook(controller); });
  call([&] { HandOver(BlocksOf(d)); });
  call([] { Enable(1); });
}

}  // namespace velto::simharness
