#include "layoutkit/layout_builder.h"

#include <algorithm>
#include <cstring>

#include "shared/charset.h"

namespace velto::layoutkit {

const std::uint16_t kNumberRow[13] = {0x29, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                      0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D};
const std::uint16_t kTopRow[12] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                                   0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B};
const std::uint16_t kHomeRow[11] = {0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23,
                                    0x24, 0x25, 0x26, 0x27, 0x28};
const std::uint16_t kBottomRow[10] = {0x2C, 0x2D, 0x2E, 0x2F, 0x30,
                                      0x31, 0x32, 0x33, 0x34, 0x35};

KeyboardDescription::KeyboardDescription() {
  // A scan code word of 0 would match the scan-0 keys synthesized during
  // macro playback; 0xFFFF with no modifiers matches nothing.
  options.layoutHotkeyScan = kModifierOnlyHotkey;
  options.enableHotkeyScan = kModifierOnlyHotkey;
  options.disableHotkeyScan = kModifierOnlyHotkey;
}

std::uint8_t KeyboardDescription::KeyOf(std::uint16_t scan) {
  std::uint8_t& key = options.scanMap[scan % kScanCodes];
  if (key == 0 && nextKey_ < kKeysPerPlane) key = nextKey_++;
  return key;
}

void KeyboardDescription::Put(unsigned plane, std::uint16_t scan, KeySlotIndex slot,
                              unsigned column, std::uint8_t ch, Entry entry) {
  KeySlot& s = keys.planes[plane % kPlanes][KeyOf(scan)].slots[slot];
  s.ch[column % 3] = ch;
  const std::uint8_t dead = static_cast<std::uint8_t>(DeadKeyFlag(column % 3));
  const std::uint8_t macro = static_cast<std::uint8_t>(MacroFlag(column % 3));
  s.flags = static_cast<std::uint8_t>(s.flags & ~(dead | macro));
  if (entry == Entry::kDeadKey) s.flags |= dead;
  if (entry == Entry::kMacro) s.flags |= macro;
}

void KeyboardDescription::PutRow(unsigned layout, const std::uint16_t* scans,
                                 std::string_view normal, std::string_view shifted) {
  auto swapCase = [](char c) -> std::uint8_t {
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 32);
    if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(c + 32);
    return static_cast<std::uint8_t>(c);
  };
  for (std::size_t i = 0; i < normal.size(); ++i) {
    const char n = normal[i];
    const char s = i < shifted.size() ? shifted[i] : n;
    for (unsigned column = 0; column < 3; ++column) {
      const char plain = column == 0 ? n : s;
      Put(layout, scans[i], kSlotPlain, column, static_cast<std::uint8_t>(plain));
      Put(layout + 2, scans[i], kSlotPlain, column, swapCase(plain));
    }
  }
}

void KeyboardDescription::SetMacro(std::uint8_t index, std::string_view text) {
  MacroEntry& e = macros.entries[index];
  e.length = static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), sizeof e.text));
  std::memcpy(e.text, text.data(), e.length);
}

void KeyboardDescription::AddDeadKey(std::uint8_t dead, std::uint8_t next, std::uint8_t composed) {
  for (DeadKeyRow& row : deadKeys.rows) {
    if (row.dead == 0 && row.next == 0 && row.composed == 0) {
      row = {dead, next, composed};
      return;
    }
  }
}

void KeyboardDescription::SetLayoutName(unsigned layout, std::string_view name) {
  char* field = layouts[layout % kLayouts].name;
  std::memset(field, 0, kLayoutNameSize);
  std::memcpy(field, name.data(), std::min(name.size(), kLayoutNameSize));
}

void KeyboardDescription::MarkSystemChar(unsigned layout, std::uint8_t ch) {
  layouts[layout % kLayouts].charBitmap[ch / 8] |= static_cast<std::uint8_t>(1u << (ch % 8));
}

KeyboardDescription DemoDescription() {
  KeyboardDescription d;
  d.SetLayoutName(0, "US");
  d.SetLayoutName(1, "Dvorak");
  d.PutRow(0, kNumberRow, "`1234567890-=", "~!@#$%^&*()_+");
  d.PutRow(0, kTopRow, "qwertyuiop[]", "QWERTYUIOP{}");
  d.PutRow(0, kHomeRow, "asdfghjkl;'", "ASDFGHJKL:\"");
  d.PutRow(0, kBottomRow, "zxcvbnm,./", "ZXCVBNM<>?");
  d.PutRow(1, kNumberRow, "`1234567890[]", "~!@#$%^&*(){}");
  d.PutRow(1, kTopRow, "',.pyfgcrl/=", "\"<>PYFGCRL?+");
  d.PutRow(1, kHomeRow, "aoeuidhtns-", "AOEUIDHTNS_");
  d.PutRow(1, kBottomRow, ";qjkxbmwvz", ":QJKXBMWVZ");
  // Dead keys on layout 1: ` (grave) and ' (acute) on the number-row and top-row keys.
  for (unsigned plane : {1u, 3u}) {
    d.Put(plane, kNumberRow[0], kSlotPlain, 0, '`', Entry::kDeadKey);
    d.Put(plane, kTopRow[0], kSlotPlain, 0, '\'', Entry::kDeadKey);
  }
  const char* vowels = "aeiouAEIOU";
  const unsigned char grave[] = {0xE0, 0xE8, 0xEC, 0xF2, 0xF9, 0xC0, 0xC8, 0xCC, 0xD2, 0xD9};
  const unsigned char acute[] = {0xE1, 0xE9, 0xED, 0xF3, 0xFA, 0xC1, 0xC9, 0xCD, 0xD3, 0xDA};
  for (int i = 0; i < 10; ++i) {
    d.AddDeadKey('`', static_cast<std::uint8_t>(vowels[i]), grave[i]);
    d.AddDeadKey('\'', static_cast<std::uint8_t>(vowels[i]), acute[i]);
  }
  // Right Alt extras on both layouts: e -> euro (0x80 in cp1252), s -> sharp s, m -> macro 1.
  for (unsigned plane = 0; plane < kPlanes; ++plane) {
    d.Put(plane, 0x12, kSlotRightAlt, 0, 0x80);
    d.Put(plane, 0x1F, kSlotRightAlt, 0, 0xDF);
    d.Put(plane, 0x32, kSlotRightAlt, 0, 1, Entry::kMacro);
  }
  d.SetMacro(1, "Best regards,{ENTER}Velto");
  return d;
}

const void* KeyboardDescription::LastBlock() const {
  if (compositions.empty() && !AnyComposesThroughTable(layouts)) return &macros;
  // A layout that asks for the table has the library read one after the
  // macros: without a table, a header of zeros says there is none.
  lastBlock_.assign(sizeof macros + std::max(compositions.size(), kCompositionsHeaderSize), 0);
  std::memcpy(lastBlock_.data(), &macros, sizeof macros);
  if (!compositions.empty()) std::memcpy(lastBlock_.data() + sizeof macros, compositions.data(), compositions.size());
  return lastBlock_.data();
}

}  // namespace velto::layoutkit
