// Bit helpers on 16-bit bit sets. The mask is 1 << (n % 32) cut to 16 bits,
// so bit numbers 16..31 leave a word unchanged and test as 0.
#pragma once

#include <cstdint>

namespace velto {

constexpr std::uint16_t BitMask(std::uint8_t n) {
  return static_cast<std::uint16_t>(1u << (n % 32u));
}

inline void ToggleBit(std::uint16_t* word, std::uint8_t n) { *word ^= BitMask(n); }

inline void SetBit(std::uint16_t* word, std::uint8_t n, std::int32_t flag) {
  if (flag != 0) {
    *word |= BitMask(n);
  } else {
    *word &= static_cast<std::uint16_t>(~BitMask(n));
  }
}

constexpr int TestBit(std::uint16_t word, std::uint8_t n) {
  return static_cast<int>((static_cast<std::uint32_t>(word) >> (n % 32u)) & 1u);
}

}  // namespace velto
