// Macro expansion: a macro text with braced key chords becomes ActionQueue
// entries, bracketed by the marker keys of the library's own keys
// (own_keys.h).
//
// A macro may need more room than the ActionQueue has (a 255-character text
// with modifiers held takes some 800 words). Expansion therefore fills the
// queue as far as whole steps fit and leaves a cursor in the control block;
// ResumeMacro goes on from there once the player has drained the queue. Every
// step is pushed whole, so the queue never holds half a chord.
#pragma once

#include <cstdint>

#include "shared/region.h"

namespace velto {

enum class MacroMode : std::uint8_t {
  kTable = 0,          // MacroTable entry `index`
  kCharThenLeft = 1,   // the character `index`, then a cursor-left key
  kOneChar = 2,        // the character `index` alone
};

// The vk of a key name ("ESC", "LCTRL", "num_5", ...), case-insensitive; 0 if
// the name is not known. The 0x100 bit marks an extended key.
std::uint16_t LookupKeyName(const char* name);

// `setLayout`: the layout whose character set the text's bytes are in, or -1
// for ANSI bytes, posted as they are.
void ExpandMacro(const Region& region, std::uint8_t index, MacroMode mode, int setLayout = -1);

// Whether a macroCursor value is an expansion under way.
bool CursorPending(std::uint32_t cursor);

// True while an expansion waits for room in the ActionQueue. An empty
// cursor (as good as always) is answered at once.
inline bool MacroPending(const Region& region) {
  const std::uint32_t cursor = region.control().macroCursor;
  return cursor != 0 && CursorPending(cursor);
}

// Goes on with a waiting expansion as far as the ActionQueue has room.
// Returns true if it pushed anything.
bool ResumeMacro(const Region& region);

}  // namespace velto
