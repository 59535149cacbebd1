// The xkb importer. It reads the keymap as libxkbcommon would build it
// (xkb_rules, xkb_symbols), works out for every key what each state of
// Shift, the level-3 key and Caps Lock types, as libxkbcommon's xkb_state
// does (the key's type picks the level, and where the type leaves Lock
// alone Caps Lock upper-cases the keysym), and writes that into layout 1:
// the plain plane and the Caps Lock plane, the level-3 states in the slot
// of the modifier key that selects level 3.
#include "layoutkit/xkb_import.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>

#include "layoutkit/compose_file.h"
#include "layoutkit/keysyms.h"
#include "layoutkit/text.h"
#include "layoutkit/vkl_print.h"
#include "layoutkit/vkl_syntax.h"
#include "layoutkit/xkb_rules.h"
#include "layoutkit/xkb_symbols.h"
#include "shared/keys.h"

namespace velto::layoutkit {

namespace {

using compiler::Cell;
using compiler::Char;
using compiler::KeyLine;
using compiler::Model;
using compiler::Plane;
using vkl::CapsMode;
using xkb::Where;
using xkb::kLock;
using xkb::kShift;

constexpr std::size_t kMaxSetCharacters = 255;
constexpr std::size_t kMaxNameCharacters = 20;

// The keys of the main block that type characters, by their XKB names:
// their evdev keycode less 8 is their set-1 scan code, but for the two
// Japanese keys beyond it.
struct KeyScan {
  const char* name;
  std::uint16_t scan;
};
constexpr KeyScan kCharacterKeys[] = {
    {"TLDE", 0x29}, {"AE01", 0x02}, {"AE02", 0x03}, {"AE03", 0x04}, {"AE04", 0x05}, {"AE05", 0x06},
    {"AE06", 0x07}, {"AE07", 0x08}, {"AE08", 0x09}, {"AE09", 0x0A}, {"AE10", 0x0B}, {"AE11", 0x0C},
    {"AE12", 0x0D}, {"AE13", 0x7D}, {"AD01", 0x10}, {"AD02", 0x11}, {"AD03", 0x12}, {"AD04", 0x13},
    {"AD05", 0x14}, {"AD06", 0x15}, {"AD07", 0x16}, {"AD08", 0x17}, {"AD09", 0x18}, {"AD10", 0x19},
    {"AD11", 0x1A}, {"AD12", 0x1B}, {"AC01", 0x1E}, {"AC02", 0x1F}, {"AC03", 0x20}, {"AC04", 0x21},
    {"AC05", 0x22}, {"AC06", 0x23}, {"AC07", 0x24}, {"AC08", 0x25}, {"AC09", 0x26}, {"AC10", 0x27},
    {"AC11", 0x28}, {"BKSL", 0x2B}, {"LSGT", 0x56}, {"AB01", 0x2C}, {"AB02", 0x2D}, {"AB03", 0x2E},
    {"AB04", 0x2F}, {"AB05", 0x30}, {"AB06", 0x31}, {"AB07", 0x32}, {"AB08", 0x33}, {"AB09", 0x34},
    {"AB10", 0x35}, {"AB11", 0x73}, {"SPCE", 0x39},
};
// Keys beyond the main block that a compose option may give Multi_key.
constexpr KeyScan kOtherKeys[] = {
    {"MENU", kScanApps}, {"PRSC", 0x137}, {"SCLK", 0x46}, {"PAUS", 0x45},
};
// The modifier keys, whose slot holds what they select when they select
// level 3.
struct ModifierSlot {
  const char* name;
  std::uint8_t slot;
  std::uint8_t bit;  // its `modifiers` bit, for `claims`
  const char* title;
};
constexpr ModifierSlot kModifierSlots[] = {
    {"LCTL", kSlotLeftCtrl, kModLeftCtrl, "left Ctrl"}, {"RCTL", kSlotRightCtrl, kModRightCtrl, "right Ctrl"},
    {"LALT", kSlotLeftAlt, kModLeftAlt, "left Alt"},    {"RALT", kSlotRightAlt, kModRightAlt, "right Alt"},
    {"LWIN", kSlotLeftWin, kModLeftWin, "left Win"},    {"RWIN", kSlotRightWin, kModRightWin, "right Win"},
};
// Keys that exist only to bind virtual modifiers to real ones.
constexpr const char* kFakeKeys[] = {"LVL3", "MDSW", "ALT", "META", "SUPR", "HYPR", "LVL5"};

// The virtual modifiers the standard compat binds by keysym.
struct VirtualBinding {
  const char* keysym;
  const char* vmod;
};
constexpr VirtualBinding kVirtualBindings[] = {
    {"ISO_Level3_Shift", "LevelThree"}, {"ISO_Level3_Latch", "LevelThree"}, {"ISO_Level3_Lock", "LevelThree"},
    {"ISO_Level5_Shift", "LevelFive"},  {"ISO_Level5_Latch", "LevelFive"},  {"ISO_Level5_Lock", "LevelFive"},
    {"Num_Lock", "NumLock"},            {"Alt_L", "Alt"},                   {"Alt_R", "Alt"},
    {"Meta_L", "Meta"},                 {"Meta_R", "Meta"},                 {"Super_L", "Super"},
    {"Super_R", "Super"},               {"Hyper_L", "Hyper"},               {"Hyper_R", "Hyper"},
    {"Mode_switch", "AltGr"},           {"Scroll_Lock", "ScrollLock"},
};

bool IsLevel3Keysym(const std::string& s) { return s.rfind("ISO_Level3_", 0) == 0; }
bool IsLevel5Keysym(const std::string& s) { return s.rfind("ISO_Level5_", 0) == 0; }

// libxkbcommon's case pairs of keysyms (scripts/gen_xkb_case.py).
struct CaseRow {
  std::uint32_t keysym, lower, upper;
};
constexpr CaseRow kCaseRows[] = {
#include "layoutkit/xkb_case.inc"
};

const CaseRow* CaseOf(std::uint32_t keysym) {
  const auto* end = std::end(kCaseRows);
  const auto* it = std::lower_bound(std::begin(kCaseRows), end, keysym,
                                    [](const CaseRow& r, std::uint32_t k) { return r.keysym < k; });
  return it != end && it->keysym == keysym ? it : nullptr;
}
bool IsLower(std::uint32_t ks) {
  const CaseRow* r = CaseOf(ks);
  return r != nullptr && r->lower == ks;
}
bool IsUpper(std::uint32_t ks) {
  const CaseRow* r = CaseOf(ks);
  return r != nullptr && r->upper == ks;
}
bool IsKeypad(std::uint32_t ks) { return ks >= 0xff80 && ks <= 0xffbd; }

// What one state of a key types.
struct Output {
  enum Kind { kNothing, kChar, kDead, kCompose, kNoChar, kSeveral, kUnknown } kind = kNothing;
  char32_t ch = 0;
  std::string name;  // kDead: the dead key's name; kNoChar, kUnknown: the keysym
  const xkb::Level* level = nullptr;
  int levelIndex = -1;
};

// A key type with its modifiers bound to real ones.
struct BoundType {
  std::string name;
  std::uint8_t mask = 0;
  struct Entry {
    std::uint8_t mask;
    bool active;
    int level;
    std::uint8_t preserve;
  };
  std::vector<Entry> entries;
  int levels = 1;
};

}  // namespace

struct XkbImporter::Cache {
  std::map<std::string, std::unique_ptr<xkb::Reader>> readers;  // by root
  struct Compose {
    bool ok = false;
    std::vector<compiler::Sequence> sequences;
    std::vector<Diagnostic> messages;
  };
  std::map<std::string, Compose> compose;  // by path
  std::unordered_map<std::uint32_t, Keysym> byValue;

  const Keysym& ByValue(std::uint32_t value) {
    auto it = byValue.find(value);
    if (it == byValue.end()) it = byValue.emplace(value, KeysymByName("0x" + LowerHex(value, 1))).first;
    return it->second;
  }
};

namespace {

class Importing {
 public:
  Importing(const XkbImportOptions& options, XkbImporter::Cache& cache, Diagnostics& diags)
      : o_(options), cache_(cache), diags_(diags) {}

  bool Run(Model& out);

 private:
  void Warn(const Where& w, const std::string& message) { diags_.Warning(w.file, w.line, w.column, message); }
  std::uint8_t VirtualMask(const std::string& name) const {
    const auto it = vmods_.find(name);
    return it == vmods_.end() ? 0 : it->second;
  }
  std::uint8_t Mask(const xkb::Mods& m) const {
    std::uint8_t mask = m.real;
    for (const std::string& v : m.virtuals) mask = static_cast<std::uint8_t>(mask | VirtualMask(v));
    return mask;
  }
  void BindVirtualModifiers();
  const BoundType& TypeOf(const xkb::Key& key);
  Output State(const xkb::Key& key, std::uint8_t mods);
  Cell CellOf(const Output& out, const xkb::Key& key, std::set<std::string>& reported, KeyLine& line);
  // `composeOnly`: a key beyond the main block, of which only the compose
  // key is taken; its other keysyms are its own function, left to the system.
  void AddKey(const xkb::Key& key, std::uint16_t scan, Model& m, bool composeOnly = false);
  void ChooseCapsModes(Model& m);
  void AddCompositions(Model& m);
  void FitTheSet(Model& m);
  void Header(Model& m);
  std::string ComposePath() const {
    if (!o_.compose.empty()) return o_.compose;
    const std::string system = SystemComposeFile("en_US.UTF-8");
    return system.empty() ? std::string(kSystemComposeDir) + "/en_US.UTF-8/Compose" : system;
  }

  const XkbImportOptions& o_;
  XkbImporter::Cache& cache_;
  Diagnostics& diags_;
  xkb::Components components_;
  xkb::Keymap keymap_;
  std::map<std::string, std::uint8_t> vmods_;
  std::map<std::string, BoundType> bound_;
  std::vector<std::uint8_t> level3Slots_;
  std::uint16_t claims_ = 0;
  std::uint8_t level3Mask_ = 0;
  bool level5_ = false;
  bool composeKey_ = false;
  std::vector<std::string> deadKeys_;  // in the order met
  std::set<char32_t> typed_;           // every character a state of a key types
};

void Importing::BindVirtualModifiers() {
  // The modifier map by key: a keysym names the key that has it at the
  // lowest level (then the lowest keycode), as xkbcomp finds it.
  std::map<std::string, std::uint8_t> keyMods;
  for (const xkb::ModMapEntry& e : keymap_.modmap) {
    std::string key;
    if (e.byKey) {
      key = e.name;
    } else {
      const std::uint32_t value = KeysymByName(e.name).value;
      std::size_t best = SIZE_MAX;
      int bestCode = 0;
      for (const xkb::Key& k : keymap_.keys) {
        for (std::size_t l = 0; l < k.levels.size() && l <= best; ++l) {
          if (k.levels[l].syms.size() != 1 || KeysymByName(k.levels[l].syms[0]).value != value) continue;
          const int code = keymap_.keycodes.at(k.name);
          if (l < best || code < bestCode) best = l, bestCode = code, key = k.name;
        }
      }
    }
    if (!key.empty()) keyMods[key] = static_cast<std::uint8_t>(keyMods[key] | e.mod);
  }
  for (const xkb::Key& k : keymap_.keys) {
    if (k.levels.empty() || k.levels[0].syms.size() != 1) continue;
    for (const VirtualBinding& b : kVirtualBindings) {
      if (k.levels[0].syms[0] == b.keysym) vmods_[b.vmod] = static_cast<std::uint8_t>(vmods_[b.vmod] | keyMods[k.name]);
    }
  }
}

const BoundType& Importing::TypeOf(const xkb::Key& key) {
  std::string name = key.type;
  if (name.empty()) {
    // The type xkbcomp picks for a key that names none.
    const auto sym = [&](std::size_t i) -> std::uint32_t {
      return i < key.levels.size() && !key.levels[i].syms.empty() ? KeysymByName(key.levels[i].syms[0]).value : 0;
    };
    const std::size_t width = key.levels.size();
    if (width <= 1) {
      name = "ONE_LEVEL";
    } else if (width == 2) {
      name = IsLower(sym(0)) && IsUpper(sym(1))                 ? "ALPHABETIC"
             : IsKeypad(sym(0)) || IsKeypad(sym(1)) ? "KEYPAD"
                                                                : "TWO_LEVEL";
    } else if (width <= 4) {
      if (IsLower(sym(0)) && IsUpper(sym(1))) {
        name = IsLower(sym(2)) && IsUpper(width == 4 ? sym(3) : 0) ? "FOUR_LEVEL_ALPHABETIC"
                                                                    : "FOUR_LEVEL_SEMIALPHABETIC";
      } else {
        name = IsKeypad(sym(0)) || IsKeypad(sym(1)) ? "FOUR_LEVEL_KEYPAD" : "FOUR_LEVEL";
      }
    }
  }
  auto known = bound_.find(name);
  if (known != bound_.end()) return known->second;
  auto t = keymap_.types.find(name);
  if (t == keymap_.types.end()) {
    // xkbcomp takes its first type, ONE_LEVEL, for a type it does not have.
    if (!name.empty()) Warn(key.where, "no key type \"" + name + "\": as xkbcomp, the key takes ONE_LEVEL");
    t = keymap_.types.find("ONE_LEVEL");
  }
  BoundType b;
  b.name = name;
  if (t != keymap_.types.end()) {
    const xkb::KeyType& type = t->second;
    b.mask = Mask(type.mods);
    b.levels = type.levels;
    for (const xkb::KeyType::Entry& e : type.entries) {
      // An entry for modifiers the type does not have counts for those it has.
      xkb::Mods mods;
      mods.real = static_cast<std::uint8_t>(e.mods.real & type.mods.real);
      for (const std::string& v : e.mods.virtuals) {
        if (std::find(type.mods.virtuals.begin(), type.mods.virtuals.end(), v) != type.mods.virtuals.end()) {
          mods.virtuals.push_back(v);
        }
      }
      const std::uint8_t mask = Mask(mods);
      // An entry whose modifiers are all unbound never applies.
      const bool active = (mods.real == 0 && mods.virtuals.empty()) || mask != 0;
      b.entries.push_back({mask, active, e.level, Mask(e.preserve)});
    }
  }
  return bound_.emplace(name, std::move(b)).first->second;
}

Output Importing::State(const xkb::Key& key, std::uint8_t mods) {
  const BoundType& type = TypeOf(key);
  const std::uint8_t active = mods & type.mask;
  int level = 0;
  std::uint8_t preserve = 0;
  for (const BoundType::Entry& e : type.entries) {
    if (e.active && e.mask == active) {
      level = e.level;
      preserve = e.preserve;
      break;
    }
  }
  Output out;
  out.levelIndex = level;
  if (level >= type.levels || static_cast<std::size_t>(level) >= key.levels.size()) return out;
  const xkb::Level& l = key.levels[static_cast<std::size_t>(level)];
  out.level = &l;
  if (l.syms.empty()) return out;
  if (l.syms.size() > 1) {
    out.kind = Output::kSeveral;
    return out;
  }
  Keysym ks = KeysymByName(l.syms[0]);
  if (ks.kind == Keysym::kUnknown) {
    out.kind = Output::kUnknown;
    out.name = l.syms[0];
    return out;
  }
  // Caps Lock upper-cases the keysym where the type does not use Lock up.
  const bool capsTransform = (mods & kLock) != 0 && (type.mask & ~preserve & kLock) == 0;
  if (capsTransform) {
    const CaseRow* r = CaseOf(ks.value);
    if (r != nullptr && r->upper != ks.value) {
      ks = cache_.ByValue(r->upper);
      // libxkbcommon upper-cases a few keysyms (ssharp, mu, ydiaeresis) to
      // a code point taken as a keysym, which types nothing.
      if (ks.kind == Keysym::kNoChar) return out;
    }
  }
  switch (ks.kind) {
    case Keysym::kChar:
      out.kind = Output::kChar;
      out.ch = ks.ch;
      break;
    case Keysym::kDead:
      out.kind = Output::kDead;
      out.name = std::string(ks.deadName);
      out.ch = ks.ch;
      break;
    case Keysym::kCompose:
      out.kind = Output::kCompose;
      break;
    default:
      out.kind = Output::kNoChar;
      out.name = l.syms[0];
      break;
  }
  return out;
}

Cell Importing::CellOf(const Output& out, const xkb::Key& key, std::set<std::string>& reported, KeyLine& line) {
  Cell c;
  const auto leftOut = [&](const std::string& what, const std::string& why) {
    if (!reported.insert(what).second) return;
    const Where& w = out.level != nullptr ? out.level->where : key.where;
    Warn(w, "<" + key.name + ">: " + what + " is left out: " + why);
    line.note += std::string(line.note.empty() ? "left out: " : ", ") + what;
  };
  switch (out.kind) {
    case Output::kChar:
      if (out.ch < 0x20 || out.ch == 0x7F) {
        leftOut(CodePoint(out.ch), "Velto types no control characters");
        break;
      }
      c.kind = Cell::kChar;
      c.ch.code = out.ch;
      typed_.insert(out.ch);
      break;
    case Output::kDead:
      c.kind = Cell::kDeadNamed;
      c.name = out.name;
      if (std::find(deadKeys_.begin(), deadKeys_.end(), out.name) == deadKeys_.end()) {
        deadKeys_.push_back(out.name);
      }
      break;
    case Output::kCompose:
      c.kind = Cell::kComposeKey;
      composeKey_ = true;
      break;
    case Output::kNoChar:
      leftOut(out.name, "it types no character");
      break;
    case Output::kSeveral:
      leftOut("a level of several keysyms", "a key of Velto types one character");
      break;
    case Output::kUnknown:
      leftOut(out.name, "no such keysym (xkbcomp leaves it out too)");
      break;
    case Output::kNothing:
      break;
  }
  return c;
}

void Importing::AddKey(const xkb::Key& key, std::uint16_t scan, Model& m, bool composeOnly) {
  KeyLine line;
  line.scan = scan;
  line.layout = 1;
  std::set<std::string> reported;
  std::set<int> used;
  for (const bool caps : {false, true}) {
    Plane& plane = caps ? line.caps : line.plain;
    for (const bool altgr : {false, true}) {
      if (altgr && level3Slots_.empty()) continue;
      for (const bool shift : {false, true}) {
        const std::uint8_t mods = static_cast<std::uint8_t>((shift ? kShift : 0) | (caps ? kLock : 0) |
                                                            (altgr ? level3Mask_ : 0));
        Output out = State(key, mods);
        if (composeOnly && out.kind != Output::kCompose) out = Output{};
        used.insert(out.levelIndex);
        const Cell cell = CellOf(out, key, reported, line);
        for (const std::uint8_t slot : altgr ? level3Slots_ : std::vector<std::uint8_t>{kSlotPlain}) {
          plane.cells[slot][shift ? 1 : 0] = cell;
          if (shift) plane.cells[slot][2] = cell;
          plane.any = plane.any || cell.kind != Cell::kEmpty;
        }
      }
    }
  }
  // Levels these states never reach, which a level-5 key would.
  for (std::size_t l = 4; l < key.levels.size() && level5_; ++l) {
    if (key.levels[l].syms.empty() || used.count(static_cast<int>(l)) != 0) continue;
    if (reported.insert("levels 5 and up").second) {
      Warn(key.levels[l].where, "<" + key.name + ">: levels 5 and up are left out: Velto has no level-5 key");
      line.note += std::string(line.note.empty() ? "left out: " : ", ") + "levels 5 and up";
    }
  }
  if (!line.plain.any && !line.caps.any) return;
  line.hasCells = true;
  line.capsExplicit = true;  // until ChooseCapsModes finds a mode that makes it
  m.keys.push_back(std::move(line));
}

// The Caps Lock plane a mode makes of a plain plane, as the builder makes it.
Plane Derive(const Plane& plain, CapsMode mode) {
  Plane p;
  if (mode == CapsMode::kNone) return p;
  p = plain;
  const auto swapShift = [](Cell (&slot)[3]) {
    const Cell plainCell = slot[0];
    slot[0] = slot[1];
    slot[1] = slot[2] = plainCell;
  };
  if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) swapShift(p.cells[kSlotPlain]);
  if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) swapShift(p.cells[kSlotRightAlt]);
  if (mode == CapsMode::kLetters) {
    for (auto& slot : p.cells) {
      for (Cell& c : slot) {
        if (c.kind == Cell::kChar) c.ch.code = vkl::OtherCase(c.ch.code);
      }
    }
  }
  return p;
}

bool SamePlane(const Plane& a, const Plane& b) {
  for (std::size_t s = 0; s < kSlotsPerKey; ++s) {
    for (int col = 0; col < 3; ++col) {
      const Cell &x = a.cells[s][col], &y = b.cells[s][col];
      if (x.kind != y.kind || x.ch.code != y.ch.code || x.name != y.name) return false;
    }
  }
  return true;
}

constexpr CapsMode kModes[] = {CapsMode::kLetters, CapsMode::kSame, CapsMode::kShift, CapsMode::kAltGr,
                               CapsMode::kShiftAltGr, CapsMode::kNone};

// The layout's caps mode is the one most keys follow; a key that follows
// another says so on its line; the others give their Caps Lock plane.
void Importing::ChooseCapsModes(Model& m) {
  std::map<CapsMode, int> votes;
  for (const KeyLine& k : m.keys) {
    for (const CapsMode mode : kModes) {
      if (SamePlane(Derive(k.plain, mode), k.caps)) ++votes[mode];
    }
  }
  CapsMode layoutMode = CapsMode::kLetters;
  for (const CapsMode mode : kModes) {
    if (votes[mode] > votes[layoutMode]) layoutMode = mode;
  }
  m.layouts[1].caps = layoutMode;
  for (KeyLine& k : m.keys) {
    if (SamePlane(Derive(k.plain, layoutMode), k.caps)) {
      k.capsExplicit = false;
      continue;
    }
    for (const CapsMode mode : kModes) {
      if (SamePlane(Derive(k.plain, mode), k.caps)) {
        k.capsExplicit = false;
        k.capsMode = mode;
        break;
      }
    }
  }
}

bool Importing::Run(Model& m) {
  xkb::Names names;
  names.model = o_.model;
  names.layout = o_.layout;
  names.variant = o_.variant;
  names.options = o_.options;
  if (!xkb::ResolveRules(o_.root + "/rules/evdev", names, components_, diags_)) return false;
  auto& reader = cache_.readers[o_.root];
  if (!reader) reader = std::make_unique<xkb::Reader>(o_.root);
  reader->ReportTo(diags_);
  if (!reader->ReadKeycodes(components_.keycodes, keymap_) || !reader->ReadTypes(components_.types, keymap_) ||
      !reader->ReadSymbols(components_.symbols, keymap_)) {
    return false;
  }
  BindVirtualModifiers();

  // The keys that select level 3, and whether one selects level 5.
  for (const xkb::Key& k : keymap_.keys) {
    if (k.levels.empty() || k.levels[0].syms.size() != 1 || k.actions) continue;
    const std::string& sym = k.levels[0].syms[0];
    const bool fake = std::find_if(std::begin(kFakeKeys), std::end(kFakeKeys),
                                   [&](const char* f) { return k.name == f; }) != std::end(kFakeKeys);
    if (fake) continue;
    if (IsLevel5Keysym(sym)) level5_ = true;
    if (!IsLevel3Keysym(sym)) continue;
    const auto slot = std::find_if(std::begin(kModifierSlots), std::end(kModifierSlots),
                                   [&](const ModifierSlot& s) { return k.name == s.name; });
    if (slot == std::end(kModifierSlots)) {
      Warn(k.levels[0].where, "<" + k.name + "> selects level 3, and Velto cannot make it: it chooses by the "
                              "Ctrl, Alt and Win keys; levels 3 and 4 are left out of that key");
      continue;
    }
    level3Slots_.push_back(slot->slot);
    claims_ = static_cast<std::uint16_t>(claims_ | 1u << slot->bit);
    // Win + a key that types nothing must not reach the system as its hotkey.
    if (slot->slot == kSlotLeftWin || slot->slot == kSlotRightWin) {
      claims_ = static_cast<std::uint16_t>(claims_ | 1u << kLayoutMaskWinHotkeyEats);
    }
  }
  level3Mask_ = VirtualMask("LevelThree");
  // Where Shift and the level-3 key change each other (de(T3): each types
  // ISO_Level5_Latch with the other held), they select levels 5 and up,
  // which Velto has not: its Shift + level 3 is the type's level 4.
  const xkb::Key* shift = keymap_.FindKey("LFSH");
  for (const xkb::Key& k : keymap_.keys) {
    const bool isLevel3 = !k.levels.empty() && k.levels[0].syms.size() == 1 && IsLevel3Keysym(k.levels[0].syms[0]);
    if (level3Slots_.empty() || (&k != shift && !isLevel3)) continue;
    const Output other = State(k, &k == shift ? level3Mask_ : static_cast<std::uint8_t>(kShift));
    if (other.kind != Output::kNoChar || other.level == nullptr) continue;
    if (other.name == (&k == shift ? "Shift_L" : k.levels[0].syms[0])) continue;
    Warn(other.level->where, "<" + k.name + "> types " + other.name + " with " +
                                 (&k == shift ? "the level-3 key" : "Shift") +
                                 " held, which selects levels 5 and up; Velto's Shift + level 3 types level 4");
  }
  if (const xkb::Key* caps = keymap_.FindKey("CAPS")) {
    if (!caps->levels.empty() && (caps->levels[0].syms.size() != 1 || caps->levels[0].syms[0] != "Caps_Lock")) {
      const std::string what = caps->levels[0].syms.empty() ? "NoSymbol" : caps->levels[0].syms[0];
      Warn(caps->levels[0].where, "the Caps key is " + what +
                                      ", which Velto cannot make: it stays Caps Lock, whose plane is what "
                                      "the keys type with the Lock modifier");
    }
  }

  m.set.kind = compiler::SetChoice::kUnicode;
  compiler::LayoutDef& zero = m.layouts[0];
  zero.defined = true;
  zero.set.kind = compiler::SetChoice::kUnicode;
  for (const char c : std::string("US")) zero.name.push_back({false, static_cast<char32_t>(c), {}});
  compiler::LayoutDef& layout = m.layouts[1];
  layout.defined = true;
  layout.set.kind = compiler::SetChoice::kUnicode;
  layout.claims = claims_;

  for (const KeyScan& ks : kCharacterKeys) {
    if (const xkb::Key* k = keymap_.FindKey(ks.name)) AddKey(*k, ks.scan, m);
  }
  for (const KeyScan& ks : kOtherKeys) {
    const xkb::Key* k = keymap_.FindKey(ks.name);
    if (k == nullptr) continue;
    // Only their compose key: Velto leaves their other keysyms to the system.
    const bool compose = std::any_of(k->levels.begin(), k->levels.end(), [](const xkb::Level& l) {
      return l.syms.size() == 1 && l.syms[0] == "Multi_key";
    });
    if (compose) AddKey(*k, ks.scan, m, true);
  }
  for (const xkb::Key& k : keymap_.keys) {
    const bool compose = std::any_of(k.levels.begin(), k.levels.end(), [](const xkb::Level& l) {
      return l.syms.size() == 1 && l.syms[0] == "Multi_key";
    });
    const auto named = [&](const KeyScan& s) { return k.name == keymap_.RealName(s.name); };
    const bool known = std::any_of(std::begin(kCharacterKeys), std::end(kCharacterKeys), named) ||
                       std::any_of(std::begin(kOtherKeys), std::end(kOtherKeys), named);
    if (compose && !known) {
      Warn(k.where, "<" + k.name + "> is the compose key here, which Velto cannot make of that key; "
                    "it is left out");
    }
  }
  ChooseCapsModes(m);
  for (const std::string& name : deadKeys_) {
    const Keysym ks = KeysymByName("dead_" + name);
    m.deadNames[name] = Char{false, ks.ch != 0 ? ks.ch : U'\u25CC', {}};
    m.deadOrder.push_back(name);
  }
  AddCompositions(m);
  Header(m);  // the name counts in the set
  FitTheSet(m);
  return !diags_.HasErrors();
}

// The sequences of the Compose file that this layout can type: those of its
// dead keys, and of its compose key if it has one, whose keys it has.
void Importing::AddCompositions(Model& m) {
  if (deadKeys_.empty() && !composeKey_) return;
  const std::string path = ComposePath();
  auto found = cache_.compose.find(path);
  if (found == cache_.compose.end()) {
    XkbImporter::Cache::Compose c;
    Diagnostics d;
    compiler::Reporter report(d);
    Model file;
    c.ok = compiler::ReadComposeFile(path, "en_US.UTF-8", file, report) && !d.HasErrors();
    if (!c.ok && d.all().empty()) d.Error(path, 0, 0, "cannot read this Compose file");
    c.sequences = std::move(file.sequences);
    c.messages = d.all();
    found = cache_.compose.emplace(path, std::move(c)).first;
  }
  const XkbImporter::Cache::Compose& c = found->second;
  for (const Diagnostic& d : c.messages) {
    if (d.error) {
      diags_.Error(d.file, d.line, d.column, d.message);
    } else {
      diags_.Warning(d.file, d.line, d.column, d.message);
    }
  }
  if (!c.ok) return;
  const std::set<std::string> dead(deadKeys_.begin(), deadKeys_.end());
  const auto typeable = [&](const compiler::ComposeInput& in) {
    switch (in.kind) {
      case compiler::ComposeInput::kChar:
        return typed_.count(in.ch.code) != 0;
      case compiler::ComposeInput::kDead:
        return dead.count(in.name) != 0;
      case compiler::ComposeInput::kComposeKey:
        return composeKey_;
    }
    return false;
  };
  for (const compiler::Sequence& s : c.sequences) {
    if (!typeable(s.start) || !std::all_of(s.inputs.begin(), s.inputs.end(), typeable)) continue;
    if (!s.result.dead.empty() && dead.count(s.result.dead) == 0) continue;
    compiler::Sequence kept = s;
    kept.order = m.nextOrder++;
    m.sequences.push_back(std::move(kept));
  }
}

// A Unicode set holds 255 characters: past that, the characters of the
// highest levels go first, then those of Caps Lock that Shift types too.
void Importing::FitTheSet(Model& m) {
  // What the builder places in the set: the characters, and each dead key
  // and the compose key for the input that stands for it.
  const auto count = [&]() {
    std::set<char32_t> chars;
    std::set<std::string> inputs;
    for (const Char& c : m.layouts[1].name) chars.insert(c.code);
    for (const KeyLine& k : m.keys) {
      const Plane caps = k.capsExplicit ? k.caps : Derive(k.plain, k.capsMode.value_or(m.layouts[1].caps));
      for (const Plane* p : {&k.plain, &caps}) {
        for (const auto& slot : p->cells) {
          for (const Cell& c : slot) {
            if (c.kind == Cell::kChar) chars.insert(c.ch.code);
            if (c.kind == Cell::kDeadNamed || c.kind == Cell::kComposeKey) inputs.insert(c.name);
          }
        }
      }
    }
    return chars.size() + inputs.size();
  };
  std::size_t n = count();
  if (n <= kMaxSetCharacters) return;
  // Drop the Shift + level-3 states, then the level-3 ones, key by key from
  // the last, until the set fits.
  for (const int col : {1, 0}) {
    for (auto k = m.keys.rbegin(); k != m.keys.rend() && n > kMaxSetCharacters; ++k) {
      bool dropped = false;
      for (const std::uint8_t slot : level3Slots_) {
        for (Plane* p : {&k->plain, &k->caps}) {
          for (const int c : col == 1 ? std::vector<int>{1, 2} : std::vector<int>{0}) {
            if (p->cells[slot][c].kind != Cell::kEmpty) dropped = true;
            p->cells[slot][c] = Cell{};
          }
        }
      }
      if (!dropped) continue;
      k->capsExplicit = true;
      k->capsMode.reset();
      k->note += std::string(k->note.empty() ? "left out: " : ", ") +
                 (col == 1 ? "Shift + level 3 (more than 255 characters)" : "level 3 (more than 255 characters)");
      n = count();
    }
  }
  diags_.Warning(o_.root + "/symbols/" + o_.layout, 0, 0,
                 "the layout types more than 255 different characters, which a Unicode layout holds: level 3 "
                 "with Shift, then level 3, is left out of the last keys until it fits");
}

// A layout's name has 20 characters: a longer one is cut after a word,
// and a parenthesis it leaves open is closed ("English (US, intl.)").
std::vector<Char> ShortName(const std::string& title) {
  std::u32string s;
  for (std::size_t pos = 0; pos < title.size();) s += NextUtf8(title, pos);
  if (s.size() > kMaxNameCharacters) {
    const bool open = s.find(U'(') < kMaxNameCharacters - 1;
    std::size_t cut = s.rfind(U' ', open ? kMaxNameCharacters - 1 : kMaxNameCharacters);
    if (cut == std::u32string::npos || cut == 0) cut = kMaxNameCharacters - (open ? 1 : 0);
    s.resize(cut);
    while (!s.empty() && (s.back() == U',' || s.back() == U' ' || s.back() == U';')) s.pop_back();
    if (open && s.find(U')', s.find(U'(')) == std::u32string::npos) s += U')';
  }
  std::vector<Char> name;
  for (const char32_t c : s) name.push_back({false, c, {}});
  return name;
}

void Importing::Header(Model& m) {
  const std::string title = keymap_.groupName.empty() ? o_.layout : keymap_.groupName;
  m.layouts[1].name = ShortName(title);
  const std::string upper = Upper(o_.layout);
  if (upper.size() <= 3 && std::all_of(upper.begin(), upper.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
    m.layouts[1].badge = upper;
  }
  std::string options;
  for (const std::string& opt : o_.options) options += (options.empty() ? "" : ",") + opt;
  m.header.push_back("Imported by veltoc import-xkb from xkeyboard-config (" + o_.root + "):");
  m.header.push_back("  \"" + title + "\": layout " + o_.layout +
                     (o_.variant.empty() ? "" : ", variant " + o_.variant) +
                     (options.empty() ? "" : ", options " + options) + ", model " + o_.model);
  m.header.push_back("  symbols " + components_.symbols + ", types " + components_.types);
  std::string level3;
  for (const ModifierSlot& s : kModifierSlots) {
    if (std::find(level3Slots_.begin(), level3Slots_.end(), s.slot) != level3Slots_.end()) {
      level3 += (level3.empty() ? "" : ", ") + std::string(s.title);
    }
  }
  m.header.push_back("  the level-3 key: " + (level3.empty() ? std::string("none") : level3));
  if (!deadKeys_.empty() || composeKey_) {
    m.header.push_back("  compositions from " + ComposePath());
  }
  m.header.push_back("It is layout 1; layout 0 leaves every key to the system.");
}

}  // namespace

bool ParseXkbLayoutName(const std::string& text, std::string& layout, std::string& variant) {
  const std::size_t open = text.find('(');
  layout = text.substr(0, open);
  variant.clear();
  if (open != std::string::npos) {
    if (text.back() != ')' || open + 2 >= text.size()) return false;
    variant = text.substr(open + 1, text.size() - open - 2);
  }
  const auto good = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '/';
    });
  };
  return !layout.empty() && good(layout) && good(variant);
}

XkbImporter::XkbImporter() : cache_(std::make_unique<Cache>()) {}
XkbImporter::~XkbImporter() = default;

bool XkbImporter::Import(const XkbImportOptions& options, compiler::Model& out, Diagnostics& diags) {
  Model m;
  Importing run(options, *cache_, diags);
  if (!run.Run(m)) return false;
  out = std::move(m);
  return true;
}

bool XkbToVkl(const XkbImportOptions& options, std::string& out, Diagnostics& diags) {
  out.clear();
  XkbImporter importer;
  Model m;
  if (!importer.Import(options, m, diags)) return false;
  out = PrintModel(m);
  return true;
}

}  // namespace velto::layoutkit
