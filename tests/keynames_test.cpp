#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/macro.h"
#include "shared/chords.h"

namespace velto {
namespace {

TEST(KeyNames, EveryRowOfTheTable) {
  const std::pair<const char*, std::uint16_t> rows[] = {
      {"ESC", 0x1B},      {"BACK", 0x08},       {"TAB", 0x09},        {"ENTER", 0x0D},
      {"SPACE", 0x20},    {"LSHIFT", 0x10},     {"RSHIFT", 0x110},    {"LCTRL", 0x11},
      {"RCTRL", 0x111},   {"LALT", 0x12},       {"RALT", 0x112},      {"LWIN", 0x5B},
      {"RWIN", 0x5C},     {"APP", 0x5D},        {"CAPS_LOCK", 0x14},  {"PRTSC", 0x2C},
      {"SCROLL_LOCK", 0x91}, {"PAUSE", 0x13},   {"INS", 0x2D},        {"DEL", 0x2E},
      {"HOME", 0x24},     {"END", 0x23},        {"PGUP", 0x21},       {"PGDN", 0x22},
      {"UP", 0x126},      {"DOWN", 0x128},      {"LEFT", 0x125},      {"RIGHT", 0x127},
      {"F1", 0x70},       {"F9", 0x78},         {"F10", 0x79},        {"F12", 0x7B},
      {"NUM_LOCK", 0x90}, {"NUM_DIV", 0x6F},    {"NUM_MUL", 0x6A},    {"NUM_MINUS", 0x6D},
      {"NUM_PLUS", 0x6B}, {"NUM_DEL", 0x6E},    {"NUM_ENTER", 0x10D}, {"NUM_0", 0x60},
      {"NUM_5", 0x65},    {"NUM_9", 0x69},
  };
  for (auto [name, vk] : rows) EXPECT_EQ(LookupKeyName(name), vk) << name;
}

TEST(KeyNames, CaseDoesNotMatterButEveryCharacterDoes) {
  EXPECT_EQ(LookupKeyName("left"), 0x125);
  EXPECT_EQ(LookupKeyName("Num_Enter"), 0x10D);
  EXPECT_EQ(LookupKeyName("f1"), 0x70);
  EXPECT_EQ(LookupKeyName("F13"), 0);
  EXPECT_EQ(LookupKeyName("F"), 0);
  EXPECT_EQ(LookupKeyName("LEFT "), 0);
  EXPECT_EQ(LookupKeyName(""), 0);
  EXPECT_EQ(LookupKeyName("a"), 0);
  EXPECT_EQ(LookupKeyName(nullptr), 0);
}

// Each name of the chord at `open` as "TEXT@AT END", END the character after it (0: none).
std::vector<std::string> Names(std::u32string_view text, std::size_t open, bool bytes, ChordScan& scan) {
  std::vector<std::string> out;
  scan = ScanChord(
      [&](std::size_t i) { return text[i]; }, open, text.size(), bytes,
      [&](const ChordKeyName& n) {
        out.push_back(std::string(n.text, n.kept) + "@" + std::to_string(n.at) + " " + std::to_string(n.end));
        EXPECT_EQ(n.text[n.kept], '\0');
        if (n.kept > 0) {
          EXPECT_EQ(n.first, text[n.at]);
        }
      });
  return out;
}

TEST(Chords, SplitIntoNamesAtPlusAndBrace) {
  ChordScan scan{};
  EXPECT_EQ(Names(U"x{LCTRL+c}y", 1, true, scan), (std::vector<std::string>{"LCTRL@2 43", "c@8 125"}));
  EXPECT_EQ(scan.next, 10u);
  EXPECT_TRUE(scan.closed);
  // Empty names stand where their "+" or "}" does.
  EXPECT_EQ(Names(U"{+}", 0, true, scan), (std::vector<std::string>{"@1 43", "@2 125"}));
  EXPECT_EQ(scan.next, 3u);
  // A text that ends inside the chord ends its last name.
  EXPECT_EQ(Names(U"{A+BC", 0, true, scan), (std::vector<std::string>{"A@1 43", "BC@3 0"}));
  EXPECT_EQ(scan.next, 5u);
  EXPECT_FALSE(scan.closed);
  EXPECT_EQ(Names(U"{", 0, true, scan), (std::vector<std::string>{"@1 0"}));
}

TEST(Chords, CharactersBeyondAsciiAndLongNames) {
  ChordScan scan{};
  EXPECT_EQ(Names(U"{\u00e9}", 0, true, scan), (std::vector<std::string>{"\xe9@1 125"}));
  EXPECT_EQ(Names(U"{\u00e9\u0416}", 0, false, scan), (std::vector<std::string>{"\x7f\x7f@1 125"}));
  const std::u32string name(300, U'A');
  const std::vector<std::string> names = Names(U"{" + name + U"}", 0, true, scan);
  EXPECT_EQ(names, (std::vector<std::string>{std::string(kMaxKeyName, 'A') + "@1 125"}));
  EXPECT_EQ(scan.next, 302u);
}

}  // namespace
}  // namespace velto
