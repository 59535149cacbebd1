// Dead keys: the table lookup and whole keystrokes.
#include "delivery/deliver.h"
#include "testing/region_fixture.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using DeadKeyTableLookup = RegionTest;

TEST_F(DeadKeyTableLookup, FirstMatchingRowWinsAndSpaceGivesTheDeadKey) {
  DeadKeyRow* rows = region().deadKeys().rows;
  rows[3] = {'^', 'e', 0xEA};
  rows[7] = {'^', 'e', 'X'};
  rows[255] = {'~', 'n', 0xF1};
  rows[9] = {'^', ' ', 'Y'};
  EXPECT_EQ(CombineDeadKey(region(), '^', 'e'), 0xEA);
  EXPECT_EQ(CombineDeadKey(region(), '~', 'n'), 0xF1);  // the last row is searched too
  EXPECT_EQ(CombineDeadKey(region(), '^', ' '), '^');   // whatever the table holds
  EXPECT_EQ(CombineDeadKey(region(), '^', 'q'), 0);
  EXPECT_EQ(CombineDeadKey(region(), 'e', '^'), 0);     // order matters
}

class DeadKeys : public SystemTest {
 protected:
  layoutkit::KeyboardDescription Description() const override {
    layoutkit::KeyboardDescription d = layoutkit::DemoDescription();
    d.Put(1, scan::kSpace, kSlotPlain, 0, ' ');
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }
};

constexpr std::uint16_t kScanJ = 0x24;  // 'h' on layout 1

TEST_F(DeadKeys, DeadKeyThenAMatchingCharacter) {
  Tap(scan::kGrave);
  EXPECT_EQ(Typed(), "");
  EXPECT_EQ(cb().pendingDeadKey, '`');
  Tap(scan::kA);
  Tap(scan::kQ);  // the acute dead key
  Tap(scan::kD);  // 'e'
  EXPECT_EQ(Typed(), "\xE0\xE9");
  EXPECT_EQ(cb().pendingDeadKey, 0);
}

TEST_F(DeadKeys, WithoutAMatchTheCharacterComesAloneAndTheDeadKeyIsForgotten) {
  Tap(scan::kGrave);
  Tap(kScanJ);
  Tap(scan::kA);
  EXPECT_EQ(Typed(), "ha");
}

TEST_F(DeadKeys, SpaceTypesTheDeadKeyItself) {
  Tap(scan::kQ);
  Tap(scan::kSpace);
  Tap(scan::kSpace);
  EXPECT_EQ(Typed(), "' ");
}

TEST_F(DeadKeys, ASecondDeadKeyReplacesTheFirst) {
  Tap(scan::kGrave);
  Tap(scan::kQ);
  Tap(scan::kA);
  EXPECT_EQ(Typed(), "\xE1");
}

}  // namespace
}  // namespace velto::testing
