// Translation lookup: scan code, layout, Caps Lock and held modifiers to one
// KeyTable entry.
#pragma once

#include <cstdint>

#include "shared/key_event.h"
#include "shared/region.h"
#include "shared/result.h"

namespace velto {

// kind << 8 | character, or 0 when the key does not translate. A scan code
// outside 0..511, a map entry of 128 or more, or a plane outside 0..3 does not
// translate.
int TranslateKey(const Region& region, std::uint16_t scan);

// The numeric-pad digits translate with Num Lock on, or always by option:
// `r` is the key's translation as looked up, the result the one that holds.
int NumpadTranslation(const Region& region, const KeyEvent& e, int r);

// Whether the system's own layout would type the character of byte `ch`
// for the key: then the key is left to it. Without a character set (layout
// `setLayout` of -1) the bytes are compared, as the system's ANSI answer is
// in the same code page; with one, the characters `c`, since a byte of the
// set may happen to be what the system types in a code page of its own.
// `state` is the thread's key state.
bool SystemTypesTheSame(const Region& region, const KeyEvent& e, const std::uint8_t* state, std::uint8_t ch,
                        char32_t c, int setLayout);

// 1 for the ten numeric-keypad digit keys (not the extended grey keys).
inline int IsNumpadDigitKey(std::uint16_t scan) {
  // Keypad 7 8 9 - 4 5 6 + 1 2 3 0 from scan code 0x47 on, without the grey minus and plus.
  constexpr std::uint32_t kDigits = 0b1111'0111'0111;
  const unsigned i = scan - 0x47u;
  return i < 12 && (kDigits >> i & 1) ? 1 : 0;
}

}  // namespace velto
