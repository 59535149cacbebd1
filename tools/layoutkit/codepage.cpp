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

}  // namespace velto::layoutkit
