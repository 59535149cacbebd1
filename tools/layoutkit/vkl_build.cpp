// The compiler of the keyboard language. Parsing (vkl_parse.cpp) reads
// statements into a small model that still holds Unicode characters; the
// builder here encodes that model into the five blocks. Every error is
// reported, and the description is only written when there is none. The
// character sets and chord checks that the decompiler shares are here too.
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <tuple>
#include <vector>

#include "delivery/macro.h"
#include "layoutkit/composition_builder.h"
#include "layoutkit/badge.h"
#include "layoutkit/codepage.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_model.h"
#include "layoutkit/vkl_syntax.h"
#include "shared/charset.h"
#include "shared/chords.h"
#include "shared/compositions.h"

namespace velto::layoutkit {

namespace compiler {

namespace {

constexpr std::size_t kMaxMacroLength = 255;

std::string Describe(char32_t c) {
  std::string out = CodePoint(c);
  if (c > 0x20 && c != 0x7F && (c < 0x80 || c >= 0xA0)) {
    out += " '";
    AppendUtf8(out, c);
    out += "'";
  }
  return out;
}

class Builder {
 public:
  Builder(Model& m, Reporter& report, KeyboardDescription& out) : m_(m), report_(report), d_(out) {}

  void Build() {
    DeadKeyInputs();
    Sets();
    Entries();
    Options();
    Macros();
    DeadKeys();
    Records();
    Layouts();
    Tables();
    Compositions();
    Uses();
    Warnings();
  }

 private:
  // A character a Unicode set must hold, and where it was written.
  struct Need {
    char32_t c;
    Pos pos;
  };

  static vkl::CharSet SetOf(const SetChoice& choice) {
    if (choice.kind == SetChoice::kUnicode) {
      vkl::CharSet set;
      set.kind = vkl::CharSet::Kind::kUnicode;
      set.codePage = kUnicodeCodePageId;
      return set;
    }
    const auto kind = choice.kind == SetChoice::kAnsi ? vkl::CharSet::Kind::kAnsi : vkl::CharSet::Kind::kCodePage;
    return vkl::CharSet::CodePage(choice.codePage, kind);
  }

  static std::string LayoutName(unsigned n) { return "layout " + std::to_string(n); }

  // Layout 2 or 3 takes the Unicode set of layout 0 or 1 unless it names a
  // table of its own: the library reads their keys from the same planes.
  bool Joins(unsigned n) const {
    if (n < 2) return false;
    const LayoutDef &l = m_.layouts[n], &owner = m_.layouts[n - 2];
    return owner.defined && owner.set.kind == SetChoice::kUnicode && l.set.kind == SetChoice::kUnicode &&
           l.set.pins.empty() && l.set.entry < 0;
  }

  void Sets() {
    if (m_.set.kind == SetChoice::kInherit) m_.set.kind = SetChoice::kCodePage, m_.set.codePage = kDefaultCodePage;
    for (LayoutDef& l : m_.layouts) {
      if (l.set.kind == SetChoice::kInherit) l.set.kind = m_.set.kind, l.set.codePage = m_.set.codePage;
    }
    const auto tableWithoutUnicode = [&](const SetChoice& s) {
      if (!s.pins.empty() && s.kind != SetChoice::kUnicode) {
        report_.Error(s.tablePos, "a table belongs to a Unicode set: say \"unicode\"");
      }
    };
    tableWithoutUnicode(m_.set);
    // The characters of the macros and dead keys come first in every
    // Unicode set, in the same order, so that they get the same bytes.
    std::vector<Need> shared;
    const auto add = [](std::vector<Need>& to, const Char& c) {
      if (!c.raw && c.code != 0) to.push_back({c.code, c.pos});
    };
    // Composing, the dead keys' characters live in the composition table:
    // only the raw rows of `deadrow` stay in the 256-row table.
    for (const DeadRow& r : m_.deadRows) {
      if (composing_ && !r.name.empty()) continue;
      if (!r.deadZero) add(shared, r.dead);
      if (!r.baseZero) add(shared, r.base);
      if (!r.resultZero) add(shared, r.result);
    }
    if (!composing_) {
      for (const auto& [name, c] : m_.deadNames) add(shared, c);
    }
    for (const MacroDef& mdef : m_.macros) {
      for (const Char& c : mdef.text) add(shared, c);
    }
    top_ = SetOf(m_.set);
    if (m_.set.kind == SetChoice::kUnicode) Place(top_, m_.set.pins, {}, shared, "the macros and dead keys");
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined) continue;
      tableWithoutUnicode(l.set);
      if (Joins(n)) continue;  // set with its owner's below
      sets_[n] = SetOf(l.set);
      if (l.set.kind != SetChoice::kUnicode) continue;
      std::vector<Need> own = LayoutNeeds(n, add);
      std::string what = LayoutName(n);
      if (n < 2 && Joins(n + 2)) {
        for (const Need& c : LayoutNeeds(n + 2, add)) own.push_back(c);
        if (m_.layouts[n + 2].defined) what += " (with layout " + std::to_string(n + 2) + ", which shares its set)";
      }
      Place(sets_[n], l.set.pins, sharedOverflow_ ? std::vector<Need>{} : shared, own, what);
      if (n < 2 && Joins(n + 2)) sets_[n + 2] = sets_[n];
    }
  }

  // A layout's own characters: its keys' (the Caps Lock plane's included)
  // in the order they are written, its charset's, its name's.
  template <typename Add>
  std::vector<Need> LayoutNeeds(unsigned n, const Add& add) const {
    std::vector<Need> needs;
    const LayoutDef& l = m_.layouts[n];
    for (const KeyLine& k : m_.keys) {
      if (k.layout != static_cast<int>(n)) continue;
      const auto plane = [&](const Plane& p, bool otherCase) {
        for (const auto& slot : p.cells) {
          for (const Cell& c : slot) {
            if (!otherCase && Composes(n)) {
              // A dead key or the compose key stands for its input.
              const std::optional<char32_t> input = InputOfCell(c);
              if (input) {
                needs.push_back({*input, c.pos});
                continue;
              }
            }
            if (c.kind != Cell::kChar && c.kind != Cell::kDead) continue;
            if (!otherCase) {
              add(needs, c.ch);
            } else if (c.kind == Cell::kChar && !c.ch.raw && vkl::OtherCase(c.ch.code) != c.ch.code) {
              needs.push_back({vkl::OtherCase(c.ch.code), c.pos});
            }
          }
        }
      };
      plane(k.plain, false);
      if (k.capsExplicit) {
        plane(k.caps, false);
      } else if (k.capsMode.value_or(l.caps) == CapsMode::kLetters) {
        plane(k.plain, true);
      }
    }
    for (const Char& c : l.charset) add(needs, c);
    for (const Char& c : l.name) add(needs, c);
    return needs;
  }

  // Fills a Unicode table: U+0001..U+007F on their own bytes, the others on
  // free bytes from 0x80 up, then from 0x01 up; `preferred` (the macros'
  // and dead keys') before `own`. With pinned slots the table is closed:
  // only `own` characters of U+0001..U+007F join it, on their own bytes.
  void Place(vkl::CharSet& set, const std::vector<Pin>& pins, const std::vector<Need>& preferred,
             const std::vector<Need>& own, const std::string& what) {
    for (const Pin& p : pins) set.table[p.byte] = p.value;
    const bool closed = !pins.empty();
    std::vector<const Need*> order;
    for (const Need& c : preferred) order.push_back(&c);
    const std::size_t ownFrom = order.size();
    for (const Need& c : own) order.push_back(&c);
    for (std::size_t i = closed ? ownFrom : 0; i < order.size(); ++i) {
      const char32_t c = order[i]->c;
      if (c < 0x80 && set.table[c] == 0 && set.Byte(c) < 0) set.table[c] = c;
    }
    // Bytes 0x80..0xFF, then 0x01..0x7F.
    const auto freeByte = [&set]() {
      for (int i = 0; i < 255; ++i) {
        const int b = i < 128 ? 0x80 + i : i - 127;
        if (set.table[b] == 0) return b;
      }
      return -1;
    };
    std::set<char32_t> missing;
    const Need* first = nullptr;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Need& c = *order[i];
      if (set.Byte(c.c) >= 0) continue;
      if (closed) {
        if (i >= ownFrom)
          report_.Error(c.pos, "character " + Describe(c.c) + " is not in the table of " + what);
        continue;
      }
      const int b = freeByte();
      if (b < 0) {
        if (missing.insert(c.c).second && first == nullptr) first = &c;
        continue;
      }
      set.table[b] = c.c;
    }
    if (first != nullptr) {
      report_.Error(first->pos, what + " needs " +
                                    std::to_string(Count(set) + static_cast<int>(missing.size())) +
                                    " characters; a Unicode set holds at most 255");
      if (&set == &top_) sharedOverflow_ = true;
    }
  }

  static int Count(const vkl::CharSet& set) {
    int n = 0;
    for (int b = 1; b < 256; ++b) n += set.Char(static_cast<std::uint8_t>(b)) != 0;
    return n;
  }

  // The macro entries of the tables: the given ones, then 253..255 for the
  // first distinct table, 250..252 for the next, and so on.
  void Entries() {
    std::set<int> given;
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (l.defined && l.set.kind == SetChoice::kUnicode && l.set.entry >= 0) {
        entry_[n] = l.set.entry;
        for (int e = 0; e < 3; ++e) given.insert(l.set.entry + e);
      }
    }
    int candidate = kLastUnicodeTableEntry;
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined || l.set.kind != SetChoice::kUnicode || entry_[n] >= 0) continue;
      if (Joins(n)) {
        entry_[n] = entry_[n - 2];
        continue;
      }
      for (unsigned m = 0; m < n && entry_[n] < 0; ++m) {
        const LayoutDef& o = m_.layouts[m];
        if (o.defined && o.set.kind == SetChoice::kUnicode && o.set.entry < 0 &&
            std::equal(std::begin(sets_[m].table), std::end(sets_[m].table), std::begin(sets_[n].table))) {
          entry_[n] = entry_[m];
        }
      }
      if (entry_[n] >= 0) continue;
      while (candidate >= 0 && (given.count(candidate) || given.count(candidate + 1) || given.count(candidate + 2))) {
        candidate -= 3;
      }
      entry_[n] = candidate;
      candidate -= 3;
    }
    for (unsigned n = 0; n < kLayouts; ++n) {
      for (int e = 0; e < 3 && entry_[n] >= 0; ++e) tableOf_.emplace(entry_[n] + e, n);
    }
  }

  // The byte of a character in a set; raw bytes stand as they are.
  std::optional<std::uint8_t> Encode(const Char& c, const vkl::CharSet& set) {
    if (c.raw) return static_cast<std::uint8_t>(c.code);
    if (c.code == 0) return 0;
    const int b = set.Byte(c.code);
    if (b >= 0) return static_cast<std::uint8_t>(b);
    // A Unicode set lacks a character only where an error said so already.
    if (!set.unicode()) {
      report_.Error(c.pos,
                    "character " + Describe(c.code) + " is not in code page " + std::to_string(set.codePage));
    } else if (!report_.HasErrors()) {
      report_.Error(c.pos, "character " + Describe(c.code) + " is not in its Unicode set");
    }
    return std::nullopt;
  }

  void Options() {
    OptionBlock& o = d_.options;
    o.options = static_cast<std::uint16_t>(m_.options | m_.optionBits);
    std::uint16_t* words[3][2] = {{&o.layoutHotkeyMods, &o.layoutHotkeyScan},
                                  {&o.enableHotkeyMods, &o.enableHotkeyScan},
                                  {&o.disableHotkeyMods, &o.disableHotkeyScan}};
    for (int i = 0; i < 3; ++i) {
      *words[i][0] = m_.hotkeys[i].mods;
      *words[i][1] = m_.hotkeys[i].scan;
    }
    o.reserved = static_cast<std::uint16_t>(m_.optionBytes[0] | m_.optionBytes[1] << 8);
  }

  std::string TableText(int entry) const {
    const int e = tableOf_.at(entry);
    return LayoutName(static_cast<unsigned>(e)) + "'s character table (macro entries " +
           std::to_string(entry_[e]) + " to " + std::to_string(entry_[e] + 2) + ")";
  }

  void Macros() {
    std::set<int> taken;
    for (const MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) continue;
      if (tableOf_.count(mdef.index)) {
        report_.Error(mdef.pos, "macro @" + std::to_string(mdef.index) + " is where " +
                                    TableText(mdef.index) + " is kept");
      } else if (!taken.insert(mdef.index).second) {
        report_.Error(mdef.pos, "duplicate definition of macro index @" + std::to_string(mdef.index));
      }
    }
    int next = 1;
    for (MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) {
        while (next < 256 && (taken.count(next) || tableOf_.count(next))) ++next;
        if (next >= 256) {
          report_.Error(mdef.pos, "more than " + std::to_string(255 - tableOf_.size()) + " macros" +
                                 (tableOf_.empty() ? "" : " beside the character tables"));
          continue;
        }
        mdef.index = next;
        taken.insert(next);
      } else if (tableOf_.count(mdef.index)) {
        continue;
      }
      if (mdef.index == 0)
        report_.Warning(mdef.pos, "macro @0 is never typed: a key's macro number 0 means nothing");
      MacroText(mdef);
    }
  }

  void MacroText(const MacroDef& mdef) {
    std::vector<std::uint8_t> bytes;
    std::vector<Pos> at;
    std::vector<std::pair<std::uint8_t, Char>> chars;
    bool ok = true;
    for (const Char& c : mdef.text) {
      const auto b = Encode(c, top_);
      ok = ok && b.has_value();
      if (b) bytes.push_back(*b), at.push_back(c.pos), chars.emplace_back(*b, c);
    }
    if (!ok) return;
    if (bytes.size() > kMaxMacroLength) {
      report_.Error(mdef.pos, "macro " + mdef.name + " is " + std::to_string(bytes.size()) +
                             " bytes long once encoded; a macro holds at most 255");
      return;
    }
    if (!mdef.unchecked) Chords(bytes, at);
    MacroEntry& e = d_.macros.entries[mdef.index];
    e.length = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), e.text);
    macroChars_[mdef.index] = std::move(chars);
  }

  void Chords(const std::vector<std::uint8_t>& text, const std::vector<Pos>& at) {
    for (const vkl::ChordProblem& problem : vkl::CheckChords(text, top_)) {
      report_.Error(at[problem.offset], problem.message);
    }
  }

  void DeadKeys() {
    for (const DeadRow& r : m_.deadRows) {
      if (!composing_ || r.name.empty()) rows_.push_back(&r);
    }
    if (rows_.size() > kDeadKeyRows) {
      report_.Error(rows_[kDeadKeyRows]->pos, "more than 256 dead-key rows");
    }
    std::map<std::pair<int, int>, int> first;
    for (std::size_t i = 0; i < rows_.size() && i < kDeadKeyRows; ++i) {
      const DeadRow& r = *rows_[i];
      const auto dead = r.deadZero ? std::optional<std::uint8_t>(0) : Encode(r.dead, top_);
      const auto base = r.baseZero ? std::optional<std::uint8_t>(0) : Encode(r.base, top_);
      const auto result = r.resultZero ? std::optional<std::uint8_t>(0) : Encode(r.result, top_);
      if (!dead || !base || !result) continue;
      d_.deadKeys.rows[i] = {*dead, *base, *result};
      rowWritten_[i] = true;
      if (*dead != 0 && !first.emplace(std::make_pair(*dead, *base), r.pos.line).second) {
        report_.Warning(r.pos, "never used: an earlier row for the same dead key and base character wins");
      }
      if (*dead != 0) deadBytes_.insert(*dead);
    }
  }

  // Gives every key its record, then writes the cells of the layouts.
  void Records() {
    std::map<std::uint16_t, const KeyLine*> explicitOf;
    std::set<int> reserved;
    for (const KeyLine& k : m_.keys) {
      if (k.record < 0) continue;
      reserved.insert(k.record);
      const auto [it, fresh] = explicitOf.emplace(k.scan, &k);
      if (!fresh && it->second->record != k.record) {
        report_.Error(k.pos, "key " + KeyNameOfScan(k.scan) + " is given record @" +
                                 std::to_string(k.record) + " here and @" +
                                 std::to_string(it->second->record) + " at line " +
                                 std::to_string(it->second->pos.line));
      }
    }
    std::map<std::uint16_t, int> record;
    for (const auto& [scan, k] : explicitOf) record[scan] = k->record;
    int next = 1;
    bool full = false;
    for (const KeyLine& k : m_.keys) {
      if (record.count(k.scan)) continue;
      while (next < static_cast<int>(kKeysPerPlane) && reserved.count(next)) ++next;
      if (next >= static_cast<int>(kKeysPerPlane)) {
        if (!full) report_.Error(k.pos, "more than 127 mapped keys: a plane has records 1 to 127");
        full = true;
        continue;
      }
      record[k.scan] = next++;
    }
    for (const auto& [scan, r] : record) d_.options.scanMap[scan] = static_cast<std::uint8_t>(r);

    std::map<std::pair<int, int>, const KeyLine*> defined;  // (layout, record) -> line
    for (const KeyLine& k : m_.keys) {
      if (!(k.hasCells || k.capsExplicit || k.capsMode) || !record.count(k.scan)) continue;
      const int r = record[k.scan];
      if (r >= static_cast<int>(kKeysPerPlane)) {
        report_.Error(k.pos, "record @" + std::to_string(r) + " is beyond the 128 records of a plane");
        continue;
      }
      const auto [it, fresh] = defined.emplace(std::make_pair(k.layout, r), &k);
      if (!fresh) {
        report_.Error(k.pos, "duplicate definition of key " + KeyNameOfScan(k.scan) + " in layout " +
                            std::to_string(k.layout) + " (record @" + std::to_string(r) + " is defined at line " +
                            std::to_string(it->second->pos.line) + ")");
        continue;
      }
      WriteKey(k, r);
    }
  }

  void WriteKey(const KeyLine& k, int record) {
    const LayoutDef& l = m_.layouts[k.layout];
    const vkl::CharSet& set = sets_[k.layout];
    KeyRecord& plain = d_.keys.planes[k.layout][record];
    KeyRecord& caps = d_.keys.planes[k.layout + 2][record];
    WritePlane(k.plain, k.layout, plain);
    if (k.capsExplicit) {
      WritePlane(k.caps, k.layout, caps);
    } else {
      caps = vkl::DeriveCaps(plain, k.capsMode.value_or(l.caps), set);
    }
  }

  bool NamedDeadCell(const Cell& c, int layout, const std::tuple<int, int, int>& at, std::uint8_t& byte) {
    const auto it = m_.deadNames.find(c.name);
    if (it == m_.deadNames.end()) {
      report_.Error(c.pos, "no dead key named " + c.name + " (deadkey " + c.name + " CHAR ... defines one)");
      return false;
    }
    if (composing_) {
      report_.Error(c.pos, "dead key " + c.name + " composes through the table of states, which only a unicode "
                           "layout reads: give " + LayoutName(static_cast<unsigned>(layout)) + " a unicode set");
      return false;
    }
    const auto b = Encode(it->second, top_);
    if (!b) return false;
    byte = *b;
    deadUses_[at] = {layout, byte, c.name};
    return true;
  }

  void WritePlane(const Plane& p, int layout, KeyRecord& out) {
    const vkl::CharSet& set = sets_[layout];
    for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
      for (int col = 0; col < 3; ++col) {
        const Cell& c = p.cells[slot][col];
        const std::tuple<int, int, int> at{c.pos.file, c.pos.line, c.pos.column};
        std::uint8_t byte = 0, flags = 0;
        switch (c.kind) {
          case Cell::kEmpty:
            continue;
          case Cell::kComposeKey:
            if (!Composes(layout)) {
              report_.Error(c.pos, "the compose key needs a layout whose dead keys compose through the table of "
                                   "compositions: a unicode layout (not classic)");
              continue;
            }
            [[fallthrough]];
          case Cell::kDead:
          case Cell::kDeadNamed:
            if (Composes(layout) && c.kind == Cell::kDead && c.ch.raw) {
              byte = static_cast<std::uint8_t>(c.ch.code);
              flags = static_cast<std::uint8_t>(1u << col);
              break;
            }
            if (Composes(layout)) {
              const std::optional<char32_t> input = InputOfCell(c);
              if (!input) continue;  // said when the dead keys were numbered
              const int b = set.Byte(*input);
              if (b < 0) continue;  // the set is full: said there
              byte = static_cast<std::uint8_t>(b);
              flags = static_cast<std::uint8_t>(1u << col);
              break;
            }
            if (c.kind == Cell::kDeadNamed) {
              if (!NamedDeadCell(c, layout, at, byte)) continue;
              flags = static_cast<std::uint8_t>(1u << col);
              break;
            }
            [[fallthrough]];
          case Cell::kChar: {
            const auto b = Encode(c.ch, set);
            if (!b) continue;
            byte = *b;
            const char32_t ch = set.Char(byte);
            if (c.kind == Cell::kDead) {
              flags = static_cast<std::uint8_t>(1u << col);
              deadUses_[at] = {layout, byte, {}};
            } else if (ch > 0 && ch < 0x20) {
              report_.Warning(c.pos,
                              "character " + Describe(ch) + " is below 32: the library never types it");
            }
            break;
          }
          case Cell::kMacro: {
            if (c.macroIndex >= 0) {  // by number: the entry as it stands
              byte = static_cast<std::uint8_t>(c.macroIndex);
            } else {
              const auto it = std::find_if(m_.macros.begin(), m_.macros.end(),
                                           [&](const MacroDef& d) { return d.name == c.name; });
              if (it == m_.macros.end() || it->index < 0) {
                if (it == m_.macros.end()) report_.Error(c.pos, "no macro named " + c.name);
                continue;
              }
              it->used = true;
              byte = static_cast<std::uint8_t>(it->index);
              macroUses_[at] = {layout, byte, c.name};
            }
            flags = static_cast<std::uint8_t>(1u << (col + 3) | (c.deadToo ? 1u << col : 0));
            break;
          }
        }
        KeySlot& s = out.slots[slot];
        s.ch[col] = byte;
        s.flags = static_cast<std::uint8_t>(s.flags | flags);
      }
    }
  }

  void Layouts() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined) continue;
      const vkl::CharSet& set = sets_[n];
      LayoutRecord& r = d_.layouts[n];
      r.flags = l.charThenLeft ? 1u << kLayoutFlagCharThenLeft : 0;
      r.modMask = l.claims;
      r.rightModEquivalence = l.rightAsLeft;
      const bool ansi = set.kind == vkl::CharSet::Kind::kAnsi;
      if (ansi) {
        r.reserved[0] = static_cast<std::uint8_t>(set.codePage & 0xFF);
        r.reserved[1] = static_cast<std::uint8_t>(set.codePage >> 8);
      } else {
        CharSetHeader h{};
        h.codePage = static_cast<std::uint16_t>(set.unicode() && l.set.id >= 0 ? l.set.id : set.codePage);
        std::memcpy(h.mark, kCharSetMark, sizeof h.mark);
        h.kind = static_cast<std::uint8_t>(set.unicode() ? CharSetKind::kUnicode : CharSetKind::kCodePage);
        if (Composes(static_cast<int>(n))) h.kind = kUnicodeComposingKind;
        if (set.unicode()) {
          h.tableEntry = static_cast<std::uint8_t>(entry_[n]);
          h.count = static_cast<std::uint16_t>(l.set.count >= 0 ? l.set.count : Count(set));
        }
        std::memcpy(r.reserved, &h, sizeof h);
      }
      if (!l.badge.empty()) StoreBadge(r, l.badge);
      auto* record = reinterpret_cast<std::uint8_t*>(&r);
      for (const Bytes& b : l.bytes) {
        if (!ansi && b.offset < vkl::kRecordBytesFirstMarked) {
          report_.Error(b.pos, "bytes 6 to 19 of the record of " + LayoutName(n) +
                              " hold its character set; raw bytes go at offsets 20 to 37 (or say \"codepage N ansi\")");
          continue;
        }
        std::copy(b.values.begin(), b.values.end(), record + b.offset);
      }
      for (const Char& c : l.charset) {
        if (const auto b = Encode(c, set)) r.charBitmap[*b / 8] |= static_cast<std::uint8_t>(1u << (*b % 8));
      }
      std::vector<std::uint8_t> name;
      bool ok = true;
      for (const Char& c : l.name) {
        const auto b = Encode(c, set);
        ok = ok && b.has_value();
        if (b) name.push_back(*b);
      }
      if (ok && name.size() > kLayoutNameSize) {
        report_.Error(l.namePos, "the layout name is " + std::to_string(name.size()) + " bytes in " +
                                (set.unicode() ? std::string("its Unicode set") : "code page " + std::to_string(set.codePage)) +
                                "; at most 20");
      } else if (ok) {
        std::copy(name.begin(), name.end(), r.name);
      }
    }
  }

  // Writes the Unicode tables into their macro entries; tables given at
  // entries that overlap must agree where they do.
  void Tables() {
    auto* block = reinterpret_cast<std::uint8_t*>(&d_.macros);
    std::map<int, unsigned> writer;  // byte of the macro block -> layout
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (entry_[n] < 0) continue;
      const int base = entry_[n] * static_cast<int>(sizeof(MacroEntry));
      bool clash = false;
      for (int i = 0; i < static_cast<int>(kUnicodeTableBytes); ++i) {
        const auto value = static_cast<std::uint8_t>(sets_[n].table[i / 3] >> (8 * (i % 3)));
        const auto [it, fresh] = writer.emplace(base + i, n);
        if (!fresh && block[base + i] != value && !clash) {
          clash = true;
          report_.Error(m_.layouts[n].set.pos, "the character tables of layouts " +
                                                   std::to_string(it->second) + " and " + std::to_string(n) +
                                                   " overlap in the macro entries and differ");
        }
        block[base + i] = value;
      }
    }
  }

  // A macro or a dead key means the characters it was written with in the
  // set of the macros and dead keys; a layout with another set that would
  // make other characters of its bytes may not use it. A layout posting ANSI
  // bytes is not checked: the system's code page decides there.
  void Uses() {
    const auto check = [&](const Use& u, const std::string& what, std::uint8_t byte, const Char& c) {
      const vkl::CharSet& set = sets_[u.layout];
      if (c.raw || c.code == 0 || set.Char(byte) == c.code) return true;
      const char32_t there = set.Char(byte);
      report_.Error(u.pos(), what + " means other characters in " +
                                 LayoutName(static_cast<unsigned>(u.layout)) + ": its byte 0x" +
                                 Hex(byte, 2) + " is " + Describe(c.code) +
                                 " in the set of the macros and dead keys, " +
                                 (there ? Describe(there) : "no character") +
                                 " in the layout's (give them the same set)");
      return false;
    };
    for (auto& [at, u] : macroUses_) {
      u.at = at;
      if (sets_[u.layout].kind == vkl::CharSet::Kind::kAnsi) continue;
      for (const auto& [byte, c] : macroChars_[u.byte]) {
        if (!check(u, "macro " + u.name, byte, c)) break;
      }
    }
    for (auto& [at, u] : deadUses_) {
      u.at = at;
      if (sets_[u.layout].kind == vkl::CharSet::Kind::kAnsi) continue;
      const std::string what = "dead key " + (u.name.empty() ? Describe(sets_[u.layout].Char(u.byte)) : u.name);
      bool ok = true;
      for (std::size_t i = 0; i < rows_.size() && i < kDeadKeyRows && ok; ++i) {
        const DeadKeyRow& row = d_.deadKeys.rows[i];
        if (!rowWritten_[i] || row.dead != u.byte) continue;
        const DeadRow& r = *rows_[i];
        ok = check(u, what, row.dead, r.dead) && (r.baseZero || check(u, what, row.next, r.base)) &&
             (r.resultZero || check(u, what, row.composed, r.result));
      }
    }
  }

  void Warnings() {
    for (const auto& [at, u] : deadUses_) {
      if (!deadBytes_.count(u.byte)) {
        report_.Warning(u.pos(), "dead key " + Describe(sets_[u.layout].Char(u.byte)) +
                                     " has no row in the dead-key table");
      }
    }
    for (const MacroDef& mdef : m_.macros) {
      if (!mdef.used) report_.Warning(mdef.pos, "macro " + mdef.name + " is never used");
    }
  }

  // --- Compositions -------------------------------------------------------

  // Whether the description composes through the table of states: it uses
  // what the 256-row table cannot say (sequences, texts, dead keys after
  // dead keys, the compose key), or its dead keys do not fit that table.
  bool NeedsTable() const {
    if (!m_.sequences.empty() || !m_.rawCompositions.empty()) return true;
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (m_.layouts[n].defined && m_.layouts[n].set.composing == 1) return true;
    }
    bool composeKey = false;
    ForEachCell([&](const KeyLine&, const Cell& c) { composeKey = composeKey || c.kind == Cell::kComposeKey; });
    if (composeKey || m_.deadRows.size() > kDeadKeyRows) return true;
    // A Unicode set that the dead keys' characters would overflow.
    std::set<char32_t> macros, dead;
    for (const MacroDef& mdef : m_.macros) {
      for (const Char& c : mdef.text) {
        if (!c.raw && c.code != 0) macros.insert(c.code);
      }
    }
    const auto addDead = [&](const Char& c, bool zero) {
      if (!zero && !c.raw && c.code != 0) dead.insert(c.code);
    };
    for (const DeadRow& r : m_.deadRows) {
      addDead(r.dead, r.deadZero), addDead(r.base, r.baseZero), addDead(r.result, r.resultZero);
    }
    for (const auto& [name, c] : m_.deadNames) addDead(c, false);
    const auto overflows = [&](std::set<char32_t> own) {
      std::set<char32_t> with = own;
      with.insert(macros.begin(), macros.end());
      own.insert(macros.begin(), macros.end());
      with.insert(dead.begin(), dead.end());
      return with.size() > 255 && own.size() <= 255;
    };
    if (SetKind(m_.set) == SetChoice::kUnicode && m_.set.pins.empty() && overflows({})) return true;
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (!UnicodeLayout(n) || !m_.layouts[n].set.pins.empty()) continue;
      std::set<char32_t> own;
      const auto add = [&own](std::vector<Need>&, const Char& c) {
        if (!c.raw && c.code != 0) own.insert(c.code);
      };
      for (const Need& c : LayoutNeeds(n, add)) own.insert(c.c);
      if (overflows(own)) return true;
    }
    return false;
  }

  SetChoice::Kind SetKind(const SetChoice& s) const {
    return s.kind == SetChoice::kInherit ? (m_.set.kind == SetChoice::kInherit ? SetChoice::kCodePage : m_.set.kind)
                                         : s.kind;
  }
  bool UnicodeLayout(unsigned n) const {
    return m_.layouts[n].defined && SetKind(m_.layouts[n].set) == SetChoice::kUnicode;
  }
  // Whether a layout's dead keys compose through the table of states.
  bool Composes(int n) const {
    const unsigned u = static_cast<unsigned>(n);
    return composing_ && u < kLayouts && UnicodeLayout(u) && m_.layouts[u].set.composing != 0;
  }

  template <typename Visit>
  void ForEachCell(const Visit& visit) const {
    for (const KeyLine& k : m_.keys) {
      for (const Plane* p : {&k.plain, &k.caps}) {
        for (const auto& slot : p->cells) {
          for (const Cell& c : slot) visit(k, c);
        }
      }
    }
  }

  // Numbers the dead keys: by first declaration, then those named nowhere
  // but as dead:CHAR on a key, in the order of the keys.
  void DeadKeyInputs() {
    composing_ = NeedsTable();
    if (!composing_) return;
    const auto add = [&](const std::string& name, const Char& c) {
      if (!name.empty() && deadIndex_.count(name)) return;
      if (!name.empty()) deadIndex_[name] = static_cast<int>(deadKeys_.size());
      deadKeys_.push_back({name, c});
    };
    for (const std::string& name : m_.deadOrder) {
      if (const auto it = m_.deadNames.find(name); it != m_.deadNames.end()) add(name, it->second);
    }
    for (const auto& [name, c] : m_.deadNames) add(name, c);
    ForEachCell([&](const KeyLine& k, const Cell& c) {
      if (!Composes(k.layout)) return;
      if (c.kind == Cell::kComposeKey) composeUsed_ = true;
      if (c.kind == Cell::kDeadNamed && !deadIndex_.count(c.name)) {
        report_.Error(c.pos, "no dead key named " + c.name + " (deadkey " + c.name + " CHAR ... defines one)");
      }
      // A raw byte (dead:0xNN) stands as it is: its value in the set is
      // the input, whatever that is.
      if (c.kind == Cell::kDead && !c.ch.raw && !DeadOfChar(c.ch.code)) add("", c.ch);
    });
    for (const Sequence& q : m_.sequences) composeUsed_ = composeUsed_ || q.start.kind == ComposeInput::kComposeKey;
  }

  std::optional<int> DeadOfChar(char32_t c) const {
    for (std::size_t i = 0; i < deadKeys_.size(); ++i) {
      if (!deadKeys_[i].second.raw && deadKeys_[i].second.code == c) return static_cast<int>(i);
    }
    return std::nullopt;
  }

  std::optional<char32_t> InputOfCell(const Cell& c) const {
    std::optional<int> n;
    if (c.kind == Cell::kComposeKey) return kComposeKeyInput;
    if (c.kind == Cell::kDeadNamed && deadIndex_.count(c.name)) n = deadIndex_.at(c.name);
    if (c.kind == Cell::kDead && !c.ch.raw) n = DeadOfChar(c.ch.code);
    if (!n) return std::nullopt;
    return kDeadKeyInputs + static_cast<char32_t>(*n);
  }

  // The input of a key of a sequence; nullopt (said) for an unknown dead key.
  std::optional<char32_t> InputOf(const ComposeInput& in) {
    if (in.kind == ComposeInput::kChar) return in.ch.code;
    if (in.kind == ComposeInput::kComposeKey) return kComposeKeyInput;
    const auto it = deadIndex_.find(in.name);
    if (it != deadIndex_.end()) return kDeadKeyInputs + static_cast<char32_t>(it->second);
    report_.Error(in.pos, "no dead key named " + in.name + " (deadkey " + in.name + " CHAR ... defines one)");
    return std::nullopt;
  }

  void Compositions() {
    if (!m_.rawCompositions.empty()) {
      const std::vector<std::uint8_t>& raw = m_.rawCompositions;
      if (raw.size() < kCompositionsHeaderSize || CompositionsLength(raw.data()) != raw.size()) {
        report_.Error(m_.rawCompositionsPos, "the composition-bytes are no whole composition table (its header "
                                             "gives its mark and length)");
      } else {
        d_.compositions = raw;
      }
      return;
    }
    if (!composing_) return;
    layoutkit::CompositionBuilder table;
    std::vector<std::uint32_t> stateOf;
    for (std::size_t n = 0; n < deadKeys_.size(); ++n) {
      stateOf.push_back(table.NewState());
      table.AddToState(0, kDeadKeyInputs + static_cast<char32_t>(n), stateOf.back());
    }
    std::uint32_t composeState = 0;
    if (composeUsed_) {
      composeState = table.NewState();
      table.AddToState(0, kComposeKeyInput, composeState);
    }
    // The named rows are sequences of one key after their dead key.
    std::vector<Sequence> all;
    for (const DeadRow& r : m_.deadRows) {
      if (r.name.empty()) continue;
      if (r.baseZero || r.resultZero || r.base.raw || r.result.raw || r.dead.raw) {
        report_.Error(r.pos, "where dead keys compose through the table of states, a pair is of characters: no "
                             "\"-\" and no raw bytes");
        continue;
      }
      Sequence q;
      q.start = {ComposeInput::kDead, {}, r.name, r.pos};
      q.inputs.push_back({ComposeInput::kChar, r.base, {}, r.pos});
      q.result.text.push_back(r.result);
      q.result.pos = r.pos;
      q.pos = r.pos;
      q.order = r.order;
      all.push_back(std::move(q));
    }
    all.insert(all.end(), m_.sequences.begin(), m_.sequences.end());
    SettleSequences(all, report_);
    for (const Sequence& q : all) {
      std::uint32_t state = composeState;
      if (q.start.kind == ComposeInput::kDead) {
        const auto it = deadIndex_.find(q.start.name);
        if (it == deadIndex_.end()) {
          report_.Error(q.start.pos, "no dead key named " + q.start.name + " (deadkey " + q.start.name +
                                         " CHAR ... defines one)");
          continue;
        }
        state = stateOf[static_cast<std::size_t>(it->second)];
      }
      bool ok = true;
      for (std::size_t i = 0; i + 1 < q.inputs.size() && ok; ++i) {
        const std::optional<char32_t> input = InputOf(q.inputs[i]);
        if (!input) {
          ok = false;
          break;
        }
        const auto* next = table.Find(state, *input);
        if (next != nullptr && next->text.empty()) {
          state = next->to;
        } else if (next == nullptr) {
          const std::uint32_t fresh = table.NewState();
          table.AddToState(state, *input, fresh);
          state = fresh;
        } else {
          ok = false;  // a text: SettleSequences left no such conflict
        }
      }
      const std::optional<char32_t> last = ok ? InputOf(q.inputs.back()) : std::nullopt;
      if (!last) continue;
      if (!q.result.dead.empty()) {
        const auto it = deadIndex_.find(q.result.dead);
        if (it == deadIndex_.end()) {
          report_.Error(q.result.pos, "no dead key named " + q.result.dead + " (deadkey " + q.result.dead +
                                          " CHAR ... defines one)");
          continue;
        }
        table.AddToState(state, *last, stateOf[static_cast<std::size_t>(it->second)]);
        continue;
      }
      std::u32string text;
      for (const Char& c : q.result.text) text += c.code;
      if (text.size() > kMaxTextLength) {
        report_.Error(q.result.pos, "a composition makes at most 255 characters; this one " +
                                        std::to_string(text.size()));
        continue;
      }
      table.AddToText(state, *last, text);
    }
    // Space after a dead key types its own character, unless said otherwise.
    for (std::size_t n = 0; n < deadKeys_.size(); ++n) {
      const Char& c = deadKeys_[n].second;
      if (c.raw || !IsCharacter(c.code) || table.Find(stateOf[n], U' ') != nullptr) continue;
      table.AddToText(stateOf[n], U' ', std::u32string(1, c.code));
    }
    // Layouts marked to compose with nothing to compose need no table.
    if (table.edges() == 0) return;
    std::string error;
    if (!table.Build(d_.compositions, error)) {
      const Pos at = !all.empty() ? all.front().pos : !m_.keys.empty() ? m_.keys.front().pos : Pos{};
      report_.Error(at, error + " (" + std::to_string(table.edges()) + " compositions, " +
                            std::to_string(table.states()) + " states)");
      d_.compositions.clear();
    }
  }

  // A key cell that types a dead key or a macro.
  struct Use {
    int layout = 0;
    std::uint8_t byte = 0;
    std::string name;
    std::tuple<int, int, int> at{};
    Pos pos() const { return Pos{std::get<0>(at), std::get<1>(at), std::get<2>(at)}; }
  };

  Model& m_;
  Reporter& report_;
  KeyboardDescription& d_;
  vkl::CharSet top_;  // of the macros and dead keys
  bool sharedOverflow_ = false;
  vkl::CharSet sets_[kLayouts];
  int entry_[kLayouts] = {-1, -1, -1, -1};  // of each Unicode layout's table
  std::map<int, unsigned> tableOf_;          // macro entry -> the layout whose table it holds
  std::map<int, std::vector<std::pair<std::uint8_t, Char>>> macroChars_;  // index -> bytes and characters
  bool rowWritten_[kDeadKeyRows] = {};
  std::vector<const DeadRow*> rows_;  // of the 256-row table
  bool composing_ = false;            // through the table of states
  bool composeUsed_ = false;
  std::vector<std::pair<std::string, Char>> deadKeys_;  // by input number: name ("" for dead:CHAR alone), character
  std::map<std::string, int> deadIndex_;
  std::set<std::uint8_t> deadBytes_;
  std::map<std::tuple<int, int, int>, Use> deadUses_;  // place of the cell -> use
  std::map<std::tuple<int, int, int>, Use> macroUses_;
};

}  // namespace

namespace {

// A sequence's keys as words that compare: its start, then each key.
std::vector<std::string> KeysOf(const Sequence& q) {
  const auto word = [](const ComposeInput& in) {
    switch (in.kind) {
      case ComposeInput::kChar:
        return "c" + std::to_string(static_cast<unsigned long>(in.ch.code));
      case ComposeInput::kDead:
        return "d" + in.name;
      case ComposeInput::kComposeKey:
        break;
    }
    return std::string("k");
  };
  std::vector<std::string> keys{word(q.start)};
  for (const ComposeInput& in : q.inputs) keys.push_back(word(in));
  return keys;
}

bool SameResult(const ComposeResult& a, const ComposeResult& b) {
  if (a.dead != b.dead || a.text.size() != b.text.size()) return false;
  for (std::size_t i = 0; i < a.text.size(); ++i) {
    if (a.text[i].code != b.text[i].code) return false;
  }
  return true;
}

}  // namespace

void SettleSequences(std::vector<Sequence>& sequences, Reporter& report) {
  std::stable_sort(sequences.begin(), sequences.end(),
                   [](const Sequence& a, const Sequence& b) { return a.order < b.order; });
  std::map<std::vector<std::string>, std::size_t> kept;  // keys -> index into `sequences`
  std::vector<bool> gone(sequences.size(), false);
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    const Sequence& q = sequences[i];
    const std::vector<std::string> keys = KeysOf(q);
    std::vector<std::map<std::vector<std::string>, std::size_t>::iterator> conflicts;
    // The same keys, longer ones these keys begin, and shorter ones that begin these.
    for (auto it = kept.lower_bound(keys);
         it != kept.end() && it->first.size() >= keys.size() && std::equal(keys.begin(), keys.end(), it->first.begin());
         ++it) {
      conflicts.push_back(it);
    }
    for (std::size_t n = 1; n < keys.size(); ++n) {
      const auto it = kept.find(std::vector<std::string>(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n)));
      if (it != kept.end()) conflicts.push_back(it);
    }
    const Sequence* sameFile = nullptr;
    for (const auto& it : conflicts) {
      const Sequence& other = sequences[it->second];
      if (other.pos.file == q.pos.file) sameFile = &other;
    }
    if (sameFile != nullptr) {
      gone[i] = true;
      const std::size_t theirs = sameFile->inputs.size(), ours = q.inputs.size();
      if (theirs == ours && SameResult(sameFile->result, q.result)) continue;
      const std::string line = std::to_string(sameFile->pos.line);
      report.Error(q.pos, theirs == ours  ? "the keys of line " + line + " again, with another result"
                          : theirs > ours ? "these keys begin the longer composition of line " + line +
                                                ": it could never be typed"
                                          : "the composition of line " + line +
                                                " is complete before these keys are: this one could never be typed");
      continue;
    }
    for (const auto& it : conflicts) {
      gone[it->second] = true;
      kept.erase(it);
    }
    kept[keys] = i;
  }
  std::vector<Sequence> settled;
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    if (!gone[i]) settled.push_back(std::move(sequences[i]));
  }
  sequences = std::move(settled);
}

void BuildVkl(Model& model, Reporter& report, KeyboardDescription& out) {
  Builder(model, report, out).Build();
}

}  // namespace compiler


namespace vkl {

namespace {

struct Column {
  std::uint8_t ch;
  bool dead, macro;
};

Column Get(const KeySlot& s, int col) {
  return {s.ch[col], (s.flags & DeadKeyFlag(col)) != 0, (s.flags & MacroFlag(col)) != 0};
}

void Set(KeySlot& s, int col, Column c) {
  s.ch[col] = c.ch;
  s.flags = static_cast<std::uint8_t>((s.flags & ~(DeadKeyFlag(col) | MacroFlag(col))) |
                                      (c.dead ? DeadKeyFlag(col) : 0) | (c.macro ? MacroFlag(col) : 0));
}

// Caps Lock acts as Shift: the plain character and the Shift one change places.
void SwapShift(KeySlot& s) {
  const Column plain = Get(s, 0), shifted = Get(s, 1);
  Set(s, 0, shifted);
  Set(s, 1, plain);
  Set(s, 2, plain);
}

}  // namespace

namespace {

struct CaseRun {
  char32_t first;  // the first capital
  int count, stride, delta;  // capitals first + i * stride; lower case = capital + delta
};

constexpr CaseRun kCaseRuns[] = {
#include "layoutkit/casepairs.inc"
};

}  // namespace

char32_t OtherCase(char32_t c) {
  for (const CaseRun& r : kCaseRuns) {
    for (const bool upper : {true, false}) {
      const long from = static_cast<long>(r.first) + (upper ? 0 : r.delta);
      const long offset = static_cast<long>(c) - from;
      if (offset < 0 || offset > static_cast<long>(r.count - 1) * r.stride) continue;
      if (r.stride == 0 ? offset != 0 : offset % r.stride != 0) continue;
      return static_cast<char32_t>(static_cast<long>(c) + (upper ? r.delta : -r.delta));
    }
  }
  return c;
}

char32_t UpperCase(char32_t c) {
  for (const CaseRun& r : kCaseRuns) {
    const long offset = static_cast<long>(c) - (static_cast<long>(r.first) + r.delta);
    if (offset < 0 || offset > static_cast<long>(r.count - 1) * r.stride) continue;
    if (r.stride == 0 ? offset != 0 : offset % r.stride != 0) continue;
    return static_cast<char32_t>(static_cast<long>(c) - r.delta);
  }
  return c;
}

CharSet CharSet::CodePage(int number, Kind kind) {
  CharSet set;
  set.kind = kind;
  set.codePage = number;
  return set;
}

char32_t CharSet::Char(std::uint8_t byte) const {
  if (!unicode()) return DecodeByte(codePage, byte);
  const char32_t c = table[byte];
  if (byte == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return c;
}

int CharSet::Byte(char32_t c) const {
  if (!unicode()) return EncodeChar(codePage, c);
  if (c == 0) return -1;
  for (int b = 1; b < 256; ++b) {
    if (table[b] == c) return b;
  }
  return -1;
}

std::uint8_t CharSet::SwapCase(std::uint8_t byte) const {
  if (!unicode()) return SwapCaseByte(codePage, byte);
  const char32_t c = Char(byte);
  const int other = c == 0 ? -1 : Byte(OtherCase(c));
  return other < 0 ? byte : static_cast<std::uint8_t>(other);
}

CharSet LayoutCharSet(const KeyboardDescription& d, unsigned layout) {
  const LayoutRecord& r = d.layouts[layout % kLayouts];
  const CharSetHeader h = HeaderOf(r);
  switch (CharSetOf(r)) {
    case CharSetKind::kCodePage:
      return CharSet::CodePage(h.codePage);
    case CharSetKind::kUnicode: {
      CharSet set;
      set.kind = CharSet::Kind::kUnicode;
      set.codePage = kUnicodeCodePageId;
      const auto* table = reinterpret_cast<const std::uint8_t*>(&d.macros.entries[h.tableEntry]);
      for (int b = 0; b < 256; ++b) {
        set.table[b] = table[3 * b] | static_cast<char32_t>(table[3 * b + 1]) << 8 |
                       static_cast<char32_t>(table[3 * b + 2]) << 16;
      }
      return set;
    }
    case CharSetKind::kNone:
      break;
  }
  return CharSet::CodePage(LayoutCodePage(d, layout), CharSet::Kind::kAnsi);
}

std::vector<ChordProblem> CheckChords(const std::vector<std::uint8_t>& text, const CharSet& set) {
  std::vector<ChordProblem> problems;
  auto shown = [&set](std::string_view name) {
    std::string out;
    for (const char c : name) {
      const char32_t u = set.Char(static_cast<std::uint8_t>(c));
      if (u < 0x20 || u == 0x7F) {
        out += "\\x" + Hex(static_cast<std::uint8_t>(c), 2);
      } else {
        AppendUtf8(out, u);
      }
    }
    return out;
  };
  const auto byteAt = [&text](std::size_t i) { return static_cast<char32_t>(text[i]); };
  for (std::size_t open = 0; open < text.size(); ++open) {
    if (text[open] != '{') continue;
    std::size_t keys = 0;
    // A name of one character is the key that types it, which only the
    // system's layout at playback knows.
    const ChordScan chord = ScanChord(byteAt, open, text.size(), true, [&](const ChordKeyName& name) {
      if (name.end == 0) return;  // the text ended inside the chord: said below
      ++keys;
      if (name.kept == 0) {
        problems.push_back({name.at, "empty key name in a chord"});
      } else if (name.kept > 1 && LookupKeyName(name.text) == 0) {
        problems.push_back({name.at, "unknown key name \"" + shown({name.text, name.kept}) + "\" in a chord"});
      }
    });
    if (!chord.closed) {
      problems.push_back({open, "missing \"}\" at the end of the chord"});
      break;
    }
    if (keys > kMaxChordKeys) {
      problems.push_back({open, "a chord of " + std::to_string(keys) + " keys; a chord holds at most 16"});
    }
    open = chord.next - 1;
  }
  return problems;
}

KeyRecord DeriveCaps(const KeyRecord& plain, CapsMode mode, const CharSet& set) {
  if (mode == CapsMode::kNone) return KeyRecord{};
  KeyRecord caps = plain;
  if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotPlain]);
  if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotRightAlt]);
  if (mode == CapsMode::kLetters) {
    for (KeySlot& s : caps.slots) {
      for (int col = 0; col < 3; ++col) {
        if ((s.flags & (DeadKeyFlag(col) | MacroFlag(col))) == 0) s.ch[col] = set.SwapCase(s.ch[col]);
      }
    }
  }
  return caps;
}

}  // namespace vkl

namespace {

using compiler::Model;
using compiler::Reporter;

bool Compile(KeyboardDescription& out, Diagnostics& diags,
             const std::function<void(Model&, Reporter&)>& parse) {
  Model model;
  Reporter report(diags);
  parse(model, report);
  KeyboardDescription d;
  d.options = OptionBlock{};
  compiler::BuildVkl(model, report, d);
  if (diags.HasErrors()) return false;
  out = d;
  return true;
}

}  // namespace

bool CompileVklText(std::string_view text, const std::string& fileName, KeyboardDescription& out,
                    Diagnostics& diags) {
  return Compile(out, diags, [&](Model& m, Reporter& r) { compiler::ParseVklText(text, fileName, m, r); });
}

bool CompileVklFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags) {
  return Compile(out, diags, [&](Model& m, Reporter& r) { compiler::ParseVklFile(path, m, r); });
}

bool LoadDescriptionFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags) {
  if (path.size() >= 4 && Lower(path.substr(path.size() - 4)) == ".vkb") return ReadVkb(path, out, diags);
  return CompileVklFile(path, out, diags);
}

}  // namespace velto::layoutkit
