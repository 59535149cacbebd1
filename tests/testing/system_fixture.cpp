#include "testing/system_fixture.h"

namespace velto::testing {

void SystemTest::SetUp() {
  ASSERT_TRUE(system_.Up());
  controllerThread_ = system_.controllerThread;
  controller_ = system_.controller;
  appThread_ = system_.appThread;
  app_ = system_.app;
  system_.StartController(Description(), [this] {
    sim::Pump();
    CheckInvariants();
  });
  sim::SetFocus(app_);
  sim::ClearDispatched();
  sim::ClearKeyEvents();
  invariants_.JudgeOnlyKeysSent();
}

void SystemTest::TearDown() { system_.Down(); }

layoutkit::KeyboardDescription SystemTest::Description() const { return layoutkit::DemoDescription(); }

void SystemTest::Load(const layoutkit::KeyboardDescription& d) {
  AsController([&] { simharness::HandOver(simharness::BlocksOf(d)); });
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
