// The text helpers every tool needs: ASCII case, hexadecimal, the numbers
// that layout files and command lines write, and UTF-8. Layout files are
// ASCII in their words and UTF-8 in their characters, so case is only ever
// folded for ASCII letters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "shared/charset.h"

namespace velto::layoutkit {

std::string Lower(std::string_view s);
std::string Upper(std::string_view s);
// Whether `s` begins with `lowerPrefix` in any case.
bool StartsWithNoCase(std::string_view s, std::string_view lowerPrefix);

// `value` in at least `digits` hexadecimal digits, without a prefix: upper
// case ("00E9") as messages and the .klc format write it, lower case
// ("00e9") as the decompiler writes it.
std::string Hex(unsigned value, int digits);
std::string LowerHex(unsigned value, int digits);
// "U+00E9".
std::string CodePoint(char32_t c);

// A number as the layout language writes it: decimal, or hexadecimal after
// "0x". Refuses anything else, and values that need more than 32 bits.
std::optional<unsigned long> ParseNumber(std::string_view s);
// Hexadecimal digits alone (no "0x"), at most `maxDigits` of them.
std::optional<unsigned> ParseHex(std::string_view s, std::size_t maxDigits);
// Decimal digits alone, at most `maxDigits` of them.
std::optional<unsigned> ParseDecimal(std::string_view s, std::size_t maxDigits);

using velto::AppendUtf8;

// Decodes one character at `pos` and advances it; a malformed sequence gives
// U+FFFD and advances one byte.
char32_t NextUtf8(std::string_view text, std::size_t& pos);

// The characters of a UTF-8 text (its bytes that start one).
std::size_t Utf8Length(std::string_view s);

}  // namespace velto::layoutkit
