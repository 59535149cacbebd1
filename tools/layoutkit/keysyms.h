// X keysyms by name, as xkeyboard-config's symbols files and libX11's
// Compose files write them, and the characters they type.
#pragma once

#include <cstdint>
#include <string_view>

namespace velto::layoutkit {

struct Keysym {
  enum Kind : std::uint8_t {
    kUnknown,    // no such name
    kChar,       // types `ch`
    kDead,       // a dead key: `deadName` without "dead_" ("acute"), `ch` its spacing character or 0
    kCompose,    // Multi_key
    kNoChar,     // a keysym that types no character (F1, Left, ISO_Level3_Shift, NoSymbol, ...)
  } kind = kUnknown;
  std::uint32_t value = 0;  // the keysym
  char32_t ch = 0;
  std::string_view deadName;
};

// By name: "eacute", "dead_acute", "Multi_key", "U00E9", "U1F600", "0x10000e9",
// a single character's keysym name as it stands ("a").
Keysym KeysymByName(std::string_view name);

}  // namespace velto::layoutkit
