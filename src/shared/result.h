// The TranslationResult: what the keyboard hook decided for a key, as the
// KeyQueue carries it to the message-retrieval hook. Scan code << 16 | kind
// << 8 | character, with the extra bits described below.
#pragma once

#include <cstdint>

namespace velto {

// TranslationResult kinds (bits 8..15 of a result).
enum ResultKind : std::uint8_t {
  kKindChar = 0, kKindDeadKey = 3, kKindMacro = 4, kKindCharThenLeft = 5, kKindOneCharMacro = 6,
  kKindKeyPress = 7,  // a key press the library posts
  // Keys held back behind output still pending, which the system would have
  // had: the character the system types for the key (bits 0..7 its low byte,
  // bits 25..31 bits 8..14 of its UTF-16 unit), and the release of a key
  // held back as a key press.
  kKindSystemChar = 8,
  kKindKeyRelease = 9,
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
// A key press held back behind pending output (kind 7) carries bit 25: it is
// the system's key, not the layout's, and leaves a pending dead key alone.
constexpr std::uint32_t kResultHeldBack = 1u << 25;
constexpr std::uint16_t ResultScan(std::uint32_t result) {
  const bool scanOnly = (result & kResultHasCharSet) != 0 || ResultKindOf(result) == kKindSystemChar ||
                        (ResultKindOf(result) == kKindKeyPress && (result & kResultHeldBack) != 0);
  return static_cast<std::uint16_t>(scanOnly ? (result >> 16) & 0x1FF : result >> 16);
}

// A character the system types, held back: units up to U+7FFF fit.
constexpr bool FitsSystemChar(char16_t unit) { return unit < 0x8000; }
constexpr std::uint32_t MakeSystemChar(std::uint16_t scan, char16_t unit) {
  return static_cast<std::uint32_t>(unit >> 8) << 25 | static_cast<std::uint32_t>(scan & 0x1FF) << 16 |
         kKindSystemChar << 8 | (unit & 0xFF);
}
constexpr char16_t SystemCharOf(std::uint32_t result) {
  return static_cast<char16_t>((result >> 25) << 8 | (result & 0xFF));
}

}  // namespace velto
