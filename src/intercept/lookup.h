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

// A result of a layout with a character set carries the layout in bits 29
// and 30 and sets bit 31: its bytes are read in that layout's set, even if
// another layout is active by the time the result is delivered. Results of
// other layouts keep these bits zero, as they always were.
constexpr std::uint32_t kResultHasCharSet = 1u << 31;
constexpr std::uint32_t WithCharSet(std::uint32_t result, int setLayout) {
  return setLayout < 0 ? result : result | kResultHasCharSet | static_cast<std::uint32_t>(setLayout & 3) << 29;
}
constexpr int ResultCharSet(std::uint32_t result) {
  return (result & kResultHasCharSet) != 0 ? static_cast<int>((result >> 29) & 3) : -1;
}
constexpr std::uint16_t ResultScan(std::uint32_t result) {
  return static_cast<std::uint16_t>((result & kResultHasCharSet) != 0 ? (result >> 16) & 0x1FF : result >> 16);
}

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
