// The simulated system the whole-keystroke fuzz targets run on, made afresh
// for every input: a controller with its window that installs the library
// and hands over a description, an application window that has the focus,
// and a console window. The invariants are checked after every step (every
// step of the random order, for keys queued back to back); a broken one
// aborts with its description.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "control/exports.h"
#include "layoutkit/layout_builder.h"
#include "sim/sim.h"
#include "shared/region.h"
#include "simharness/system.h"
#include "testing/invariants.h"

namespace velto::fuzzing {

class FuzzSystem {
 public:
  // Installs the library and loads `d` as a controller does, then enables
  // translation and gives the application window the focus.
  void Start(const layoutkit::KeyboardDescription& d) {
    if (!system_.Up()) Fail({"the shared region cannot be mapped"});
    checker_.Reset();
    scheduler_.reset();
    controllerThread_ = system_.controllerThread;
    app_ = system_.app;
    console_ = sim::CreateWindow(sim::CreateThread(), "ConsoleWindowClass");
    system_.StartController(d, [this] {
      sim::Pump();
      Check();
    });
    sim::SetFocus(app_);
    Check();
  }

  void Load(const layoutkit::KeyboardDescription& d) {
    AsController([&] { simharness::HandOver(simharness::BlocksOf(d)); });
  }

  // Calls exports from the controller's thread, then lets the system deliver.
  template <typename F>
  void AsController(F f) {
    RunQueued();
    sim::RunAs(controllerThread_);
    f();
    sim::Pump();
    Check();
  }

  void Press(std::uint16_t scan) {
    checker_.Press(TheRegion(), scan);
    sim::KeyDown(scan);
    Pumped();
  }

  void Release(std::uint16_t scan) {
    checker_.Release(TheRegion(), scan);
    sim::KeyUp(scan);
    Pumped();
  }

  // From here on the user's keys are only queued, back to back, until
  // something else happens: then a Scheduler seeded with `seed` runs the
  // system, with `ticks` timer ticks granted, checked after every step.
  void QueueKeys(std::uint32_t seed, int ticks) {
    RunQueued();
    scheduler_.emplace(seed);
    scheduler_->AddTicks(ticks);
  }

  void Tick() {
    RunQueued();
    sim::TickTimers(1);
    Check();
  }

  void Focus(bool console) {
    RunQueued();
    sim::SetFocus(console ? console_ : app_);
    Check();
  }

  // Lets the timer run until nothing is left to happen.
  void Settle() {
    RunQueued();
    for (int i = 0; i < kSettleTicks; ++i) {
      if (testing::Idle(TheRegion())) return;
      Tick();
    }
    if (!testing::Idle(TheRegion())) Fail({"still not idle after " + std::to_string(kSettleTicks) + " ticks"});
  }

  // Forgets what the threads received, so that the records stay small.
  void Forget() { sim::ClearDispatched(); }

  platform::Handle app() const { return app_; }

 private:
  static constexpr int kSettleTicks = 2000;
  static constexpr long kMaxSteps = 1L << 20;

  void Pumped() {
    if (scheduler_) return;
    sim::Pump();
    Check();
  }

  void RunQueued() {
    if (!scheduler_) return;
    sim::Scheduler scheduler = *scheduler_;
    scheduler_.reset();
    for (long steps = 0; scheduler.Step(); ++steps) {
      if (steps > kMaxSteps) Fail({"the scheduled input never runs dry"});
      Check();
    }
  }

  void Check() {
    const std::vector<std::string> broken = checker_.Check(TheRegion());
    if (!broken.empty()) Fail(broken);
  }

  [[noreturn]] static void Fail(const std::vector<std::string>& broken) {
    for (const std::string& b : broken) std::fprintf(stderr, "invariant broken: %s\n", b.c_str());
    std::abort();
  }

  simharness::SimSystem system_;
  testing::InvariantChecker checker_;
  std::optional<sim::Scheduler> scheduler_;  // while keys are only queued
  platform::Handle controllerThread_ = 0;
  platform::Handle app_ = 0;
  platform::Handle console_ = 0;
};

}  // namespace velto::fuzzing
