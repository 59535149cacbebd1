#include "intercept/modifiers.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Leds = RegionTest;

TEST_F(Leds, RefreshReadsTheToggleBitsAndFlagsAChange) {
  sim::SetToggled(kVkNumLock, true);
  sim::SetToggled(kVkScroll, true);
  sim::SetKeyDown(kVkCapital, true);  // held but not toggled: light off
  cb().leds = 0x0008;                 // bits beyond the three lights are kept
  RefreshLeds(region());
  EXPECT_EQ(cb().leds, 0x000D);
  EXPECT_EQ(cb().changeFlags, 0x0002);

  cb().changeFlags = 0x0001;
  RefreshLeds(region());
  EXPECT_EQ(cb().changeFlags, 0x0001);  // unchanged lights leave the flags alone
}

TEST_F(Leds, ToggleFlipsTheBitAndPressesTheKeyOnce) {
  ToggleLed(region(), kVkCapital);
  EXPECT_EQ(cb().leds, 0x0002);
  EXPECT_EQ(cb().changeFlags, 0x0002);
  EXPECT_THAT(sim::KeyEvents(), ElementsAre(Down(20), Up(20)));
  ToggleLed(region(), kVkNumLock);
  ToggleLed(region(), kVkScroll);
  ToggleLed(region(), kVkCapital);
  EXPECT_EQ(cb().leds, 0x0005);
  EXPECT_EQ(sim::KeyEvents().size(), 8u);
}

TEST_F(Leds, ToggleOfAnotherKeyDoesNothing) {
  ToggleLed(region(), 65);
  EXPECT_EQ(cb().leds, 0);
  EXPECT_EQ(cb().changeFlags, 0);
  EXPECT_THAT(sim::KeyEvents(), IsEmpty());
}

class ScrollLockSync : public RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    cb().enabled = 1;
    options().options = 1u << kOptScrollLockShowsLayout;
  }
};

TEST_F(ScrollLockSync, LightsForLayoutOneOnceOnly) {
  cb().currentLayout = 1;
  SyncScrollLockToLayout(region());
  EXPECT_EQ(cb().leds, 0x0004);
  EXPECT_EQ(cb().changeFlags, 0x0002);
  EXPECT_THAT(sim::KeyEvents(), ElementsAre(Down(145), Up(145)));
  SyncScrollLockToLayout(region());
  EXPECT_EQ(sim::KeyEvents().size(), 2u);

  cb().currentLayout = 0;
  SyncScrollLockToLayout(region());
  EXPECT_EQ(cb().leds, 0);
  EXPECT_EQ(sim::KeyEvents().size(), 4u);
}

TEST_F(ScrollLockSync, LayoutsTwoAndThreeLightItWithoutPressingAgainAndAgain) {
  cb().currentLayout = 3;
  SyncScrollLockToLayout(region());
  SyncScrollLockToLayout(region());
  cb().currentLayout = 2;
  SyncScrollLockToLayout(region());
  EXPECT_EQ(cb().leds, 0x0004);
  EXPECT_EQ(sim::KeyEvents().size(), 2u);
}

TEST_F(ScrollLockSync, StopsWhenDisabledOptionOffOrAnyModifierHeld) {
  cb().currentLayout = 1;
  cb().enabled = 0;
  SyncScrollLockToLayout(region());
  cb().enabled = 1;
  options().options = 0;
  SyncScrollLockToLayout(region());
  options().options = 1u << kOptScrollLockShowsLayout;
  cb().modifiers = 0x0400;  // only the Caps Lock key held
  SyncScrollLockToLayout(region());
  EXPECT_EQ(cb().leds, 0);
  EXPECT_EQ(cb().changeFlags, 0);
  EXPECT_THAT(sim::KeyEvents(), IsEmpty());
}

}  // namespace
}  // namespace velto::testing
