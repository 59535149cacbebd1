// Builds the five keyboard description blocks in memory, the way a
// controlling application prepares them for SetupKeyboard.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "shared/region.h"
#include "shared/tables.h"

namespace velto::layoutkit {

enum class Entry : std::uint8_t { kChar, kDeadKey, kMacro };

struct KeyboardDescription {
  KeyboardDescription();

  OptionBlock options{};  // hotkeys off (modifier-only with mask 0)
  KeyTable keys{};
  LayoutRecord layouts[kLayouts]{};
  DeadKeyTable deadKeys{};
  MacroTable macros{};
  // The composition table (shared/compositions.h), empty when no layout's
  // set composes through it. SetupKeyboard takes it from right after the
  // MacroTable: LastBlock() is the two together.
  std::vector<std::uint8_t> compositions;

  // The buffer to hand SetupKeyboard as its fifth block.
  const void* LastBlock() const;

  // The KeyTable index of a scan code; the first call for a scan code gives it
  // the next free index (from 1: index 0 is where unmapped keys go).
  std::uint8_t KeyOf(std::uint16_t scan);

  // Puts a character (or dead key, or macro number) into one column of one
  // slot of the key of `scan` in `plane`.
  void Put(unsigned plane, std::uint16_t scan, KeySlotIndex slot, unsigned column,
           std::uint8_t ch, Entry entry = Entry::kChar);
  // Puts a row of characters: text[i] on the key of scans[i], column 0 and,
  // from `shifted`, column 1; both planes of `layout` (without and with Caps
  // Lock, the Caps Lock plane swapping letter case).
  void PutRow(unsigned layout, const std::uint16_t* scans, std::string_view normal,
              std::string_view shifted);

  void SetMacro(std::uint8_t index, std::string_view text);
  void AddDeadKey(std::uint8_t dead, std::uint8_t next, std::uint8_t composed);
  void SetLayoutName(unsigned layout, std::string_view name);
  void MarkSystemChar(unsigned layout, std::uint8_t ch);

  // Copies the blocks into a shared region, as SetupKeyboard does.
  void LoadInto(const Region& region) const {
    LoadDescription(region, &options, &keys, layouts, &deadKeys, LastBlock());
  }

 private:
  std::uint8_t nextKey_ = 1;
  mutable std::vector<std::uint8_t> lastBlock_;
};

// US scan codes of the main block, row by row (for PutRow).
extern const std::uint16_t kNumberRow[13];  // ` 1..0 - =  (starts at `)
extern const std::uint16_t kTopRow[12];     // q..p [ ]
extern const std::uint16_t kHomeRow[11];    // a..l ; '
extern const std::uint16_t kBottomRow[10];  // z..m , . /

// A small demo description: layout 0 types as the US keyboard, layout 1 as
// Dvorak; right Alt gives a few extra characters, ` and ' are dead keys on
// layout 1, and right Alt + m types a macro.
KeyboardDescription DemoDescription();

}  // namespace velto::layoutkit
