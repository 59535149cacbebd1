#include "shared/charset.h"

#include <cstring>

namespace velto {

namespace {

struct CodePageTable {
  int number;
  char16_t upper[128];        // bytes 0x80..0xFF; 0 = undefined
  std::uint8_t swapped[128];  // not needed here
};

constexpr CodePageTable kTables[] = {
#include "shared/codepage_tables.inc"
};

const CodePageTable* Find(int codePage) {
  for (const CodePageTable& t : kTables) {
    if (t.number == codePage) return &t;
  }
  return nullptr;
}

}  // namespace

bool IsCharSetCodePage(int codePage) { return Find(codePage) != nullptr; }

char16_t CodePageChar(int codePage, std::uint8_t byte) {
  if (byte < 0x80) return byte;
  const CodePageTable* t = Find(codePage);
  return t == nullptr ? 0 : t->upper[byte - 0x80];
}

CharSetHeader HeaderOf(const LayoutRecord& record) {
  CharSetHeader h;
  std::memcpy(&h, record.reserved, sizeof h);
  return h;
}

CharSetKind CharSetOf(const LayoutRecord& record) {
  const CharSetHeader h = HeaderOf(record);
  if (std::memcmp(h.mark, kCharSetMark, sizeof kCharSetMark) != 0) return CharSetKind::kNone;
  if (h.kind == static_cast<std::uint8_t>(CharSetKind::kCodePage) && IsCharSetCodePage(h.codePage)) {
    return CharSetKind::kCodePage;
  }
  if (h.kind == static_cast<std::uint8_t>(CharSetKind::kUnicode) && h.tableEntry <= kLastUnicodeTableEntry) {
    return CharSetKind::kUnicode;
  }
  return CharSetKind::kNone;
}

char32_t CharOfByte(const LayoutRecord& record, const MacroTable& macros, std::uint8_t byte) {
  const CharSetHeader h = HeaderOf(record);
  if (h.kind == static_cast<std::uint8_t>(CharSetKind::kCodePage)) return CodePageChar(h.codePage, byte);
  if (byte == 0 || h.tableEntry > kLastUnicodeTableEntry) return 0;
  const auto* table = reinterpret_cast<const std::uint8_t*>(&macros.entries[h.tableEntry]) + 3 * byte;
  const char32_t c = table[0] | static_cast<char32_t>(table[1]) << 8 | static_cast<char32_t>(table[2]) << 16;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return c;
}

int CharSetLayout(const Region& region, unsigned layout) {
  if (layout >= kLayouts) return -1;
  return CharSetOf(region.layoutRecords()[layout]) != CharSetKind::kNone ? static_cast<int>(layout) : -1;
}

int ToUtf16(char32_t c, char16_t units[2]) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  if (c < 0x10000) {
    units[0] = static_cast<char16_t>(c);
    return 1;
  }
  const char32_t v = c - 0x10000;
  units[0] = static_cast<char16_t>(0xD800 + (v >> 10));
  units[1] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  return 2;
}

}  // namespace velto
