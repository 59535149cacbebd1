// Byte formats of the five keyboard description blocks that the controlling
// application hands to SetupKeyboard. The library reads them in place in the
// shared region and never writes them after the copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

constexpr std::size_t kScanCodes = 512;   // 9-bit scan codes: bit 8 = extended key
constexpr std::size_t kKeysPerPlane = 128;
constexpr std::size_t kPlanes = 4;
constexpr std::size_t kSlotsPerKey = 7;
constexpr std::size_t kLayouts = 4;
constexpr std::size_t kDeadKeyRows = 256;
constexpr std::size_t kMacros = 256;
constexpr std::size_t kLayoutNameSize = 20;

// Option bits of OptionBlock::options.
enum OptionBit : std::uint8_t {
  kOptCapsSwitchesLayout = 0, kOptNumpadWithoutNumLock = 2, kOptScrollLockShowsLayout = 3,
  // Each lock key's state, and whether Enable puts its light so.
  kOptNumLockState = 4, kOptEnforceNumLock = 5,
  kOptCapsLockState = 6, kOptEnforceCapsLock = 7,
  kOptScrollLockState = 8, kOptEnforceScrollLock = 9,
};

constexpr std::uint16_t kModifierOnlyHotkey = 0xFFFF;
constexpr std::uint16_t kScrollLockScan = 70;

struct OptionBlock {
  std::uint16_t options;
  std::uint16_t layoutHotkeyMods;
  std::uint16_t layoutHotkeyScan;
  std::uint16_t enableHotkeyMods;
  std::uint16_t enableHotkeyScan;
  std::uint16_t disableHotkeyMods;
  std::uint16_t disableHotkeyScan;
  std::uint16_t reserved;  // belongs to the controlling application
  std::uint8_t scanMap[kScanCodes];
};

// Slot of a KeyRecord: one modifier combination, three Shift columns.
struct KeySlot {
  std::uint8_t ch[3];  // column 0 no Shift, 1 left Shift, 2 right Shift
  std::uint8_t flags;  // bit c: column c is a dead key; bit c+3: a macro number
};

// KeySlot::flags bits of column `column`, and those of all three columns.
constexpr unsigned DeadKeyFlag(unsigned column) { return 1u << column; }
constexpr unsigned MacroFlag(unsigned column) { return 1u << (column + 3); }
constexpr std::uint8_t kSlotFlagsMask = 0x3F;

enum KeySlotIndex : std::uint8_t {
  kSlotPlain = 0,
  kSlotLeftCtrl = 1,
  kSlotRightCtrl = 2,
  kSlotLeftAlt = 3,
  kSlotRightAlt = 4,
  kSlotLeftWin = 5,
  kSlotRightWin = 6,
};

struct KeyRecord {
  KeySlot slots[kSlotsPerKey];
};

struct KeyTable {
  KeyRecord planes[kPlanes][kKeysPerPlane];
};

struct LayoutRecord {
  std::uint16_t flags;                // bit 0: deliver bitmap characters as char + Left
  std::uint16_t modMask;              // ANDed with `modifiers`; bits 8, 9 are flags
  std::uint16_t rightModEquivalence;  // bit 0 Ctrl, 1 Alt, 2 Win, 3 Shift
  std::uint8_t reserved[32];          // belongs to the controlling application
  std::uint8_t charBitmap[32];        // bit (c % 8) of byte (c / 8) for character c
  char name[kLayoutNameSize];         // not NUL-terminated
};

// Layout flag and mask bits.
enum LayoutBit : std::uint8_t { kLayoutFlagCharThenLeft = 0, kLayoutMaskWinHotkeyEats = 8, kLayoutMaskAppsKeyEats = 9 };

// rightModEquivalence bits: the right key counts as the left one.
enum RightAsLeftBit : std::uint8_t { kRightAsLeftCtrl = 0, kRightAsLeftAlt = 1, kRightAsLeftWin = 2, kRightAsLeftShift = 3 };
constexpr std::uint16_t kRightAsLeftMask = 0x000F;

struct DeadKeyRow {
  std::uint8_t dead;
  std::uint8_t next;
  std::uint8_t composed;
};

struct DeadKeyTable {
  DeadKeyRow rows[kDeadKeyRows];
};

struct MacroEntry {
  std::uint8_t length;
  char text[255];
};

struct MacroTable {
  MacroEntry entries[kMacros];
};

constexpr std::size_t kOptionBlockSize = 528;
constexpr std::size_t kKeyTableSize = 14336;
constexpr std::size_t kLayoutRecordSize = 90;
constexpr std::size_t kLayoutRecordsSize = kLayoutRecordSize * kLayouts;
constexpr std::size_t kDeadKeyTableSize = 768;
constexpr std::size_t kMacroTableSize = 65536;

static_assert(sizeof(OptionBlock) == kOptionBlockSize);
static_assert(offsetof(OptionBlock, options) == 0);
static_assert(offsetof(OptionBlock, layoutHotkeyMods) == 2);
static_assert(offsetof(OptionBlock, layoutHotkeyScan) == 4);
static_assert(offsetof(OptionBlock, enableHotkeyMods) == 6);
static_assert(offsetof(OptionBlock, enableHotkeyScan) == 8);
static_assert(offsetof(OptionBlock, disableHotkeyMods) == 10);
static_assert(offsetof(OptionBlock, disableHotkeyScan) == 12);
static_assert(offsetof(OptionBlock, scanMap) == 16);
static_assert(sizeof(KeySlot) == 4);
static_assert(sizeof(KeyRecord) == 28);
static_assert(sizeof(KeyTable) == kKeyTableSize);
static_assert(sizeof(LayoutRecord) == kLayoutRecordSize);
static_assert(offsetof(LayoutRecord, modMask) == 2);
static_assert(offsetof(LayoutRecord, rightModEquivalence) == 4);
static_assert(offsetof(LayoutRecord, charBitmap) == 38);
static_assert(offsetof(LayoutRecord, name) == 70);
static_assert(sizeof(DeadKeyTable) == kDeadKeyTableSize);
static_assert(sizeof(MacroEntry) == 256);
static_assert(sizeof(MacroTable) == kMacroTableSize);

}  // namespace velto
