// Character sets of layouts.
//
// The key records, the dead-key table, the macros and the character bitmap
// hold characters as bytes. A description written by veltoc says, in each
// layout record, which character each byte stands for: a Windows code page,
// or a table of up to 255 Unicode characters kept in three MacroTable
// entries that no key types. Such a layout's characters are delivered as
// Unicode, whatever the system's ANSI code page.
//
// A layout record without the mark keeps the bytes as they are: they are
// posted to the window as ANSI characters, which each program reads in its
// own code page. That is every description of another controlling
// application, and every record whose bytes 6..37 are zero.
//
// The header lives in LayoutRecord bytes 6..37 (`reserved`):
//
//   bytes  6..7   u16  code page number; 1200 for a Unicode set
//   bytes  8..15       the mark, "velto-cs"
//   byte  16           kind: 1 code page, 2 Unicode, 3 Unicode whose dead
//                      keys compose through the composition table
//                      (shared/compositions.h) instead of the DeadKeyTable
//   byte  17           Unicode set: E, the first of the MacroTable entries
//                      E, E+1, E+2 (E <= 253) that hold its table
//   bytes 18..19  u16  characters in the set (for tools; not read here)
//   bytes 20..37       zero; the controlling application's
//
// The Unicode table is 256 little-endian 3-byte code points at MacroTable
// offset E * 256: byte b stands for the code point at E * 256 + 3 * b.
// Slot 0 is zero: byte 0 is no character. A code point of 0, above
// U+10FFFF or in the surrogate range is no character either, as is a byte a
// code page leaves undefined: such a byte delivers nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "shared/region.h"
#include "shared/tables.h"

namespace velto {

constexpr char kCharSetMark[8] = {'v', 'e', 'l', 't', 'o', '-', 'c', 's'};
constexpr std::uint16_t kUnicodeCodePageId = 1200;
constexpr std::size_t kUnicodeTableEntries = 3;
constexpr std::size_t kUnicodeTableBytes = 3 * 256;
constexpr std::uint8_t kLastUnicodeTableEntry = kMacros - kUnicodeTableEntries;  // 253

enum class CharSetKind : std::uint8_t { kNone = 0, kCodePage = 1, kUnicode = 2 };
// The value of header byte 16 for a Unicode set that composes through the
// composition table; CharSetOf reads it as kUnicode.
constexpr std::uint8_t kUnicodeComposingKind = 3;
// The value a byte stands for in a Unicode set as it stands, the inputs of
// dead keys above U+10FFFF included (0 for none or another kind of set).
char32_t InputOfByte(const LayoutRecord& record, const MacroTable& macros, std::uint8_t byte);

struct CharSetHeader {
  std::uint16_t codePage;
  char mark[8];
  std::uint8_t kind;
  std::uint8_t tableEntry;
  std::uint16_t count;
  std::uint8_t rest[18];
};
static_assert(sizeof(CharSetHeader) == sizeof(LayoutRecord::reserved));
static_assert(offsetof(CharSetHeader, mark) == 2);
static_assert(offsetof(CharSetHeader, kind) == 10);
static_assert(offsetof(CharSetHeader, rest) == 14);

// The upper half of a Windows code page (its lower half is ASCII).
struct CodePageTable {
  int number;
  char16_t upper[128];        // bytes 0x80..0xFF; 0 = undefined
  std::uint8_t swapped[128];  // the byte of the same letter in the other case
};
// The table of code page 874 or 1250 to 1258; null for any other.
const CodePageTable* FindCodePage(int codePage);

// Windows code pages a set may be: 874 and 1250 to 1258.
inline bool IsCharSetCodePage(int codePage) { return FindCodePage(codePage) != nullptr; }
// The character a byte stands for in a Windows code page (0 if undefined).
char16_t CodePageChar(int codePage, std::uint8_t byte);

CharSetHeader HeaderOf(const LayoutRecord& record);
// The kind of set a record carries; kNone for a record without a valid mark.
CharSetKind CheckedCharSetOf(const LayoutRecord& record);
inline CharSetKind CharSetOf(const LayoutRecord& record) {
  // Most records have no mark: one comparison tells.
  std::uint64_t mark, want;
  std::memcpy(&mark, record.reserved + offsetof(CharSetHeader, mark), sizeof mark);
  std::memcpy(&want, kCharSetMark, sizeof want);
  return mark == want ? CheckedCharSetOf(record) : CharSetKind::kNone;
}
// Whether a record's set composes through the composition table. The kind
// byte tells most records apart at once.
inline bool ComposesThroughTable(const LayoutRecord& record) {
  return record.reserved[offsetof(CharSetHeader, kind)] == kUnicodeComposingKind &&
         CharSetOf(record) == CharSetKind::kUnicode;
}
// Whether any of a description's four layout records does.
inline bool AnyComposesThroughTable(const LayoutRecord records[kLayouts]) {
  for (unsigned layout = 0; layout < kLayouts; ++layout) {
    if (ComposesThroughTable(records[layout])) return true;
  }
  return false;
}
// The character `byte` stands for in the set of `record` (0: none). Only for
// a record whose CharSetOf is not kNone.
char32_t CharOfByte(const LayoutRecord& record, const MacroTable& macros, std::uint8_t byte);

// The layout itself when its record carries a character set, else -1: its
// bytes are then ANSI characters, posted as they are. Translation results
// and macro expansions keep this number, since the active layout may change
// before they are delivered.
inline int CharSetLayout(const Region& region, unsigned layout) {
  if (layout >= kLayouts) return -1;
  return CharSetOf(region.layoutRecords()[layout]) != CharSetKind::kNone ? static_cast<int>(layout) : -1;
}
// The character a byte stands for in the set of `setLayout` (>= 0).
inline char32_t CharOf(const Region& region, int setLayout, std::uint8_t byte) {
  return CharOfByte(region.layoutRecords()[setLayout & 3], region.macros(), byte);
}

// Whether a value is a Unicode character: not 0, no UTF-16 half, at most U+10FFFF.
constexpr bool IsCharacter(char32_t c) { return c != 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// The UTF-16 code units of a character: 1 or 2 (high half first), 0 if it
// is not one.
int ToUtf16(char32_t c, char16_t units[2]);

// Appends a character in UTF-8 (for the tools and the simulated system).
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

}  // namespace velto
