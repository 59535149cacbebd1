// Both architectures: the controller's hooks run only in processes of its own
// architecture, a companion of the other architecture hooks that
// architecture's threads, and one region, one timer and one set of clients
// serve both. Each case runs as Windows treats a hook of the other
// architecture (called in the installer's thread) and as Wine does (not
// called, and the chain ends there).
#include "hooks/timer.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

class Companion : public SystemTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    sim::EndChainAtOtherArchitecture(GetParam());
    companionThread_ = sim::CreateOtherArchitectureThread();
    companion_ = sim::CreateWindow(companionThread_, kCompanionClass);
    otherThread_ = sim::CreateOtherArchitectureThread();
    other_ = sim::CreateWindow(otherThread_, "Edit");
    AsCompanion([this] { InstallHook(companion_); });
  }

  layoutkit::KeyboardDescription Description() const override {
    layoutkit::KeyboardDescription d = SystemTest::Description();
    d.options.layoutHotkeyMods = 0x0001;  // left Ctrl + F12 toggles the layout
    d.options.layoutHotkeyScan = scan::kF12;
    return d;
  }

  template <typename F>
  void AsCompanion(F f) {
    sim::RunAs(companionThread_);
    f();
    sim::Pump();
  }

  platform::Handle companionThread_ = 0;
  platform::Handle companion_ = 0;
  platform::Handle otherThread_ = 0;
  platform::Handle other_ = 0;
};

TEST_P(Companion, ApplicationsOfBothArchitecturesTypeByTheOneLayout) {
  AsController([] { SelectLayout(1); });
  for (const platform::Handle window : {other_, app_, other_}) {
    sim::SetFocus(window);
    Tap(scan::kS);                       // o
    Tap(scan::kGrave);                   // dead `
    Tap(scan::kA);                       // a -> a grave
    TapWith(scan::kRightAlt, scan::kE);  // euro
    TapWith(scan::kRightAlt, scan::kM);  // the macro, played by the controller's timer
    Tick(60);
  }
  const std::string each = "o\xE0\x80" "Best regards,\rVelto";
  EXPECT_EQ(sim::CharsOf(other_), each + each);
  EXPECT_EQ(Typed(), each);
  EXPECT_EQ(cb().modifiers, 0);
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(cb().actQEmpty, 1);
  EXPECT_EQ(DLLHooked(), 1u) << "the companion is no client";
  // The one timer is the controller's, asleep once everything is typed.
  EXPECT_EQ(cb().timerAlive, kTimerAsleep);
  EXPECT_EQ(sim::LiveTimers(), 0u) << "the companion has no timer";
}

TEST_P(Companion, TheHotkeyPressedInOneArchitectureSwitchesTheOther) {
  sim::SetFocus(other_);
  const std::size_t notices = Notices().size();
  Press(scan::kLeftCtrl);
  Tap(scan::kF12);
  Release(scan::kLeftCtrl);
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_GT(Notices().size(), notices) << "the controller heard of it";
  sim::SetFocus(app_);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "o");
}

TEST_P(Companion, RemovingTheCompanionLeavesTheControllersHooks) {
  AsController([] { SelectLayout(1); });
  EXPECT_EQ(sim::HookCount(sim::kKeyboard), 1u) << "no thread of the companion's kind had the focus yet";
  sim::SetFocus(other_);
  AsCompanion([this] { InstallHook(companion_); });  // a second call installs nothing more
  sim::SetFocus(app_);
  sim::SetFocus(other_);
  EXPECT_EQ(sim::HookCount(sim::kKeyboard), 2u);
  AsCompanion([this] { RemoveHook(companion_); });
  EXPECT_EQ(sim::HookCount(sim::kKeyboard), 1u);
  EXPECT_EQ(DLLHooked(), 1u);
  sim::SetFocus(other_);
  Tap(scan::kS);
  sim::SetFocus(app_);
  Tap(scan::kS);
  EXPECT_EQ(sim::CharsOf(other_), "s") << "untranslated, as without a companion";
  EXPECT_EQ(Typed(), "o");

  AsCompanion([this] { InstallHook(companion_); });
  AsController([this] { RemoveHook(controller_); });
  AsCompanion([this] { RemoveHook(companion_); });
  for (const sim::HookType type : {sim::kKeyboard, sim::kGetMessage, sim::kCbt}) {
    EXPECT_EQ(sim::HookCount(type), 0u) << "hook type " << type;
  }
  EXPECT_EQ(sim::LiveTimers(), 0u);
  EXPECT_EQ(cb().enabled, 0);
}

INSTANTIATE_TEST_SUITE_P(WindowsAndWine, Companion, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Wine" : "Windows"; });

}  // namespace
}  // namespace velto::testing
