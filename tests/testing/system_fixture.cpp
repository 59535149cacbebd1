#include "testing/system_fixture.h"

#include <unistd.h>

#include <atomic>

#include "control/exports.h"

namespace velto::testing {

void SystemTest::SetUp() {
  static std::atomic<int> counter{0};
  sim::FailSharedMemory(false);
  sim::Reset();
  sim::SetSharedMemoryPrefix("velto-sys-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-");
  sim::RemoveSharedMemory(kRegionName);  // left by a killed process of the same pid
  ProcessAttach();
  ASSERT_TRUE(TheRegion().valid());

  controllerThread_ = sim::CreateThread();
  controller_ = sim::CreateWindow(controllerThread_, "VeltoController");
  appThread_ = sim::CreateThread();
  app_ = sim::CreateWindow(appThread_, "Edit");

  sim::RunAs(controllerThread_);
  InstallHook(controller_);
  Load(Description());
  AsController([] { Enable(1); });
  sim::SetFocus(app_);
  sim::ClearDispatched();
  sim::ClearKeyEvents();
  invariants_.JudgeOnlyKeysSent();
}

void SystemTest::TearDown() {
  ProcessDetach();
  sim::RemoveSharedMemory(kRegionName);
}

layoutkit::KeyboardDescription SystemTest::Description() const { return layoutkit::DemoDescription(); }

void SystemTest::Load(const layoutkit::KeyboardDescription& d) {
  AsController([&] { SetupKeyboard(&d.options, &d.keys, d.layouts, &d.deadKeys, &d.macros); });
}

void SystemTest::Press(std::uint16_t s) {
  invariants_.Press(TheRegion(), s);
  sim::KeyDown(s);
  sim::Pump();
  CheckInvariants();
}

void SystemTest::Release(std::uint16_t s) {
  invariants_.Release(TheRegion(), s);
  sim::KeyUp(s);
  sim::Pump();
  CheckInvariants();
}

void SystemTest::Tick(int ticks) {
  for (int i = 0; i < ticks; ++i) {
    sim::TickTimers(1);
    CheckInvariants();
  }
}

void SystemTest::CheckInvariants() {
  for (const std::string& broken : invariants_.Check(TheRegion())) {
    if (brokenInvariants_.insert(broken).second) ADD_FAILURE() << "invariant broken: " << broken;
  }
}

void SystemTest::Tap(std::uint16_t s) {
  Press(s);
  Release(s);
}

void SystemTest::TapWith(std::uint16_t modifier, std::uint16_t s) {
  Press(modifier);
  Tap(s);
  Release(modifier);
}

int SystemTest::Received(std::uint32_t message) const {
  int count = 0;
  for (const sim::Message& m : sim::DispatchedTo(app_)) count += m.message == message;
  return count;
}

int SystemTest::Received(std::uint32_t message, platform::WParam wParam) const {
  int count = 0;
  for (const sim::Message& m : sim::DispatchedTo(app_)) count += m.message == message && m.wParam == wParam;
  return count;
}

std::vector<std::pair<platform::WParam, platform::LParam>> SystemTest::Notices(platform::Handle window) const {
  std::vector<std::pair<platform::WParam, platform::LParam>> out;
  for (const sim::Message& m : sim::DispatchedTo(window)) {
    if (m.message == TheRegion().control().notifyMsg) out.emplace_back(m.wParam, m.lParam);
  }
  return out;
}

}  // namespace velto::testing
