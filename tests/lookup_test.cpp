#include "intercept/lookup.h"

#include "intercept/modifiers.h"
#include "layoutkit/layout_builder.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

constexpr std::uint16_t kScan = 0x1E;
constexpr std::uint16_t M(ModifierBit b) { return static_cast<std::uint16_t>(1u << b); }

class Lookup : public RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    options().scanMap[kScan] = 5;
  }
  // Writes a distinct character into every slot and column of key 5 of every
  // plane: plane * 64 + slot * 8 + column + 1, so a result names where it came from.
  void FillKey() {
    for (unsigned p = 0; p < kPlanes; ++p)
      for (unsigned s = 0; s < kSlotsPerKey; ++s)
        for (unsigned c = 0; c < 3; ++c)
          region().keyTable().planes[p][5].slots[s].ch[c] = static_cast<std::uint8_t>(p * 64 + s * 8 + c + 1);
  }
  static int Where(unsigned plane, unsigned slot, unsigned column) {
    return static_cast<int>(plane * 64 + slot * 8 + column + 1);
  }
  int Translate(std::uint16_t mods) {
    cb().modifiers = mods;
    return TranslateKey(region(), kScan);
  }
};

TEST_F(Lookup, WorkedExample) {
  cb().currentLayout = 1;
  cb().leds = 1u << kLedCapsLock;
  std::uint8_t* table = reinterpret_cast<std::uint8_t*>(&region().keyTable());
  table[10908 + 1] = 'X';
  table[10908 + 3] = 0x02;  // column 1 is a dead key
  EXPECT_EQ(Translate(M(kModRightAlt) | M(kModLeftShift)), 0x300 | 'X');
  table[10908 + 3] = 0x12;  // and a macro number: macro wins
  EXPECT_EQ(Translate(M(kModRightAlt) | M(kModLeftShift)), 0x400 | 'X');
  region().layoutRecords()[1].rightModEquivalence = 0x0002;
  table[10904 + 1] = 'Y';  // slot 3 (offset 12) of the same record
  EXPECT_EQ(Translate(M(kModRightAlt) | M(kModLeftShift)), 'Y');
}

TEST_F(Lookup, SlotChoiceOrder) {
  FillKey();
  EXPECT_EQ(Translate(0), Where(0, 0, 0));
  EXPECT_EQ(Translate(M(kModLeftCtrl)), Where(0, 1, 0));
  EXPECT_EQ(Translate(M(kModRightCtrl)), Where(0, 2, 0));
  EXPECT_EQ(Translate(M(kModLeftAlt)), Where(0, 3, 0));
  EXPECT_EQ(Translate(M(kModRightAlt)), Where(0, 4, 0));
  EXPECT_EQ(Translate(M(kModLeftWin)), Where(0, 5, 0));
  EXPECT_EQ(Translate(M(kModRightWin)), Where(0, 6, 0));
  // Both Alts, equivalence clear: left wins. Ctrl with right Alt: right Alt.
  EXPECT_EQ(Translate(M(kModLeftAlt) | M(kModRightAlt)), Where(0, 3, 0));
  EXPECT_EQ(Translate(M(kModLeftCtrl) | M(kModRightAlt)), Where(0, 4, 0));
  EXPECT_EQ(Translate(M(kModRightCtrl) | M(kModLeftWin)), Where(0, 2, 0));
}

TEST_F(Lookup, RightModifierEquivalence) {
  FillKey();
  region().layoutRecords()[0].rightModEquivalence = 0x000F;
  EXPECT_EQ(Translate(M(kModRightCtrl)), Where(0, 1, 0));
  EXPECT_EQ(Translate(M(kModRightAlt)), Where(0, 3, 0));
  EXPECT_EQ(Translate(M(kModRightWin)), Where(0, 5, 0));
  EXPECT_EQ(Translate(M(kModRightShift)), Where(0, 0, 1));
  // Equivalence is read from the current layout's record only.
  cb().currentLayout = 1;
  EXPECT_EQ(Translate(M(kModRightShift)), Where(1, 0, 2));
}

TEST_F(Lookup, ShiftColumns) {
  FillKey();
  EXPECT_EQ(Translate(M(kModLeftShift)), Where(0, 0, 1));
  EXPECT_EQ(Translate(M(kModRightShift)), Where(0, 0, 2));
  EXPECT_EQ(Translate(M(kModLeftShift) | M(kModRightShift)), Where(0, 0, 1));
}

TEST_F(Lookup, CapsLockPlanes) {
  FillKey();
  for (std::uint8_t layout : {0, 1}) {
    cb().currentLayout = layout;
    cb().leds = 0;
    EXPECT_EQ(Translate(0), Where(layout, 0, 0));
    EXPECT_EQ(Translate(M(kModCapsHeld)), Where(layout + 2, 0, 0));
    cb().leds = 1u << kLedCapsLock;
    EXPECT_EQ(Translate(0), Where(layout + 2, 0, 0));
    EXPECT_EQ(Translate(M(kModCapsHeld)), Where(layout, 0, 0));  // they cancel out
  }
}

TEST_F(Lookup, LayoutsTwoAndThreeWithoutCapsUseTheirPlanesAndOthersDoNotTranslate) {
  FillKey();
  cb().currentLayout = 2;
  EXPECT_EQ(Translate(0), Where(2, 0, 0));
  EXPECT_EQ(Translate(M(kModCapsHeld)), Where(0, 0, 0));  // 2 xor 2
  cb().currentLayout = 3;
  EXPECT_EQ(Translate(0), Where(3, 0, 0));
  cb().leds = 1u << kLedCapsLock;
  EXPECT_EQ(Translate(0), 0);  // plane 5 does not exist
  cb().currentLayout = 2;
  EXPECT_EQ(Translate(0), 0);  // plane 4
  cb().leds = 0;
  cb().currentLayout = 200;
  EXPECT_EQ(Translate(0), 0);
}

TEST_F(Lookup, KindsFromFlagBits) {
  KeySlot& slot = region().keyTable().planes[0][5].slots[0];
  slot.ch[0] = 'a';
  slot.ch[2] = 'b';
  slot.flags = 0x01;  // column 0 dead
  EXPECT_EQ(Translate(0), 0x300 | 'a');
  slot.flags = 0x08;  // column 0 macro
  EXPECT_EQ(Translate(0), 0x400 | 'a');
  slot.flags = 0x09;  // both: macro wins
  EXPECT_EQ(Translate(0), 0x400 | 'a');
  slot.flags = 0xC1;  // bits 6, 7 are not read
  EXPECT_EQ(Translate(0), 0x300 | 'a');
  slot.flags = 0x20;  // column 2 macro
  EXPECT_EQ(Translate(M(kModRightShift)), 0x400 | 'b');
  EXPECT_EQ(Translate(M(kModLeftShift)), 0);  // column 1: zero byte, no flag
}

TEST_F(Lookup, UnmappedAndOutOfRangeKeysDoNotTranslate) {
  region().keyTable().planes[0][0].slots[0].ch[0] = 'z';
  EXPECT_EQ(TranslateKey(region(), 0x3B), 'z');  // map entry 0 selects record 0
  region().keyTable().planes[0][0].slots[0].ch[0] = 0;
  EXPECT_EQ(TranslateKey(region(), 0x3B), 0);
  options().scanMap[0x3B] = 128;
  region().keyTable().planes[1][0].slots[0].ch[0] = 'q';  // where record 128 of plane 0 would be
  EXPECT_EQ(TranslateKey(region(), 0x3B), 0);
  options().scanMap[0x3B] = 255;
  EXPECT_EQ(TranslateKey(region(), 0x3B), 0);
  EXPECT_EQ(TranslateKey(region(), 512), 0);
  EXPECT_EQ(TranslateKey(region(), 0xFFFF), 0);
}

TEST_F(Lookup, ExtendedKeysHaveTheirOwnMapEntries) {
  layoutkit::KeyboardDescription d;
  d.Put(0, 0x38, kSlotPlain, 0, 'l');
  d.Put(0, 0x138, kSlotPlain, 0, 'r');
  d.LoadInto(region());
  EXPECT_EQ(TranslateKey(region(), 0x38), 'l');
  EXPECT_EQ(TranslateKey(region(), 0x138), 'r');
}

TEST(NumpadDigitKeys, OnlyTheTenDigitKeys) {
  for (std::uint16_t s : {0x47, 0x48, 0x49, 0x4B, 0x4C, 0x4D, 0x4F, 0x50, 0x51, 0x52}) {
    EXPECT_EQ(IsNumpadDigitKey(s), 1) << s;
  }
  for (std::uint16_t s : {0x53, 0x4A, 0x4E, 0x147, 0x148, 0x152, 0x0, 0x1047}) {
    EXPECT_EQ(IsNumpadDigitKey(s), 0) << s;
  }
}

}  // namespace
}  // namespace velto::testing
