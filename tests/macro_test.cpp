#include "delivery/macro.h"

#include <string>

#include "delivery/own_keys.h"
#include "delivery/queues.h"
#include "intercept/modifiers.h"
#include "layoutkit/layout_builder.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Action = std::vector<std::uint16_t>;

Action Up(std::uint16_t vk) { return {kOpKeyUp, vk}; }
Action Down(std::uint16_t vk) { return {kOpKeyDown, vk}; }
Action Char(char c) { return {kOpPostChar, static_cast<std::uint8_t>(c), 1}; }

class Macros : public RegionTest {
 protected:
  // Plays the queue out as the action player reads it, resuming a waiting
  // expansion whenever the queue has drained.
  std::vector<Action> Drain() {
    std::vector<Action> out;
    for (int rounds = 0; rounds < 100; ++rounds) {
      ActionReader reader(region());
      while (!reader.empty()) {
        Action a{reader.Next()};
        const std::size_t operands = (a[0] == kOpPostChar || a[0] == kOpPostKeyDown) ? 2 : 1;
        for (std::size_t i = 0; i < operands; ++i) a.push_back(reader.Next());
        reader.Finish();
        out.push_back(a);
      }
      if (!ResumeMacro(region())) break;
    }
    EXPECT_FALSE(MacroPending(region()));
    return out;
  }
  void SetMacro(std::uint8_t index, const std::string& text) {
    MacroEntry& e = region().macros().entries[index];
    e.length = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), e.text);
  }
  std::vector<Action> Expand(const std::string& text, std::uint16_t mods = 0) {
    SetMacro(7, text);
    cb().modifiers = mods;
    ExpandMacro(region(), 7, MacroMode::kTable);
    return Drain();
  }
};

TEST_F(Macros, ChordWithoutModifiersHeld) {
  EXPECT_THAT(Expand("{LCTRL+c}"),
              ElementsAre(Down(0x11), Down('C'), Up('C'), Up(0x11), Up(kMarkPlainStart)));
}

// Text alone is posted with the modifiers held as they are; a chord has them
// let go first and pressed again after.
TEST_F(Macros, ModifiersHeldAreLetGoOnlyForChords) {
  EXPECT_THAT(Expand("ab", 1u << kModLeftShift), ElementsAre(Char('a'), Char('b')));
  EXPECT_THAT(Expand("a{TAB}", 1u << kModLeftShift),
              ElementsAre(Up(0xC1), Up(16), Up(0xC2), Up(0xC6), Up(0xC5), Char('a'), Down(9), Up(9),
                          Up(0xC3), Down(16), Up(0xC4), Up(0xC5)));
}

TEST_F(Macros, PlainTextAloneHasNoMarkers) {
  EXPECT_THAT(Expand("hi"), ElementsAre(Char('h'), Char('i')));
}

TEST_F(Macros, ModifiersReleasedInOrderAndPressedAgain) {
  const std::uint16_t all = 0x00FF | 0x0400;  // Caps Lock held is not a modifier to release
  EXPECT_THAT(Expand("{ENTER}", all),
              ElementsAre(Up(0xC1), Up(16), Up(272), Up(18), Up(274), Up(17), Up(273), Up(347),
                          Up(348), Up(0xC2), Down(0x0D), Up(0x0D), Up(0xC3), Down(16), Down(272),
                          Down(18), Down(274), Down(17), Down(273), Down(347), Down(348), Up(0xC4),
                          Up(0xC5)));
}

TEST_F(Macros, TextAfterAChordStartsAPlainRun) {
  EXPECT_THAT(Expand("x{TAB}y\r\nz"),
              ElementsAre(Char('x'), Down(0x09), Up(0x09), Up(0xC5), Char('y'), Char('z')));
}

TEST_F(Macros, UnknownNamesUseTheLayoutsKeyForTheirFirstCharacter) {
  EXPECT_THAT(Expand("{RALT+e}{LSHIFT+;}"),
              ElementsAre(Down(0x112), Down('E'), Up('E'), Up(0x112), Down(0x10), Down(0xBA),
                          Up(0xBA), Up(0x10), Up(0xC5)));
  EXPECT_THAT(Expand("{Q-key}"), ElementsAre(Down('Q'), Up('Q'), Up(0xC5)));
}

TEST_F(Macros, NamesThatNoKeyTypesAreLeftOut) {
  EXPECT_THAT(Expand("{+\x01x+}"), ElementsAre(Down('A'), Up('A'), Up(0xC5)));  // Ctrl+A's key
  EXPECT_THAT(Expand("{\xE9}a"), ElementsAre(Up(0xC5), Char('a')));
}

TEST_F(Macros, ChordLimits) {
  // Seventeen keys: the seventeenth is ignored.
  std::string chord = "{";
  for (int i = 0; i < 17; ++i) chord += std::string(i ? "+" : "") + "F" + std::to_string(i % 12 + 1);
  chord += "}";
  const std::vector<Action> out = Expand(chord);
  ASSERT_EQ(out.size(), 33u);
  EXPECT_EQ(out[15], Down(0x70 + 15 % 12));
  EXPECT_EQ(out[16], Up(0x70 + 15 % 12));
  EXPECT_EQ(out[31], Up(0x70));

  // A long name that matches nothing: its first character decides.
  EXPECT_THAT(Expand("{" + std::string(250, 'k') + "}"), ElementsAre(Down('K'), Up('K'), Up(0xC5)));

  // A chord without "}" ends with the text.
  EXPECT_THAT(Expand("a{LCTRL+v"), ElementsAre(Char('a'), Down(0x11), Down('V'), Up('V'), Up(0x11), Up(0xC5)));
}

TEST_F(Macros, OneCharacterModes) {
  cb().modifiers = 0;
  ExpandMacro(region(), 'q', MacroMode::kCharThenLeft);
  EXPECT_THAT(Drain(), ElementsAre(Char('q'), Down(0x125), Up(0x125), Up(0xC5)));

  cb().modifiers = 1u << kModRightAlt;
  ExpandMacro(region(), '{', MacroMode::kOneChar);  // the character itself, never a chord
  EXPECT_THAT(Drain(), ElementsAre(Char('{')));
}

TEST_F(Macros, LongestMacroWithModifiersIsTypedWholeAcrossRefills) {
  std::string text;
  for (int i = 0; i < 250; ++i) text += static_cast<char>('a' + i % 26);
  const std::uint16_t mods = (1u << kModRightAlt) | (1u << kModLeftCtrl);
  SetMacro(9, text + "{TAB}");
  cb().modifiers = mods;
  ExpandMacro(region(), 9, MacroMode::kTable);
  EXPECT_TRUE(MacroPending(region()));

  std::vector<Action> expected = {Up(0xC1), Up(274), Up(17), Up(0xC2), Up(0xC6), Up(0xC5)};
  for (char c : text) expected.push_back(Char(c));
  for (auto a : {Down(9), Up(9), Up(0xC3), Down(274), Down(17), Up(0xC4), Up(0xC5)}) expected.push_back(a);
  EXPECT_THAT(Drain(), ElementsAreArray(expected));
}

TEST_F(Macros, ResumedMacroPressesAgainOnlyWhatIsStillHeld) {
  std::string text(200, 'x');
  SetMacro(3, text + "{TAB}");
  cb().modifiers = (1u << kModLeftShift) | (1u << kModRightAlt);
  ExpandMacro(region(), 3, MacroMode::kTable);
  cb().modifiers = (1u << kModRightAlt) | (1u << kModLeftWin);  // Shift let go, Win pressed meanwhile
  const std::vector<Action> out = Drain();
  ASSERT_GE(out.size(), 6u);
  EXPECT_THAT(std::vector<Action>(out.end() - 6, out.end()),
              ElementsAre(Down(9), Up(9), Up(0xC3), Down(274), Up(0xC4), Up(0xC5)));
}

TEST_F(Macros, ExpansionWaitsForRoomInsteadOfOverwriting) {
  for (int i = 0; i < 120; ++i) PushPostedMessage(region(), kOpPostChar, '.', 0);  // 360 words
  cb().modifiers = 0;
  SetMacro(1, "{LCTRL+LSHIFT+ESC}ok");
  ExpandMacro(region(), 1, MacroMode::kTable);
  std::vector<Action> out = Drain();
  ASSERT_EQ(out.size(), 120u + 9);
  EXPECT_EQ(out[119], (Action{kOpPostChar, '.', 0}));
  EXPECT_THAT(std::vector<Action>(out.begin() + 120, out.end()),
              ElementsAre(Down(0x11), Down(0x10), Down(0x1B), Up(0x1B), Up(0x10), Up(0x11), Up(0xC5), Char('o'), Char('k')));
}

TEST_F(Macros, AResetForgetsAWaitingExpansion) {
  SetMacro(2, std::string(255, 'z'));
  cb().modifiers = 0;
  ExpandMacro(region(), 2, MacroMode::kTable);
  EXPECT_TRUE(MacroPending(region()));
  ResetState(region());
  EXPECT_FALSE(MacroPending(region()));
  EXPECT_FALSE(ResumeMacro(region()));
}

TEST_F(Macros, AGarbledCursorIsIgnored) {
  cb().macroCursor = 0xFFFFFFFF;
  EXPECT_FALSE(ResumeMacro(region()));
  EXPECT_EQ(cb().actQEmpty, 1);
  EXPECT_EQ(cb().macroCursor, 0u);
}

}  // namespace
}  // namespace velto::testing
