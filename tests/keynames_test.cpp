// The macro key names against the layout language's names of the same keys:
// every key name of the language that is not a character key is a macro key
// name, in any case, and names a key of its own.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "delivery/macro.h"
#include "layoutkit/keys.h"

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

}  // namespace
}  // namespace velto
