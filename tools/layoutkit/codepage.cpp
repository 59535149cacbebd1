#include "layoutkit/codepage.h"

#include "shared/charset.h"

namespace velto::layoutkit {

bool IsSupportedCodePage(int codePage) { return IsCharSetCodePage(codePage); }

int EncodeChar(int codePage, char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  const CodePageTable* t = FindCodePage(codePage);
  if (t == nullptr) return -1;
  for (int i = 0; i < 128; ++i) {
    if (t->upper[i] == c) return 0x80 + i;
  }
  return -1;
}

char32_t DecodeByte(int codePage, std::uint8_t byte) { return CodePageChar(codePage, byte); }

std::uint8_t SwapCaseByte(int codePage, std::uint8_t byte) {
  if (byte >= 'a' && byte <= 'z') return static_cast<std::uint8_t>(byte - 32);
  if (byte >= 'A' && byte <= 'Z') return static_cast<std::uint8_t>(byte + 32);
  if (byte < 0x80) return byte;
  const CodePageTable* t = FindCodePage(codePage);
  return t == nullptr ? byte : t->swapped[byte - 0x80];
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

}  // namespace velto::layoutkit
