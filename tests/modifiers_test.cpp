#include "intercept/modifiers.h"

#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

class Modifiers : public RegionTest {
 protected:
  // The key step's first stage, as the keyboard hook runs it.
  void Key(std::uint16_t scan, bool keyUp) {
    cb().keyIsModifier = IsModifierKey(scan);
    UpdateModifiers(region(), scan, keyUp);
  }
};

constexpr std::uint16_t kScanA = 0x1E;

TEST_F(Modifiers, CtrlAThenReleases) {
  Key(kScanLeftCtrl, false);
  Key(kScanA, false);
  EXPECT_EQ(cb().modsAtKeyDown, 0x0001);
  EXPECT_EQ(cb().modsChord, 0x0001);
  Key(kScanA, true);
  EXPECT_EQ(cb().modsChord, 0);
  Key(kScanLeftCtrl, true);
  EXPECT_EQ(cb().modifiers, 0);
  EXPECT_EQ(cb().modsChord, 0);
}

TEST_F(Modifiers, ChordSurvivesModifierReleases) {
  Key(kScanLeftCtrl, false);
  EXPECT_EQ(cb().modsChord, 0x0001);
  EXPECT_EQ(cb().modsAtModifierDown, 0x0001);
  Key(kScanLeftShift, false);
  EXPECT_EQ(cb().modsChord, 0x0041);
  EXPECT_EQ(cb().modsAtModifierDown, 0x0041);
  Key(kScanLeftShift, true);
  EXPECT_EQ(cb().modsChord, 0x0041);
  EXPECT_EQ(cb().modifiers, 0x0001);
  Key(kScanLeftCtrl, true);
  EXPECT_EQ(cb().modsChord, 0x0041);
}

TEST_F(Modifiers, AutoRepeatOfAModifierRerunsItsSteps) {
  Key(kScanLeftAlt, false);
  cb().modsChord = 0;
  cb().modsAtKeyDown = 0;
  cb().modsAtModifierDown = 0;
  Key(kScanLeftAlt, false);  // repeat
  EXPECT_EQ(cb().modsChord, 0x0004);
  EXPECT_EQ(cb().modsAtKeyDown, 0x0004);
  EXPECT_EQ(cb().modsAtModifierDown, 0x0004);
}

TEST_F(Modifiers, ReleasesCountedPerKeyAndSaturate) {
  CountReleasedModifier(region(), kScanRightAlt);
  CountReleasedModifier(region(), kScanRightAlt);
  CountReleasedModifier(region(), kScanCapsLock);
  CountReleasedModifier(region(), kScanA);
  EXPECT_EQ(cb().heldCounts[3], 2);
  EXPECT_EQ(cb().heldCounts[8], 1);
  EXPECT_EQ(cb().heldCounts[0], 0);
  for (int i = 0; i < 300; ++i) CountReleasedModifier(region(), kScanLeftShift);
  EXPECT_EQ(cb().heldCounts[6], 255);
  EXPECT_EQ(cb().heldCounts[7], 0);  // no carry into the next counter
}

TEST_F(Modifiers, SweepClearsOnlyPairsWhoseKeysAreAllUp) {
  cb().modifiers = 0x04FF;  // everything, Caps Lock key held too
  sim::SetKeyDown(kVkMenu, true);  // some Alt key still down
  SweepModifiers(region());
  EXPECT_EQ(cb().modifiers, 0x040C);  // Alt bits and Caps Lock held survive
  sim::SetKeyDown(kVkMenu, false);
  SweepModifiers(region());
  EXPECT_EQ(cb().modifiers, 0x0400);
  sim::SetKeyDown(kVkLeftWin, true);
  cb().modifiers = 0x0030;
  SweepModifiers(region());
  EXPECT_EQ(cb().modifiers, 0x0010);
}

TEST_F(Modifiers, SweepNeverSets) {
  for (int vk : {kVkShift, kVkControl, kVkMenu, kVkLeftWin, kVkRightWin}) {
    sim::SetKeyDown(static_cast<std::uint8_t>(vk), true);
  }
  cb().modifiers = 0;
  SweepModifiers(region());
  EXPECT_EQ(cb().modifiers, 0);
}

}  // namespace
}  // namespace velto::testing
