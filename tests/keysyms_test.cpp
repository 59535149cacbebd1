// Keysym names and their characters, checked against libxkbcommon.
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "layoutkit/keysyms.h"

namespace velto::layoutkit {
namespace {

TEST(Keysyms, EveryNameTypesWhatLibxkbcommonSays) {
  std::ifstream header("/usr/include/xkbcommon/xkbcommon-keysyms.h");
  ASSERT_TRUE(header) << "libxkbcommon-dev's keysym header is missing";
  const std::regex define(R"(#define XKB_KEY_(\w+)\s+0x[0-9a-fA-F]+)");
  int names = 0;
  for (std::string line; std::getline(header, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, define)) continue;
    const std::string name = m[1];
    const xkb_keysym_t sym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
    const Keysym k = KeysymByName(name);
    ASSERT_NE(k.kind, Keysym::kUnknown) << name;
    EXPECT_EQ(k.value, sym) << name;
    const char32_t want = xkb_keysym_to_utf32(sym);
    // Dead keys and Multi_key type nothing by themselves; control characters
    // (BackSpace, Return, ...) are keys Velto leaves to the system.
    if (k.kind == Keysym::kChar) {
      EXPECT_EQ(static_cast<std::uint32_t>(k.ch), static_cast<std::uint32_t>(want)) << name;
    } else {
      EXPECT_TRUE(want == 0 || want < 0x20 || want == 0x7F) << name << " types U+" << std::hex << static_cast<std::uint32_t>(want);
    }
    ++names;
  }
  EXPECT_GT(names, 2000);
  EXPECT_EQ(KeysymByName("U1F600").ch, char32_t{0x1F600});
  EXPECT_EQ(KeysymByName("dead_perispomeni").deadName, "tilde");
  // Short Unicode names, as en_US's Compose file writes some, and an alias.
  for (const char* name : {"U2dd", "U02DD", "0x10002dd"}) {
    EXPECT_EQ(KeysymByName(name).ch, char32_t{0x2DD}) << name;
    EXPECT_EQ(KeysymByName(name).value, xkb_keysym_from_name(name, XKB_KEYSYM_NO_FLAGS)) << name;
  }
  EXPECT_EQ(KeysymByName("0x10000e9").ch, char32_t{0xE9});
  EXPECT_EQ(KeysymByName("no_such_keysym").kind, Keysym::kUnknown);
}

}  // namespace
}  // namespace velto::layoutkit
