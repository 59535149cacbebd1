#include "testing/unicode_set.h"

#include <cstring>

namespace velto::testing {

void MarkUnicode(layoutkit::KeyboardDescription& d, unsigned layout, const std::map<std::uint8_t, char32_t>& set,
                 std::uint8_t kind) {
  CharSetHeader h{};
  h.codePage = kUnicodeCodePageId;
  std::memcpy(h.mark, kCharSetMark, sizeof h.mark);
  h.kind = kind;
  h.tableEntry = kLastUnicodeTableEntry;
  std::memcpy(d.layouts[layout].reserved, &h, sizeof h);
  auto* table = reinterpret_cast<std::uint8_t*>(&d.macros.entries[kLastUnicodeTableEntry]);
  std::memset(table, 0, kUnicodeTableBytes);
  auto put = [table](std::uint8_t byte, char32_t c) {
    for (int i = 0; i < 3; ++i) table[3 * byte + i] = static_cast<std::uint8_t>(c >> (8 * i));
  };
  for (int b = 1; b < 0x80; ++b) put(static_cast<std::uint8_t>(b), static_cast<char32_t>(b));
  for (const auto& [byte, c] : set) put(byte, c);
}

}  // namespace velto::testing
