// The exported control functions as a controlling application uses them.
#include <cstring>

#include "control/exports.h"
#include "hooks/timer.h"
#include "intercept/modifiers.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

class Control : public SystemTest {
 protected:
  // The library's three hooks and its timer, `n` of each.
  static void ExpectInstalled(std::size_t n) {
    EXPECT_EQ(sim::HookCount(sim::kKeyboard), n);
    EXPECT_EQ(sim::HookCount(sim::kGetMessage), n);
    EXPECT_EQ(sim::HookCount(sim::kCbt), n);
    EXPECT_EQ(sim::LiveTimers(), n);
  }
  std::vector<std::uint32_t> Clients() const {
    return {cb().clients, cb().clients + std::min<std::size_t>(cb().clientCount, kMaxClients)};
  }
};

TEST_F(Control, SetUpLeavesHooksTimerAndOneClient) {
  EXPECT_EQ(DLLHooked(), 1u);
  EXPECT_EQ(DLLEnabled(), 1u);
  ExpectInstalled(1);
  EXPECT_NE(cb().keyboardHook, 0u);
  EXPECT_NE(cb().timerId, 0u);
  EXPECT_EQ(cb().notifyMsg, sim::RegisteredMessage("quorvexmessage"));
  EXPECT_GE(cb().notifyMsg, 0xC000u);
  EXPECT_EQ(MMFileSize(), 83400u);
}

TEST_F(Control, ChangesAreAnnouncedToEveryClientInOrder) {
  const platform::Handle second = sim::CreateWindow(controllerThread_, "VeltoController");
  AsController([&] { InstallHook(second); });
  sim::ClearDispatched();
  AsController([] { SelectLayout(1); });
  sim::Pump();
  EXPECT_THAT(Notices(controller_), ElementsAre(Pair(1u, 0)));
  EXPECT_THAT(Notices(second), ElementsAre(Pair(1u, 0)));
  EXPECT_EQ(cb().changeFlags, 0);
}

TEST_F(Control, KeyNoticesCarryTheKey) {
  AsController([] { SelectLayout(1); });
  sim::ClearDispatched();
  Tap(scan::kS);  // translated: the controller hears of the key-down
  EXPECT_THAT(Notices(controller_), ElementsAre(Pair(4u, 0x1F)));
  // The key-up passes; the thread that retrieves it posts the notice to itself.
  std::vector<sim::Message> own;
  for (const sim::Message& m : sim::Dispatched(appThread_)) {
    if (m.window == 0 && m.message == cb().notifyMsg) own.push_back(m);
  }
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own[0].wParam, 4u);
  EXPECT_EQ(own[0].lParam, 0x41F);

  AsController([&] { SetCurrentKR(app_); });
  sim::ClearDispatched();
  Tap(scan::kS);
  EXPECT_TRUE(Notices(controller_).empty());
  EXPECT_THAT(Notices(app_), ElementsAre(Pair(4u, 0x1F)));
}

TEST_F(Control, LockLightChangesAreAnnounced) {
  sim::ClearDispatched();
  Tap(scan::kCapsLock);
  EXPECT_EQ(Leds(), 2u);
  bool ledNotice = false;
  for (auto [w, l] : Notices()) ledNotice |= (w & 2) != 0;
  EXPECT_TRUE(ledNotice);
}

TEST_F(Control, InstallHookTwiceFromALiveControllerAddsTheWindowAgain) {
  AsController([&] { InstallHook(controller_); });
  EXPECT_EQ(DLLHooked(), 2u);
  ExpectInstalled(1);
}

TEST_F(Control, AnotherControllersTimerKeepsItsHooksTickingOrAsleep) {
  // A second controlling process: its InstallHook sees the first one's timer
  // tick, and wakes it first if it sleeps.
  for (const bool asleep : {true, false}) {
    SCOPED_TRACE(asleep ? "asleep" : "ticking");
    for (int i = 0; asleep && i < 100 && sim::LiveTimers() != 0; ++i) Tick();
    ASSERT_EQ(cb().timerAlive == kTimerAsleep, asleep);
    ProcessDetach();
    ProcessAttach();
    const platform::Handle thread = sim::CreateThread();
    const platform::Handle window = sim::CreateWindow(thread, "VeltoController");
    sim::OnSleep([](std::uint32_t) { sim::TickTimers(1); });
    sim::RunAs(thread);
    InstallHook(window);
    sim::OnSleep(nullptr);
    EXPECT_EQ(cb().clients[0], controller_);
    ExpectInstalled(1);
    AsController([&] { RemoveHook(window); });
  }
}

TEST_F(Control, InstallHookRecoversFromAControllerThatDied) {
  const std::uint32_t oldKeyboardHook = cb().keyboardHook;
  AsController([&] { InstallHook(sim::CreateWindow(controllerThread_, "Other")); });
  ASSERT_EQ(DLLHooked(), 2u);
  // The controller is gone; its region lives on in a hooked process. A new
  // controller process starts: no timer ticks while it probes.
  ProcessDetach();
  ProcessAttach();
  const platform::Handle thread = sim::CreateThread();
  const platform::Handle window = sim::CreateWindow(thread, "VeltoController");
  sim::RunAs(thread);
  InstallHook(window);
  EXPECT_EQ(DLLHooked(), 1u);
  EXPECT_EQ(cb().clients[0], window);
  ExpectInstalled(1);
  EXPECT_NE(cb().keyboardHook, oldKeyboardHook);
  // Translation still works through the new hooks and timer.
  sim::RunAs(thread);
  SelectLayout(1);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "o");
}

TEST_F(Control, RemoveHookOfTheMiddleClientKeepsTheOthersInOrder) {
  const platform::Handle b = sim::CreateWindow(controllerThread_, "B");
  const platform::Handle c = sim::CreateWindow(controllerThread_, "C");
  AsController([&] {
    InstallHook(b);
    InstallHook(c);
    RemoveHook(b);
  });
  EXPECT_THAT(Clients(), ElementsAre(controller_, c));
  ExpectInstalled(1);
  EXPECT_EQ(DLLEnabled(), 1u);
}

TEST_F(Control, RemoveHookOfAnUnknownWindowChangesNothing) {
  const platform::Handle b = sim::CreateWindow(controllerThread_, "B");
  AsController([&] { RemoveHook(b); });
  EXPECT_THAT(Clients(), ElementsAre(controller_));
  ExpectInstalled(1);
  EXPECT_EQ(DLLEnabled(), 1u);
}

TEST_F(Control, TheLastRemoveHookTakesEverythingDown) {
  const platform::Handle b = sim::CreateWindow(controllerThread_, "B");
  AsController([&] {
    InstallHook(b);
    RemoveHook(controller_);
  });
  ExpectInstalled(1);
  AsController([&] { RemoveHook(b); });
  EXPECT_EQ(DLLHooked(), 0u);
  EXPECT_EQ(DLLEnabled(), 0u);
  ExpectInstalled(0);
  EXPECT_EQ(cb().keyboardHook | cb().getMsgHook | cb().cbtHook | cb().timerId, 0u);
  AsController([&] { RemoveHook(b); });  // nothing left to remove
  EXPECT_EQ(DLLHooked(), 0u);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "s");
}

TEST_F(Control, AThirtyThirdClientIsRefused) {
  for (int i = 1; i < 33; ++i) {
    AsController([&] { InstallHook(sim::CreateWindow(controllerThread_, "W")); });
  }
  EXPECT_EQ(DLLHooked(), 32u);
  EXPECT_EQ(cb().currentKR, 0u);  // the field after the 32 slots
}

TEST_F(Control, EnableUsesTheLowSixteenBitsAndSetsTheLocks) {
  AsController([] { Enable(0x10000); });
  EXPECT_EQ(DLLEnabled(), 0u);
  layoutkit::KeyboardDescription d = Description();
  d.options.options = (1u << kOptEnforceNumLock) | (1u << kOptNumLockState) | (1u << kOptEnforceCapsLock);
  Load(d);
  sim::ClearKeyEvents();
  AsController([] { Enable(1); });
  EXPECT_THAT(sim::KeyEvents(), ElementsAre(sim::KeyEventCall{kVkNumLock, 0, 0}, sim::KeyEventCall{kVkNumLock, 0, 2}));
  sim::Pump();
  EXPECT_EQ(Leds(), 1u);
  EXPECT_TRUE(sim::Toggled(kVkNumLock));
  sim::ClearKeyEvents();
  AsController([] { Enable(1); });  // already as asked
  EXPECT_TRUE(sim::KeyEvents().empty());
}

TEST_F(Control, LayoutQueriesAndNames) {
  char name[21] = {};
  std::memset(name, '#', 20);
  AsController([&] {
    ToggleLayout();
    CurrentLayoutName(name);
  });
  EXPECT_EQ(CurrentLayout(), 1u);
  EXPECT_EQ(std::string(name, 20), std::string("Dvorak") + std::string(14, '\0'));
  AsController([] { SelectLayout(0x103); });
  EXPECT_EQ(CurrentLayout(), 3u);
  AsController([] { ToggleLayout(); });
  EXPECT_EQ(CurrentLayout(), 2u);
  AsController([] { CurrentLayoutName(nullptr); });
}

TEST_F(Control, NullBlocksLeaveTheTablesAsTheyWere) {
  AsController([] { SetupKeyboard(nullptr, nullptr, nullptr, nullptr, nullptr); });
  AsController([] { SelectLayout(1); });
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "o");
}

TEST_F(Control, TheTimerSweepsModifiersEveryTwentyFifthTick) {
  const std::uint16_t before = cb().sweeps;
  cb().modifiers = 0x0001;  // a left Ctrl whose release was never seen
  Tick(25);
  EXPECT_EQ(cb().sweeps, before);
  EXPECT_EQ(cb().modifiers, 0x0001);
  Tick(1);
  EXPECT_EQ(cb().sweeps, before + 1);
  EXPECT_EQ(cb().modifiers, 0);
  cb().modifiers = 0x0002;  // and a right one
  Tick(24);
  EXPECT_EQ(cb().sweeps, before + 1);
  Tick(1);
  EXPECT_EQ(cb().sweeps, before + 2);
  EXPECT_EQ(cb().modifiers, 0);
  EXPECT_EQ(cb().timerAlive, 1);
}

TEST_F(Control, FocusChangesRefreshTheLightsAndAreCounted) {
  const std::uint16_t calls = cb().cbtCalls;
  sim::SetToggled(kVkScroll, true);
  const platform::Handle other = sim::CreateWindow(appThread_, "Edit");
  sim::ClearDispatched();
  sim::SetFocus(other);
  EXPECT_GT(cb().cbtCalls, calls);
  EXPECT_EQ(Leds(), 4u);
  // Reported by the focus hook, and again once a thread sees that the
  // reported lights lag behind.
  EXPECT_THAT(Notices(), ElementsAre(Pair(2u, 0), Pair(2u, 0)));
  EXPECT_EQ(cb().ledsReported, 4);
}

class Inert : public SystemTest {};

TEST_F(Inert, WithoutTheRegionEverythingPassesAndNothingIsDone) {
  AsController([] { SelectLayout(1); });
  // A process whose mapping fails, with the hooks already installed by another.
  ProcessDetach();
  sim::FailSharedMemory(true);
  ProcessAttach();
  EXPECT_FALSE(TheRegion().valid());
  Tap(scan::kS);
  Tick(30);
  EXPECT_EQ(Typed(), "s");
  const platform::Handle w = sim::CreateWindow(controllerThread_, "W");
  AsController([&] {
    InstallHook(w);
    Enable(1);
    RemoveHook(w);
  });
  EXPECT_EQ(DLLHooked(), 0u);
  EXPECT_EQ(DLLEnabled(), 0u);
  EXPECT_EQ(Leds(), 0u);
  EXPECT_EQ(CurrentLayout(), 0u);
  EXPECT_EQ(MMFileSize(), 83400u);
  char name[20] = {'x'};
  CurrentLayoutName(name);
  EXPECT_EQ(name[0], 'x');
  sim::FailSharedMemory(false);
}

}  // namespace
}  // namespace velto::testing
