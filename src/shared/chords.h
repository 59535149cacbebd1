// The braced key chords of a macro text ("{LCTRL+LEFT}"): how the text
// after a "{" splits into key names. The library reads them so when it plays
// a macro, and the compiler so when it checks one, so that both always agree
// on what a chord holds. No allocation and no platform calls: the engine
// runs it inside the hooks.
#pragma once

#include <cstddef>

namespace velto {

constexpr std::size_t kMaxChordKeys = 16;  // keys beyond these are not pressed
constexpr std::size_t kMaxKeyName = 255;   // characters of a name beyond these are dropped

// One key name of a chord.
struct ChordKeyName {
  char text[kMaxKeyName + 1];  // its first kMaxKeyName characters, NUL-terminated
  std::size_t kept;            // how many of them `text` holds
  char32_t first;              // its first character, for a name that is a key's character
  std::size_t at;              // where it starts; where its "+" or "}" stands for an empty name
  char32_t end;                // the "+" or "}" after it; 0 where the text ends first
};

// What became of a chord.
struct ChordScan {
  std::size_t next;  // the position after its "}", or `end`
  bool closed;       // whether the "}" was there
};

// Splits the chord whose "{" stands at `open`, in a text whose positions
// run up to `end` (exclusive), and calls `onKey(const ChordKeyName&)` for
// each of its key names in order, an empty one too. A text that ends before
// the "}" ends the last name there. `charAt(pos)` gives the character at a
// position. With `bytes`, the characters are bytes and are kept as they
// stand; otherwise one beyond ASCII is kept as 0x7F, which is in no key
// name, so that it cannot be taken for one.
template <class CharAt, class OnKey>
ChordScan ScanChord(const CharAt& charAt, std::size_t open, std::size_t end, bool bytes, OnKey&& onKey) {
  ChordKeyName name;
  name.kept = 0;
  name.first = 0;
  for (std::size_t pos = open + 1;;) {
    const bool atEnd = pos >= end;
    const char32_t c = atEnd ? U'\0' : charAt(pos);
    if (atEnd || c == U'+' || c == U'}') {
      if (name.kept == 0) name.at = pos;
      name.text[name.kept] = '\0';
      name.end = c;
      onKey(static_cast<const ChordKeyName&>(name));
      if (c != U'+') return {atEnd ? end : pos + 1, !atEnd};
      name.kept = 0;
    } else {
      if (name.kept == 0) name.first = c, name.at = pos;
      if (name.kept < kMaxKeyName) name.text[name.kept++] = static_cast<char>(bytes || c < 0x7F ? c : 0x7F);
    }
    ++pos;
  }
}

}  // namespace velto
