#include "shared/charset.h"

#include <cstring>

namespace velto {

namespace {

constexpr CodePageTable kTables[] = {
#include "shared/codepage_tables.inc"
};
static_assert(kTables[0].number == 874 && kTables[1].number == 1250 && kTables[9].number == 1258);

}  // namespace

// The tables are 874, then 1250 to 1258 in order.
const CodePageTable* FindCodePage(int codePage) {
  const unsigned windows = static_cast<unsigned>(codePage - 1250);
  if (windows < 9) return &kTables[1 + windows];
  return codePage == 874 ? &kTables[0] : nullptr;
}

char16_t CodePageChar(int codePage, std::uint8_t byte) {
  if (byte < 0x80) return byte;
  const CodePageTable* t = FindCodePage(codePage);
  return t == nullptr ? 0 : t->upper[byte - 0x80];
}

CharSetHeader HeaderOf(const LayoutRecord& record) {
  CharSetHeader h;
  std::memcpy(&h, record.reserved, sizeof h);
  return h;
}

CharSetKind CheckedCharSetOf(const LayoutRecord& record) {
  if (std::memcmp(record.reserved + offsetof(CharSetHeader, mark), kCharSetMark, sizeof kCharSetMark) != 0) {
    return CharSetKind::kNone;
  }
  const std::uint8_t kind = record.reserved[offsetof(CharSetHeader, kind)];
  if (kind == static_cast<std::uint8_t>(CharSetKind::kCodePage) &&
      IsCharSetCodePage(record.reserved[0] | record.reserved[1] << 8)) {
    return CharSetKind::kCodePage;
  }
  if ((kind == static_cast<std::uint8_t>(CharSetKind::kUnicode) || kind == kUnicodeComposingKind) &&
      record.reserved[offsetof(CharSetHeader, tableEntry)] <= kLastUnicodeTableEntry) {
    return CharSetKind::kUnicode;
  }
  return CharSetKind::kNone;
}

char32_t InputOfByte(const LayoutRecord& record, const MacroTable& macros, std::uint8_t byte) {
  const std::uint8_t kind = record.reserved[offsetof(CharSetHeader, kind)];
  const std::uint8_t entry = record.reserved[offsetof(CharSetHeader, tableEntry)];
  if (kind == static_cast<std::uint8_t>(CharSetKind::kCodePage) || byte == 0 || entry > kLastUnicodeTableEntry) {
    return 0;
  }
  const auto* table = reinterpret_cast<const std::uint8_t*>(&macros.entries[entry]) + 3 * byte;
  return table[0] | static_cast<char32_t>(table[1]) << 8 | static_cast<char32_t>(table[2]) << 16;
}

char32_t CharOfByte(const LayoutRecord& record, const MacroTable& macros, std::uint8_t byte) {
  const std::uint8_t kind = record.reserved[offsetof(CharSetHeader, kind)];
  if (kind == static_cast<std::uint8_t>(CharSetKind::kCodePage)) {
    return CodePageChar(record.reserved[0] | record.reserved[1] << 8, byte);
  }
  const char32_t c = InputOfByte(record, macros, byte);
  return IsCharacter(c) ? c : 0;
}

int ToUtf16(char32_t c, char16_t units[2]) {
  if (!IsCharacter(c)) return 0;
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
