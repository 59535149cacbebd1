#include "layoutkit/text.h"

#include <algorithm>
#include <cstdio>

namespace velto::layoutkit {

namespace {

// The value of a hexadecimal digit, or 16 for any other character.
unsigned DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string Formatted(const char* format, unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, format, digits, value);
  return buf;
}

// Digits of `base` alone, at most `maxDigits` of them.
std::optional<unsigned> ParseDigits(std::string_view s, std::size_t maxDigits, unsigned base) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (const char c : s) {
    const unsigned d = DigitValue(c);
    if (d >= base) return std::nullopt;
    value = value * base + d;
  }
  return value;
}

}  // namespace

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), LowerChar);
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), UpperChar);
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view lowerPrefix) {
  return s.size() >= lowerPrefix.size() && Lower(s.substr(0, lowerPrefix.size())) == lowerPrefix;
}

std::string Hex(unsigned value, int digits) { return Formatted("%0*X", value, digits); }

std::string LowerHex(unsigned value, int digits) { return Formatted("%0*x", value, digits); }

std::string CodePoint(char32_t c) { return "U+" + Hex(c, 4); }

std::optional<unsigned long> ParseNumber(std::string_view s) {
  if (s.empty()) return std::nullopt;
  unsigned base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) base = 16, s.remove_prefix(2);
  unsigned long value = 0;
  for (const char c : s) {
    const unsigned d = DigitValue(c);
    if (d >= base || value > 0xFFFFFFFu) return std::nullopt;
    value = value * base + d;
  }
  return value;
}

std::optional<unsigned> ParseHex(std::string_view s, std::size_t maxDigits) {
  return ParseDigits(s, maxDigits, 16);
}

std::optional<unsigned> ParseDecimal(std::string_view s, std::size_t maxDigits) {
  return ParseDigits(s, maxDigits, 10);
}

char32_t NextUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  int extra = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, c = lead & 0x07;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i <= extra; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = c << 6 | (byte(pos + i) & 0x3F);
  }
  pos += extra + 1;
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  return c;
}

std::size_t Utf8Length(std::string_view s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace velto::layoutkit
