// The single-byte Windows code pages a layout's characters are written in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "shared/charset.h"

namespace velto::layoutkit {

constexpr int kDefaultCodePage = 1252;

// 874 and 1250 to 1258.
bool IsSupportedCodePage(int codePage);

// The byte that stands for `c` in the code page, or -1 when it has none.
int EncodeChar(int codePage, char32_t c);

// The character a byte stands for, or 0 when the code page leaves the byte
// undefined (and for byte 0).
char32_t DecodeByte(int codePage, std::uint8_t byte);

// The byte of the same letter in the other case, when the code page has
// it; else the byte itself.
std::uint8_t SwapCaseByte(int codePage, std::uint8_t byte);

}  // namespace velto::layoutkit
