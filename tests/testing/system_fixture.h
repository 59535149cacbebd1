// A whole simulated system: a controlling application with its window, an
// application whose window has the focus, and the library installed and
// enabled by the controller through its exports.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "control/exports.h"
#include "layoutkit/layout_builder.h"
#include "sim/sim.h"
#include "shared/region.h"
#include "simharness/system.h"
#include "testing/invariants.h"

namespace velto::testing {

// US scan codes used by the scenarios.
namespace scan {
constexpr std::uint16_t kA = 0x1E, kS = 0x1F, kD = 0x20, kE = 0x12, kQ = 0x10, kM = 0x32, kO = 0x18;
constexpr std::uint16_t kGrave = 0x29, kSpace = 0x39, kF12 = 0x58, kEnter = 0x1C;
constexpr std::uint16_t kLeftShift = 42, kRightShift = 54, kLeftCtrl = 29, kRightCtrl = 285;
constexpr std::uint16_t kLeftAlt = 56, kRightAlt = 312, kLeftWin = 347, kCapsLock = 58;
constexpr std::uint16_t kScrollLock = 70, kNumLock = 325, kApps = 349;
constexpr std::uint16_t kPad7 = 0x47, kPad1 = 0x4F;
}  // namespace scan

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The description SetUp loads: the demo (layout 0 US, layout 1 Dvorak, dead
  // keys ` and ' on layout 1, right Alt extras, macro 1).
  virtual layoutkit::KeyboardDescription Description() const;
  // Loads a description as the controller does.
  void Load(const layoutkit::KeyboardDescription& d);

  // Hardware key events, processed at once.
  void Tap(std::uint16_t s);
  void Press(std::uint16_t s);
  void Release(std::uint16_t s);
  // Taps `s` while `modifier` is held.
  void TapWith(std::uint16_t modifier, std::uint16_t s);
  void Tick(int ticks = 1);

  std::string Typed() const { return sim::CharsOf(app_); }
  // How many `message`s the application's window received (with `wParam`,
  // when given).
  int Received(std::uint32_t message) const;
  int Received(std::uint32_t message, platform::WParam wParam) const;
  // The notices (wParam, lParam) the controller's window received.
  std::vector<std::pair<platform::WParam, platform::LParam>> Notices(platform::Handle window) const;
  std::vector<std::pair<platform::WParam, platform::LParam>> Notices() const { return Notices(controller_); }
  // Calls exports as the controller, from its thread, and lets the system
  // deliver what they posted.
  template <typename F>
  void AsController(F f) {
    sim::RunAs(controllerThread_);
    f();
    sim::Pump();
    CheckInvariants();
  }
  // Fails the test for every invariant (testing/invariants.h) that is broken.
  void CheckInvariants();

  ControlBlock& cb() const { return TheRegion().control(); }

  simharness::SimSystem system_;
  platform::Handle controllerThread_ = 0;
  platform::Handle controller_ = 0;
  platform::Handle appThread_ = 0;
  platform::Handle app_ = 0;
  InvariantChecker invariants_;
  std::set<std::string> brokenInvariants_;  // each reported once
};

}  // namespace velto::testing
