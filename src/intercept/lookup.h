// Translation lookup: scan code, layout, Caps Lock and held modifiers to one
// KeyTable entry.
#pragma once

#include <cstdint>

#include "shared/region.h"

namespace velto {

// TranslationResult kinds (bits 8..15 of a result).
enum ResultKind : std::uint8_t {
  kKindChar = 0,
  kKindDeadKey = 3,
  kKindMacro = 4,
  kKindCharThenLeft = 5,
  kKindOneCharMacro = 6,
  kKindKeyPress = 7,
};

constexpr std::uint32_t MakeResult(std::uint16_t scan, std::uint8_t kind, std::uint8_t ch) {
  return static_cast<std::uint32_t>(scan) << 16 | static_cast<std::uint32_t>(kind) << 8 | ch;
}
constexpr std::uint8_t ResultChar(std::uint32_t result) { return result & 0xFF; }
constexpr std::uint8_t ResultKindOf(std::uint32_t result) { return (result >> 8) & 0xFF; }
constexpr std::uint16_t ResultScan(std::uint32_t result) { return result >> 16; }

// kind << 8 | character, or 0 when the key does not translate. A scan code
// outside 0..511, a map entry of 128 or more, or a plane outside 0..3 does not
// translate.
int TranslateKey(const Region& region, std::uint16_t scan);

// 1 for the ten numeric-keypad digit keys (not the extended grey keys).
inline int IsNumpadDigitKey(std::uint16_t scan) {
  // Keypad 7 8 9 - 4 5 6 + 1 2 3 0 from scan code 0x47 on, without the grey minus and plus.
  constexpr std::uint32_t kDigits = 0b1111'0111'0111;
  const unsigned i = scan - 0x47u;
  return i < 12 && (kDigits >> i & 1) ? 1 : 0;
}

}  // namespace velto
