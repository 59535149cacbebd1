// The library's timer stops when it has nothing to finish or to watch, and
// whatever gives it work wakes it: nothing it finished before is left
// unfinished.
#include "delivery/macro.h"
#include "hooks/timer.h"
#include "shared/keys.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using layoutkit::Entry;
using layoutkit::KeyboardDescription;

class IdleTimer : public SystemTest {
 protected:
  KeyboardDescription Description() const override {
    KeyboardDescription d = layoutkit::DemoDescription();
    std::string chords;
    for (int i = 0; i < 9; ++i) chords += "{LEFT}";
    d.SetMacro(3, std::string(98, 'w') + chords + "x");
    d.Put(1, scan::kD, kSlotRightAlt, 0, 3, Entry::kMacro);
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }
  void ShowLayoutByScrollLock() {
    KeyboardDescription d = Description();
    d.options.options = 1u << kOptScrollLockShowsLayout;
    d.options.layoutHotkeyScan = kModifierOnlyHotkey;
    Load(d);
    AsController([] { SelectLayout(1); });
  }
  // Ticks while a timer lives, at most `ticks` times; returns how many it took.
  int TickWhileAlive(int ticks) {
    int n = 0;
    while (n < ticks && sim::LiveTimers() != 0) {
      Tick();
      ++n;
    }
    return n;
  }
  void ExpectAsleep() {
    EXPECT_EQ(sim::LiveTimers(), 0u);
    EXPECT_EQ(cb().timerAlive, kTimerAsleep);
  }
};

TEST_F(IdleTimer, SleepsAfterASweepIntervalOfNothingAndAModifierWakesIt) {
  EXPECT_EQ(TickWhileAlive(100), kSweepInterval);
  ExpectAsleep();
  // Ctrl held: the sweep watches it, and finds its release that the hook never saw.
  Press(scan::kLeftCtrl);
  EXPECT_EQ(sim::LiveTimers(), 1u);
  sim::SetKeyDown(kVkControl, false);
  EXPECT_GT(TickWhileAlive(100), kSweepInterval);
  EXPECT_EQ(cb().modifiers, 0);
  ExpectAsleep();
}

TEST_F(IdleTimer, AMacroWithChordsPlaysToTheEndFromSleep) {
  TickWhileAlive(100);
  ExpectAsleep();
  TapWith(scan::kRightAlt, scan::kD);
  TickWhileAlive(1000);
  EXPECT_EQ(Typed(), std::string(98, 'w') + "x");
  EXPECT_EQ(Received(platform::kWmKeyDown, 0x25), 9);  // VK_LEFT
  EXPECT_FALSE(MacroPending(TheRegion()));
  ExpectAsleep();
}

TEST_F(IdleTimer, TheScrollLockLightFollowsALayoutChosenWhileItSleeps) {
  ShowLayoutByScrollLock();
  TickWhileAlive(100);
  ExpectAsleep();
  EXPECT_TRUE(sim::Toggled(kVkScroll));
  AsController([] { SelectLayout(0); });
  TickWhileAlive(100);
  EXPECT_FALSE(sim::Toggled(kVkScroll));
  EXPECT_EQ(cb().leds & 4, 0);
}

}  // namespace
}  // namespace velto::testing
