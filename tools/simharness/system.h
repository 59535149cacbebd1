// One whole simulated system (tools/sim) at a time, as the scenario
// tests, the fuzz targets and velto-sim run it: the one place that knows how
// it and its shared memory are brought up and taken down.
#pragma once

#include <functional>
#include <string>

#include "layoutkit/layout_builder.h"
#include "platform/platform.h"
#include "simharness/library.h"

namespace velto::simharness {

class SimSystem {
 public:
  SimSystem();
  ~SimSystem() { Down(); }
  SimSystem(const SimSystem&) = delete;
  SimSystem& operator=(const SimSystem&) = delete;

  // Brings up a fresh system: forgets the one before (sim::Reset), names the
  // shared memory after the prefix in effect ($VELTO_SIM_SHM_PREFIX, else
  // "velto-sim-<pid>-") and a count of this process's systems, so that no
  // two systems, in this process or in test programs run side by side, share
  // a region; removes a region that a killed process of the same pid left in
  // /dev/shm under that name, and attaches. With the whole library attached
  // it then creates the cast below. False, with no cast, when the region
  // cannot be mapped; Down() is still needed.
  bool Up(Attach how = Attach::kLibrary);
  // Detaches, removes the region from /dev/shm, forgets the system and puts
  // the earlier prefix back. Does nothing without an Up() before it.
  void Down();

  // The controller's start, from its thread: installs the library's hooks
  // from its window, hands over `d` and turns translation on. `after` runs
  // after each of the three calls (a test lets the system deliver what they
  // posted, and checks).
  void StartController(const layoutkit::KeyboardDescription& d, const std::function<void()>& after = {});

  // The cast: a controlling application's thread and window, and an
  // application's thread and window for the focus.
  platform::Handle controllerThread = 0;
  platform::Handle controller = 0;
  platform::Handle appThread = 0;
  platform::Handle app = 0;

 private:
  bool up_ = false;
  Attach how_ = Attach::kLibrary;
  std::string savedPrefix_;
};

}  // namespace velto::simharness
