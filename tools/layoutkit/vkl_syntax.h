// The words of the keyboard language that both the compiler and the
// decompiler use, so that what one writes the other reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/layout_builder.h"
#include "shared/keys.h"
#include "shared/tables.h"

namespace velto::layoutkit::vkl {

// Slot labels of a key line, by slot index (slot 0 has no label of its own
// on the line: its cells come first): the names of the modifier keys.
constexpr std::array<std::string_view, kSlotsPerKey> kSlotLabels = [] {
  std::array<std::string_view, kSlotsPerKey> labels{"none"};
  for (const ModifierKey& key : kModifierKeys) {
    if (key.slot != kSlotPlain) labels[key.slot] = key.name;
  }
  return labels;
}();

// How a key's Caps Lock plane follows from its plain plane.
enum class CapsMode : std::uint8_t { kLetters, kSame, kShift, kAltGr, kShiftAltGr, kNone };
constexpr std::string_view kCapsModes[] = {"letters", "same", "shift", "altgr", "shift+altgr", "none"};

// Named option bits.
struct NamedBit {
  std::string_view name;
  int bit;
};
constexpr NamedBit kOptionNames[] = {{"caps-switches-layout", kOptCapsSwitchesLayout},
                                     {"numpad-without-numlock", kOptNumpadWithoutNumLock},
                                     {"scroll-lock-shows-layout", kOptScrollLockShowsLayout}};
// Lock keys brought to a state on Enable: `name`, the desired-state bit
// `state`, then the enforce bit `enforce`.
inline constexpr const auto& kLocks = kLockKeys;
// The option bits the lines above name.
constexpr std::uint16_t kNamedOptionMask = [] {
  unsigned mask = 0;
  for (const NamedBit& n : kOptionNames) mask |= 1u << n.bit;
  for (const LockKey& l : kLocks) mask |= 1u << l.state | 1u << l.enforce;
  return static_cast<std::uint16_t>(mask);
}();

// Modifier names of `claims`, hotkeys and right-as-left, by bit of `modifiers`.
constexpr std::array<NamedBit, std::size(kModifierKeys)> kModifierNames = [] {
  std::array<NamedBit, std::size(kModifierKeys)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = {kModifierKeys[i].name, kModifierKeys[i].bit};
  return names;
}();
constexpr std::uint16_t kModifierMask = kModifierKeysMask;
// Flag bits of the layout's modifier mask word.
constexpr NamedBit kClaimFlags[] = {{"win-hotkeys", kLayoutMaskWinHotkeyEats},
                                    {"apps-key", kLayoutMaskAppsKeyEats}};
// Right-modifier equivalence bits.
constexpr NamedBit kRightAsLeft[] = {{"ctrl", kRightAsLeftCtrl},
                                     {"alt", kRightAsLeftAlt},
                                     {"win", kRightAsLeftWin},
                                     {"shift", kRightAsLeftShift}};

constexpr std::string_view kHotkeyNames[3] = {"toggle", "enable", "disable"};

// Record bytes the language sets as raw bytes: 6..37 for an `ansi` layout
// (6..7 hold the code page), 20..37 for one with a character set (6..19
// hold its header, shared/charset.h).
constexpr int kRecordBytesFirst = 6;
constexpr int kRecordBytesLast = 37;
constexpr int kRecordBytesFirstMarked = 20;

// The characters a layout's bytes stand for: a code page whose bytes are
// delivered as Unicode (kCodePage), one whose bytes are posted as ANSI
// (kAnsi: a record without the mark), or a table of 256 code points.
struct CharSet {
  enum class Kind : std::uint8_t { kCodePage, kAnsi, kUnicode };
  Kind kind = Kind::kCodePage;
  int codePage = 1252;
  char32_t table[256] = {};  // kUnicode: each slot's value as stored (0: none)

  static CharSet CodePage(int number, Kind kind = Kind::kCodePage);
  bool unicode() const { return kind == Kind::kUnicode; }
  // The character a byte stands for; 0 for none (byte 0, an empty slot, a
  // value that is no character, a byte the code page leaves undefined).
  char32_t Char(std::uint8_t byte) const;
  // The byte that stands for `c` (in a table the lowest), or -1.
  int Byte(char32_t c) const;
  // The byte of the same letter in the other case, when the set has it;
  // else the byte itself.
  std::uint8_t SwapCase(std::uint8_t byte) const;
};

// The set of a layout of a compiled description, as the compiler reads it
// back: by the record's header where it carries a valid mark, else `ansi`
// in the code page of bytes 6..7 (the default where that is none).
CharSet LayoutCharSet(const KeyboardDescription& d, unsigned layout);

// The other letter of a simple one-to-one case pair (A and a, Ж and ж), or
// `c` itself.
char32_t OtherCase(char32_t c);
// The capital of a lower-case letter of such a pair (ж gives Ж), or `c`
// itself: a capital, a letter without case, anything else.
char32_t UpperCase(char32_t c);

// What the library would make of a macro text's braced chords that the
// compiler refuses: a missing "}", an unknown or empty key name, more than
// 16 keys. `offset` is the byte of the text it concerns.
struct ChordProblem {
  std::size_t offset;
  std::string message;
};
std::vector<ChordProblem> CheckChords(const std::vector<std::uint8_t>& text, const CharSet& set);

// The Caps Lock plane of a key as a mode makes it from the plain plane, in
// the layout's character set.
KeyRecord DeriveCaps(const KeyRecord& plain, CapsMode mode, const CharSet& set);

}  // namespace velto::layoutkit::vkl
