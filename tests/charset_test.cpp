// Layouts with a character set: what the bytes of a description stand for,
// and how the characters reach the window (as Unicode, whatever the byte).
#include <cstring>
#include <map>

#include "shared/charset.h"
#include "testing/system_fixture.h"
#include "testing/unicode_set.h"

namespace velto::testing {
namespace {

class UnicodeLayout : public SystemTest {
 protected:
  layoutkit::KeyboardDescription Description() const override {
    layoutkit::KeyboardDescription d = layoutkit::DemoDescription();
    d.Put(1, scan::kA, kSlotPlain, 0, 0xE9);   // ж, where code page 1252 has é
    d.Put(1, scan::kS, kSlotPlain, 0, 0x80);   // 😀, beyond U+FFFF
    d.Put(1, scan::kE, kSlotPlain, 0, 'e');    // Cyrillic е, on the key that types Latin e
    d.Put(1, scan::kQ, kSlotPlain, 0, 'q');    // q, as the system types it
    d.Put(1, scan::kO, kSlotPlain, 0, 0x05);   // я: a byte below 32 that stands for a character
    d.Put(1, scan::kD, kSlotPlain, 0, 0x81, layoutkit::Entry::kDeadKey);  // dead acute
    d.Put(1, scan::kM, kSlotPlain, 0, 9, layoutkit::Entry::kMacro);
    d.Put(1, scan::kSpace, kSlotPlain, 0, ' ');
    d.SetMacro(9, "\xE9\x80!");
    d.AddDeadKey(0x81, 0x82, 0x83);  // ´ + и = й
    d.Put(1, scan::kGrave, kSlotPlain, 0, 0x82);
    MarkUnicode(d, 1, {{0xE9, U'ж'}, {0x80, U'\U0001F600'}, {'e', U'е'}, {0x05, U'я'},
                       {0x81, U'´'}, {0x82, U'и'}, {0x83, U'й'}});
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }
  // The WM_CHARs the window received: their units, and whether each came as Unicode.
  std::vector<std::pair<platform::WParam, bool>> CharMessages() const {
    std::vector<std::pair<platform::WParam, bool>> out;
    for (const sim::Message& m : sim::DispatchedTo(app_)) {
      if (m.message == sim::kWmChar) out.emplace_back(m.wParam, m.unicode);
    }
    return out;
  }
};

using Units = std::vector<std::pair<platform::WParam, bool>>;

TEST_F(UnicodeLayout, CharactersArriveAsUnicodeWhateverTheirByte) {
  Tap(scan::kA);
  Tap(scan::kE);
  Tap(scan::kO);
  EXPECT_EQ(Typed(), "жея");
  EXPECT_EQ(CharMessages(), (Units{{0x436, true}, {0x435, true}, {0x44F, true}}));
}

TEST_F(UnicodeLayout, ACharacterBeyondFFFFComesAsItsTwoHalvesHighFirstWithNothingBetween) {
  Tap(scan::kS);
  Tap(scan::kA);
  const std::vector<sim::Message> got = sim::DispatchedTo(app_);
  EXPECT_EQ(CharMessages(), (Units{{0xD83D, true}, {0xDE00, true}, {0x436, true}}));
  EXPECT_EQ(Typed(), "😀ж");
  // The two halves are dispatched one right after the other.
  for (std::size_t i = 0; i + 1 < got.size(); ++i) {
    if (got[i].message == sim::kWmChar && got[i].wParam == 0xD83D) {
      EXPECT_EQ(got[i + 1].message, sim::kWmChar);
      EXPECT_EQ(got[i + 1].wParam, 0xDE00u);
    }
  }
}

TEST_F(UnicodeLayout, AKeyIsLeftToTheSystemOnlyWhenItTypesTheSameCharacter) {
  Tap(scan::kQ);  // the system's q: not the library's
  Tap(scan::kE);  // byte 'e' is Cyrillic е here: the library's
  EXPECT_EQ(Typed(), "qе");
  EXPECT_EQ(CharMessages(), (Units{{'q', false}, {0x435, true}}));
}

TEST_F(UnicodeLayout, DeadKeysAndMacrosAreReadInTheSet) {
  Tap(scan::kD);
  Tap(scan::kGrave);  // ´ + и
  Tap(scan::kD);
  Tap(scan::kSpace);  // ´ alone
  Tap(scan::kM);
  Tick(5);
  EXPECT_EQ(Typed(), "й´ж😀!");
}

TEST(CharSetMark, OnlyAWholeValidMarkMakesASet) {
  LayoutRecord r{};
  EXPECT_EQ(CharSetOf(r), CharSetKind::kNone);
  r.reserved[0] = 0xE3;  // code page 1251 in bytes 6..7, as veltoc always wrote: no mark
  r.reserved[1] = 0x04;
  EXPECT_EQ(CharSetOf(r), CharSetKind::kNone);
  std::memcpy(r.reserved + 2, kCharSetMark, sizeof kCharSetMark);
  r.reserved[10] = 1;
  EXPECT_EQ(CharSetOf(r), CharSetKind::kCodePage);
  MacroTable macros{};
  EXPECT_EQ(CharOfByte(r, macros, 0xE6), U'ж');
  r.reserved[0] = 0xB5;  // 437 is no Windows code page of a set
  r.reserved[1] = 0x01;
  EXPECT_EQ(CharSetOf(r), CharSetKind::kNone);
  r.reserved[10] = 2;
  r.reserved[11] = 254;  // the table would run past the last entry
  EXPECT_EQ(CharSetOf(r), CharSetKind::kNone);
  r.reserved[11] = 253;
  EXPECT_EQ(CharSetOf(r), CharSetKind::kUnicode);
  auto* table = reinterpret_cast<std::uint8_t*>(&macros.entries[253]);
  table[3 * 7 + 0] = 0x00;
  table[3 * 7 + 1] = 0xD8;  // a lone half is no character
  table[3 * 8 + 2] = 0x11;  // nor is anything above U+10FFFF
  EXPECT_EQ(CharOfByte(r, macros, 7), 0u);
  EXPECT_EQ(CharOfByte(r, macros, 8), 0u);
}

}  // namespace
}  // namespace velto::testing
