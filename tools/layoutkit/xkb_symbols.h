// xkeyboard-config's text files as xkbcomp reads them: the keycodes, types
// and symbols sections, their includes ("pc+us(intl)+inet(evdev)", include
// statements inside sections) and merge modes (+ and |, override, augment,
// replace). What comes out is group 1 of the keymap that libxkbcommon
// compiles from the same files: each key's levels and type, the key types
// with their maps and preserves, the modifier map.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "layoutkit/diagnostics.h"

namespace velto::layoutkit::xkb {

// A place in a file of the XKB root.
struct Where {
  std::string file;  // the root joined with the file's path
  int line = 0;
  int column = 0;
};

// Real modifiers, as X numbers them.
enum RealMod : std::uint8_t {
  kShift = 1 << 0, kLock = 1 << 1, kControl = 1 << 2, kMod1 = 1 << 3,
  kMod2 = 1 << 4, kMod3 = 1 << 5, kMod4 = 1 << 6, kMod5 = 1 << 7,
};

// A modifier expression as written: real modifiers, and virtual ones by
// name (LevelThree, NumLock, ...), which the keymap binds to real ones.
struct Mods {
  std::uint8_t real = 0;
  std::vector<std::string> virtuals;
};

struct KeyType {
  std::string name;
  Mods mods;
  struct Entry {
    Mods mods;
    int level = 0;  // 0-based
    Mods preserve;
  };
  std::vector<Entry> entries;  // in the order first written
  int levels = 1;
  Where where;
};

// One level of a key in group 1: its keysyms as written (none: NoSymbol).
struct Level {
  std::vector<std::string> syms;
  Where where;
};

struct Key {
  std::string name;  // as the keycodes name it, aliases resolved
  std::string type;  // group 1's type as given, else the key's default type; empty: chosen from the levels
  std::vector<Level> levels;
  bool actions = false;  // explicit actions, which replace what the keysyms would do
  Where where;           // the key statement that last gave it symbols
};

struct ModMapEntry {
  std::uint8_t mod = 0;  // one real modifier
  bool byKey = false;
  std::string name;  // a key name or a keysym name
};

struct Keymap {
  std::map<std::string, int> keycodes;  // key name -> keycode
  std::map<std::string, std::string> aliases;
  std::map<std::string, KeyType> types;
  std::vector<Key> keys;  // those the keycodes have, in the order first defined
  std::vector<ModMapEntry> modmap;
  std::string groupName;  // name[Group1]

  const Key* FindKey(const std::string& name) const;
  std::string RealName(const std::string& name) const;  // an alias resolved
};

// Reads the components of one keymap from an XKB root (/usr/share/X11/xkb).
// Each file is parsed once and kept, so that one reader serves many
// keymaps. Problems are reported with their place: a missing file or
// section, or text xkbcomp cannot read, is an error (and the call returns
// false), each time a keymap needs it; what xkbcomp would skip is skipped.
class Reader {
 public:
  explicit Reader(std::string root);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // `components` as the rules write them: "evdev+aliases(qwerty)",
  // "complete+caps(internal)", "pc+us(intl)+inet(evdev)". Read the keycodes
  // first: the symbols of keys they lack are dropped, as xkbcomp drops them.
  bool ReadKeycodes(const std::string& components, Keymap& out);
  bool ReadTypes(const std::string& components, Keymap& out);
  bool ReadSymbols(const std::string& components, Keymap& out);

  // Where the calls after this one report.
  void ReportTo(Diagnostics& diags) { diags_ = &diags; }

  const std::string& root() const { return root_; }
  Diagnostics& diagnostics() { return *diags_; }

  struct Files;

 private:
  std::string root_;
  Diagnostics ignored_;
  Diagnostics* diags_ = &ignored_;
  std::unique_ptr<Files> files_;
};

}  // namespace velto::layoutkit::xkb
