// The macro key names against the layout language's names of the same keys:
// every key name of the language that is not a character key is a macro key
// name, in any case, and names a key of its own.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "delivery/macro.h"
#include "layoutkit/scan_names.h"
#include "shared/chords.h"

namespace velto {
namespace {

TEST(KeyNames, EveryNonCharacterKeyOfTheLanguageIsAMacroKeyNameInAnyCase) {
  // The character keys (besides letters and digits), as docs/layout-language.md lists them.
  const std::set<std::string> characterKeys = {"GRAVE", "MINUS", "EQUALS", "LBRACKET",
                                               "RBRACKET", "BACKSLASH", "SEMICOLON", "QUOTE",
                                               "COMMA", "PERIOD", "SLASH", "OEM102"};
  std::set<std::uint16_t> vks;
  for (std::uint16_t scan = 0; scan < 0x200; ++scan) {
    const std::string name = layoutkit::KeyNameOfScan(scan);
    if (name.rfind("sc:", 0) == 0) continue;  // no name
    if (name.size() == 1 || characterKeys.count(name) != 0) {
      EXPECT_EQ(LookupKeyName(name.c_str()), 0) << name;
      continue;
    }
    const std::uint16_t vk = LookupKeyName(name.c_str());
    EXPECT_NE(vk, 0) << name;
    EXPECT_TRUE(vks.insert(vk).second) << name << " names the key of another name";
    std::string lower = name, mixed = name;
    for (std::size_t i = 0; i < name.size(); ++i) {
      lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
      if (i % 2 == 1) mixed[i] = lower[i];
    }
    EXPECT_EQ(LookupKeyName(lower.c_str()), vk) << lower;
    EXPECT_EQ(LookupKeyName(mixed.c_str()), vk) << mixed;
    EXPECT_EQ(LookupKeyName((name + " ").c_str()), 0) << name;
    EXPECT_EQ(LookupKeyName(name.substr(1).c_str()), 0) << name;
  }
  EXPECT_EQ(vks.size(), 57u);  // the whole table of macro key names is reached
  for (const char* unknown : {"F13", "", "NUM_", "CAPSLOCK"}) {
    EXPECT_EQ(LookupKeyName(unknown), 0) << unknown;
  }
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
